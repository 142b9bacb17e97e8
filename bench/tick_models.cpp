// Tick cost per model: networks of one neuron model each, driven by constant
// stimulations to ongoing spiking, in ns per neuron-tick; a network of LIF
// neurons joined by plastic synapses under a channel-0 level outside the
// dead band, in ns per synapse-tick (the whole tick divided by the synapses);
// and a mixed network (a quarter HH with RK4) in ms per tick. Times are the
// thread's CPU time, which other load on the machine disturbs less.
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

#include "core/engine/sim_engine.hpp"

namespace {

using vorn::SimEngine;
using vorn::Uuid;

constexpr int kWarmup = 20;

Uuid id_from(std::uint64_t hi, std::uint64_t lo) {
    Uuid u;
    for (int b = 0; b < 8; ++b) {
        u.bytes[b] = static_cast<std::uint8_t>(hi >> (56 - 8 * b));
        u.bytes[8 + b] = static_cast<std::uint8_t>(lo >> (56 - 8 * b));
    }
    return u;
}

const vorn::HhConfig kHhRk4{
    1.0f, 120.0f, 36.0f, 0.3f, 50.0f, -77.0f, -54.4f, -65.0f, 0.0f, 2.0f, vorn::Integrator::Rk4};
const vorn::IzhikevichConfig kIzhikevich{0.02f, 0.2f, -65.0f, 8.0f, 30.0f};
const vorn::AdExConfig kAdEx{20.0f, 1.0f, -70.0f, -50.0f, 2.0f, 0.0f, -58.0f, 100.0f, 0.1f, 2.0f};

vorn::HhConfig hh_euler() {
    vorn::HhConfig c = kHhRk4;
    c.integrator = vorn::Integrator::Euler;
    return c;
}

vorn::PlasticSynapseConfig plastic() {
    return {0.0f,    1.0f, 1.0f, 0.01f, 0.012f, 20.0f, 20.0f,   500.0f,
            2000.0f, 0.1f, 0.1f, 1.0f,  5.0f,   0.01f, 1000.0f, 0.5f};
}

// Neurons [0, n) of the given config, each stimulated with a constant
// current drawn uniformly from [0, max_current].
template <class Config>
void add_stimulated(SimEngine& e, std::mt19937_64& rng, std::uint64_t first, std::uint64_t n,
                    const Config& config, double max_current) {
    std::uniform_real_distribution<double> current(0.0, max_current);
    for (std::uint64_t i = first; i < first + n; ++i) {
        e.add_neuron(id_from(0, i), config);
        e.stimulate(id_from(0, i), static_cast<float>(current(rng)), 1e9f);
    }
}

// Edges on random ordered pairs of [0, n) with probability p, each plastic
// with probability plastic_share (else STDP).
void add_edges(SimEngine& e, std::mt19937_64& rng, std::uint64_t n, double p,
               double plastic_share) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (std::uint64_t i = 0; i < n; ++i) {
        for (std::uint64_t j = 0; j < n; ++j) {
            if (i == j || !(unit(rng) < p))
                continue;
            auto weight = static_cast<float>(0.2 + 0.3 * unit(rng));
            vorn::SynapseConfig config = vorn::StdpConfig{};
            if (unit(rng) < plastic_share)
                config = plastic();
            e.add_edge(id_from(1, i * n + j), id_from(0, i), id_from(0, j), config, weight);
        }
    }
}

struct Timing {
    double ns_per_tick;
    double spikes_per_neuron_tick;
};

double cpu_ns() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

Timing time_ticks(SimEngine& e, int ticks) {
    std::vector<vorn::SpikeEvent> spikes;
    for (int t = 0; t < kWarmup; ++t) {
        spikes.clear();
        e.tick_into(1.0f, spikes);
    }
    std::size_t count = 0;
    const double start = cpu_ns();
    for (int t = 0; t < ticks; ++t) {
        spikes.clear();
        e.tick_into(1.0f, spikes);
        count += spikes.size();
    }
    const double ns = cpu_ns() - start;
    return {ns / ticks, static_cast<double>(count) /
                            (static_cast<double>(ticks) * static_cast<double>(e.n_neurons()))};
}

template <class Config>
void neuron_figure(const char* key, const Config& config, std::uint64_t n, double max_current,
                   int ticks) {
    SimEngine e;
    std::mt19937_64 rng(7);
    add_stimulated(e, rng, 0, n, config, max_current);
    Timing t = time_ticks(e, ticks);
    std::printf("%s_neuron_tick_ns=%.2f\n", key, t.ns_per_tick / static_cast<double>(n));
    std::printf("%s_spike_fraction_per_tick=%.4f\n", key, t.spikes_per_neuron_tick);
}

}  // namespace

int main() {
    neuron_figure("lif", vorn::LifConfig{}, 10000, 30.0, 400);
    neuron_figure("hh_rk4", kHhRk4, 1000, 20.0, 100);
    neuron_figure("hh_euler", hh_euler(), 1000, 20.0, 100);
    neuron_figure("izhikevich", kIzhikevich, 10000, 15.0, 400);
    neuron_figure("adex", kAdEx, 10000, 40.0, 400);

    {
        SimEngine e;
        std::mt19937_64 rng(11);
        add_stimulated(e, rng, 0, 2000, vorn::LifConfig{}, 30.0);
        add_edges(e, rng, 2000, 0.05, 1.0);
        e.set_base_level(0, 0.3f);
        Timing t = time_ticks(e, 200);
        std::printf("plastic_synapses=%zu\n", e.n_synapses());
        std::printf("plastic_synapse_tick_ns=%.3f\n",
                    t.ns_per_tick / static_cast<double>(e.n_synapses()));
    }
    {
        // 1000 each of HH (RK4), LIF, Izhikevich and AdEx; a third of the
        // synapses plastic.
        SimEngine e;
        std::mt19937_64 rng(13);
        add_stimulated(e, rng, 0, 1000, kHhRk4, 20.0);
        add_stimulated(e, rng, 1000, 1000, vorn::LifConfig{}, 30.0);
        add_stimulated(e, rng, 2000, 1000, kIzhikevich, 15.0);
        add_stimulated(e, rng, 3000, 1000, kAdEx, 40.0);
        add_edges(e, rng, 4000, 0.01, 0.33);
        e.set_base_level(0, 0.3f);
        Timing t = time_ticks(e, 100);
        std::printf("mixed_neurons=%zu\n", e.n_neurons());
        std::printf("mixed_synapses=%zu\n", e.n_synapses());
        std::printf("mixed_tick_ms=%.4f\n", t.ns_per_tick / 1e6);
        std::printf("mixed_spike_fraction_per_tick=%.4f\n", t.spikes_per_neuron_tick);
    }
    return 0;
}
