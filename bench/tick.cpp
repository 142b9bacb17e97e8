// Tick throughput on the reference network: time per synapse-tick and per
// neuron-tick over timed ticks after warm-up ticks, on one thread, on two,
// and with delays of 1 to 20 ms.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "bench/reference_network.hpp"

namespace {

struct Timing {
    double wall_ns;
    double cpu_ns;  // of the calling thread
    std::size_t spikes;
};

double thread_cpu_ns() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

Timing time_ticks(vorn::SimEngine& engine, long ticks, long warmup) {
    for (long t = 0; t < warmup; ++t)
        engine.step(1.0f);
    std::size_t spikes = 0;
    const double cpu_start = thread_cpu_ns();
    const auto start = std::chrono::steady_clock::now();
    for (long t = 0; t < ticks; ++t) {
        engine.step(1.0f);
        spikes += engine.last_spikes().size();
    }
    const auto end = std::chrono::steady_clock::now();
    return {std::chrono::duration<double, std::nano>(end - start).count(),
            thread_cpu_ns() - cpu_start, spikes};
}

}  // namespace

int main(int argc, char** argv) {
    long ticks = 1000;
    long warmup = 100;
    for (int a = 1; a + 1 < argc; a += 2) {
        if (std::strcmp(argv[a], "--ticks") == 0)
            ticks = std::atol(argv[a + 1]);
        else if (std::strcmp(argv[a], "--warmup") == 0)
            warmup = std::atol(argv[a + 1]);
    }
    if (ticks <= 0 || warmup < 0) {
        std::fprintf(stderr, "usage: bench_tick [--ticks T] [--warmup W]\n");
        return 2;
    }

    vorn::SimEngine engine;
    const auto build_start = std::chrono::steady_clock::now();
    vorn::bench::build_reference_network(engine);
    const auto build_end = std::chrono::steady_clock::now();
    const Timing one = time_ticks(engine, ticks, warmup);

    const double n_ticks = static_cast<double>(ticks);
    const double neurons = static_cast<double>(engine.n_neurons());
    const double synapses = static_cast<double>(engine.n_synapses());
    std::printf("neurons=%zu\n", engine.n_neurons());
    std::printf("synapses=%zu\n", engine.n_synapses());
    std::printf("build_s=%.3f\n", std::chrono::duration<double>(build_end - build_start).count());
    std::printf("tick_ms=%.4f\n", one.wall_ns / n_ticks / 1e6);
    // CPU time of this thread: less sensitive to other load on the machine.
    std::printf("cpu_tick_ms=%.4f\n", one.cpu_ns / n_ticks / 1e6);
    std::printf("synapse_tick_ns=%.4f\n", one.wall_ns / (n_ticks * synapses));
    std::printf("neuron_tick_ns=%.4f\n", one.wall_ns / (n_ticks * neurons));
    std::printf("spike_fraction_per_tick=%.5f\n",
                static_cast<double>(one.spikes) / (n_ticks * neurons));

    // The same network continued on two threads (wall time: both count).
    engine.set_threads(2);
    const Timing two = time_ticks(engine, ticks, warmup / 10);
    std::printf("synapse_tick_2threads_ns=%.4f\n", two.wall_ns / (n_ticks * synapses));

    vorn::SimEngine delayed;
    vorn::bench::build_reference_network(delayed, vorn::bench::kReferenceNeurons, true);
    const Timing d = time_ticks(delayed, ticks, warmup);
    const double delay_ns = d.wall_ns / (n_ticks * synapses);
    std::printf("delay_tick_ns=%.4f\n", delay_ns);
    std::printf("delay_over_synapse_tick=%.3f\n", delay_ns / (one.wall_ns / (n_ticks * synapses)));
    std::printf("delay_spike_fraction_per_tick=%.5f\n",
                static_cast<double>(d.spikes) / (n_ticks * neurons));
    return 0;
}
