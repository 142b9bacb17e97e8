// Generation speed of the seed generators: ring edges per second and random
// decision draws per second, each the best of three runs on one core.

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "core/seeds/generators.hpp"

namespace {

// Best wall time of generate() over several runs. The seed is freed after the
// clock stops: releasing memory is not part of generating it.
template <typename Generate>
double best_seconds(int runs, std::size_t& edges, Generate&& generate) {
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        auto seed = generate();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (!seed) {
            std::fprintf(stderr, "generation failed: %s\n", seed.error().message().c_str());
            std::exit(1);
        }
        edges = seed->edges.size();
        if (elapsed.count() < best)
            best = elapsed.count();
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

    std::size_t ring_edges = 0;
    const double ring_s =
        best_seconds(kRuns, ring_edges, [] { return vorn::ring(kRingNodes, kRingDegree, 1, {}); });

    std::size_t random_edges = 0;
    const double random_s = best_seconds(
        kRuns, random_edges, [] { return vorn::random(kRandomNodes, kRandomP, 1, {}); });
    const double draws = static_cast<double>(kRandomNodes) * static_cast<double>(kRandomNodes - 1);

    std::printf("ring_edges=%zu\n", ring_edges);
    std::printf("ring_seconds=%.4f\n", ring_s);
    std::printf("ring_edges_per_s=%.0f\n", static_cast<double>(ring_edges) / ring_s);
    std::printf("random_edges=%zu\n", random_edges);
    std::printf("random_seconds=%.4f\n", random_s);
    std::printf("random_draws_per_s=%.0f\n", draws / random_s);
    return 0;
}
