// The tick shared by worker threads: a network big enough that every phase
// runs on the pool, with delays, noise, every synapse kind and edits between
// runs, gives the same bits as one thread. Run under ThreadSanitizer by
// `make test-tsan`.
#include <gtest/gtest.h>

#include <random>

#include "core/engine/sim_engine.hpp"

namespace vorn {
namespace {

Uuid id_of(std::uint64_t n) {
    Uuid u;
    for (int b = 0; b < 8; ++b)
        u.bytes[8 + b] = static_cast<std::uint8_t>(n >> (56 - 8 * b));
    return u;
}

void build(SimEngine& e) {
    std::mt19937_64 rng(7);
    const std::size_t n = 600;
    for (std::size_t i = 0; i < n; ++i) {
        const NeuronConfig c =
            i % 9 == 4 ? NeuronConfig{IzhikevichConfig{0.02f, 0.2f, -65.0f, 8.0f, 30.0f}}
                       : NeuronConfig{LifConfig{}};
        e.add_neuron(id_of(i), c);
    }
    std::vector<std::int64_t> pre, post;
    std::vector<double> weight, delay;
    for (std::size_t k = 0; k < 24000; ++k) {
        pre.push_back(static_cast<std::int64_t>(rng() % n));
        post.push_back(static_cast<std::int64_t>(rng() % n));
        weight.push_back(static_cast<double>(rng() % 1000) / 1000.0);
        delay.push_back(static_cast<double>(1 + rng() % 4));
    }
    StdpConfig stdp;
    stdp.g_syn = 6.0f;
    ASSERT_TRUE(e.add_edges({pre, post, weight, delay, false, false, stdp}));
    std::vector<std::int64_t> inh_pre(pre.begin(), pre.begin() + 3000);
    std::vector<std::int64_t> inh_post(post.rbegin(), post.rbegin() + 3000);
    const double w = -2.0;
    const double d = 1.0;
    ASSERT_TRUE(e.add_edges({inh_pre, inh_post, {&w, 1}, {&d, 1}, true, true, StaticConfig{}}));
    std::vector<std::int64_t> all(n);
    for (std::size_t i = 0; i < n; ++i)
        all[i] = static_cast<std::int64_t>(i);
    ASSERT_TRUE(e.add_poisson_input(all, 900.0, 4.0f, 3));
    for (std::size_t i = 0; i < n; i += 3)
        e.stimulate(id_of(i), 12.0f, 1e9f);
}

TEST(ParallelTick, SameBitsAsOneThread) {
    SimEngine one;
    SimEngine many;
    build(one);
    build(many);
    many.set_threads(3);
    many.set_min_parallel_work(0.0);
    std::size_t spikes = 0;
    for (int round = 0; round < 3; ++round) {
        for (int t = 0; t < 40; ++t) {
            const float dt = round == 1 ? 0.5f : 1.0f;
            one.step(dt);
            many.step(dt);
            ASSERT_EQ(one.last_spikes(), many.last_spikes()) << "round " << round << " tick " << t;
            spikes += one.last_spikes().size();
        }
        // Edits between runs: the layout is rebuilt with spikes in flight.
        one.add_edge(id_of(100000 + round), id_of(1), id_of(2 + round), StdpConfig{}, 0.5f, 2.0f);
        many.add_edge(id_of(100000 + round), id_of(1), id_of(2 + round), StdpConfig{}, 0.5f, 2.0f);
    }
    EXPECT_GT(spikes, 1000u);
    EXPECT_EQ(one.weights(), many.weights());
    EXPECT_EQ(one.all_node_params(), many.all_node_params());
}

}  // namespace
}  // namespace vorn
