// Generation speed of the seed generators on one core: ring edges per second
// and random decision draws per second, each the best of three runs.
// Rates use the calling thread's CPU time (user and kernel, so page faults on
// the fresh lists count), which a busy shared machine does not inflate the way
// it inflates wall time; the wall times are printed beside them.

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "core/seeds/generators.hpp"

namespace {

double thread_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Timing {
    double cpu_s = 1e300;
    double wall_s = 1e300;
    std::size_t edges = 0;
};

// Best times of generate() over several runs. The seed is freed after the
// clocks stop: releasing memory is not part of generating it.
template <typename Generate>
Timing best_of(int runs, Generate&& generate) {
    Timing best;
    for (int r = 0; r < runs; ++r) {
        const auto wall_start = std::chrono::steady_clock::now();
        const double cpu_start = thread_cpu_seconds();
        auto seed = generate();
        const double cpu = thread_cpu_seconds() - cpu_start;
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wall_start;
        if (!seed) {
            std::fprintf(stderr, "generation failed: %s\n", seed.error().message().c_str());
            std::exit(1);
        }
        best.edges = seed->edges.size();
        best.cpu_s = std::min(best.cpu_s, cpu);
        best.wall_s = std::min(best.wall_s, wall.count());
    }
    return best;
}

}  // namespace

int main() {
    constexpr std::uint64_t kRingNodes = 1'000'000;
    constexpr std::uint64_t kRingDegree = 5;
    constexpr std::uint64_t kRandomNodes = 3000;
    constexpr float kRandomP = 0.01f;
    constexpr int kRuns = 3;

    const Timing ring = best_of(kRuns, [] { return vorn::ring(kRingNodes, kRingDegree, 1, {}); });
    const Timing random =
        best_of(kRuns, [] { return vorn::random(kRandomNodes, kRandomP, 1, {}); });
    const double draws = static_cast<double>(kRandomNodes) * static_cast<double>(kRandomNodes - 1);

    std::printf("ring_edges=%zu\n", ring.edges);
    std::printf("ring_cpu_seconds=%.4f\n", ring.cpu_s);
    std::printf("ring_wall_seconds=%.4f\n", ring.wall_s);
    std::printf("ring_edges_per_s=%.0f\n", static_cast<double>(ring.edges) / ring.cpu_s);
    std::printf("random_edges=%zu\n", random.edges);
    std::printf("random_cpu_seconds=%.4f\n", random.cpu_s);
    std::printf("random_wall_seconds=%.4f\n", random.wall_s);
    std::printf("random_draws_per_s=%.0f\n", draws / random.cpu_s);
    return 0;
}
