// Tick throughput on the reference network: time per synapse-tick and per
// neuron-tick over timed ticks after warm-up ticks.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "bench/reference_network.hpp"

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
    auto build_start = std::chrono::steady_clock::now();
    vorn::bench::build_reference_network(engine);
    auto build_end = std::chrono::steady_clock::now();

    std::vector<vorn::SpikeEvent> spikes;
    for (long t = 0; t < warmup; ++t) {
        spikes.clear();
        engine.tick_into(1.0f, spikes);
    }
    std::size_t spike_count = 0;
    auto cpu_now = [] {
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
    };
    double cpu_start = cpu_now();
    auto start = std::chrono::steady_clock::now();
    for (long t = 0; t < ticks; ++t) {
        spikes.clear();
        engine.tick_into(1.0f, spikes);
        spike_count += spikes.size();
    }
    auto end = std::chrono::steady_clock::now();
    double cpu_ns = cpu_now() - cpu_start;

    double total_ns = std::chrono::duration<double, std::nano>(end - start).count();
    double n_ticks = static_cast<double>(ticks);
    double neurons = static_cast<double>(engine.n_neurons());
    double synapses = static_cast<double>(engine.n_synapses());
    std::printf("neurons=%zu\n", engine.n_neurons());
    std::printf("synapses=%zu\n", engine.n_synapses());
    std::printf("build_s=%.3f\n", std::chrono::duration<double>(build_end - build_start).count());
    std::printf("tick_ms=%.4f\n", total_ns / n_ticks / 1e6);
    // CPU time of this thread: less sensitive to other load on the machine.
    std::printf("cpu_tick_ms=%.4f\n", cpu_ns / n_ticks / 1e6);
    std::printf("synapse_tick_ns=%.4f\n", total_ns / (n_ticks * synapses));
    std::printf("neuron_tick_ns=%.4f\n", total_ns / (n_ticks * neurons));
    std::printf("spike_fraction_per_tick=%.5f\n",
                static_cast<double>(spike_count) / (n_ticks * neurons));
    return 0;
}
