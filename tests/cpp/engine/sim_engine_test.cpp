#include "core/engine/sim_engine.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "core/models/decay.hpp"
#include "core/models/lif_neuron.hpp"

namespace vorn {
namespace {

Uuid id_of(std::uint8_t hi, std::uint8_t lo) {
    Uuid u;
    u.bytes[0] = hi;
    u.bytes[15] = lo;
    return u;
}
Uuid node(std::uint8_t n) {
    return id_of(0, n);
}
Uuid edge(std::uint8_t n) {
    return id_of(1, n);
}

double param(const SimEngine& e, const Uuid& id, const char* key) {
    return e.node_params(id)->as_object().find(key)->to_double();
}
double syn_param(const SimEngine& e, const Uuid& id, const char* key) {
    return e.synapse_params(id)->as_object().find(key)->to_double();
}

// Puts a neuron above threshold so that it spikes on the next tick.
void arm(SimEngine& e, const Uuid& id) {
    ASSERT_TRUE(e.set_node_param(id, "v", JsonValue::number(50)));
}

TEST(SimEngine, ClockAdvancesAndStampsSpikes) {
    SimEngine e;
    EXPECT_TRUE(e.tick(1.0f).empty());
    EXPECT_EQ(e.t_ms(), 1.0);
    e.add_neuron(node(1), LifConfig{});
    arm(e, node(1));
    auto spikes = e.tick(0.5f);
    ASSERT_EQ(spikes.size(), 1u);
    EXPECT_EQ(spikes[0].id, node(1));
    EXPECT_EQ(spikes[0].t_ms, 1.5);
    for (int i = 0; i < 98; ++i)
        e.tick(1.0f);
    EXPECT_EQ(e.t_ms(), 99.5);
    e.tick(0.0f);
    EXPECT_EQ(e.t_ms(), 99.5);
}

TEST(SimEngine, AddNeuronKeepsTheFirstAndInsertionOrder) {
    SimEngine e;
    for (std::uint8_t n : {5, 2, 9, 2})
        e.add_neuron(node(n), LifConfig{});
    ASSERT_TRUE(e.set_node_param(node(2), "tau_m", JsonValue::number(7)));
    e.add_neuron(node(2), LifConfig{});
    EXPECT_EQ(param(e, node(2), "tau_m"), 7.0);
    EXPECT_EQ(e.n_neurons(), 3u);
    EXPECT_EQ(e.node_ids(), (std::vector<Uuid>{node(5), node(2), node(9)}));
    auto all = e.all_node_params();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].first, node(2));
    EXPECT_EQ(all[1].second, *e.node_params(node(2)));
    EXPECT_FALSE(e.node_params(node(77)));

    // Spikes of one tick come in insertion order too.
    for (std::uint8_t n : {9, 5, 2})
        arm(e, node(n));
    auto spikes = e.tick(1.0f);
    ASSERT_EQ(spikes.size(), 3u);
    EXPECT_EQ(spikes[0].id, node(5));
    EXPECT_EQ(spikes[2].id, node(9));
}

TEST(SimEngine, AddEdgeRules) {
    SimEngine e;
    e.add_edge(edge(1), node(1), node(1), StdpConfig{}, 0.5f);
    EXPECT_EQ(e.n_synapses(), 0u);
    EXPECT_EQ(e.n_neurons(), 0u);

    // Unknown endpoints become default LIF neurons.
    e.add_edge(edge(1), node(1), node(2), StdpConfig{}, 0.5f);
    EXPECT_EQ(e.n_neurons(), 2u);
    EXPECT_EQ(*e.node_params(node(2)), LifNeuron(node(2)).snapshot());

    // A connected pair keeps its first synapse; the reverse pair is new.
    e.add_edge(edge(2), node(1), node(2), StdpConfig{}, 0.9f);
    EXPECT_EQ(e.n_synapses(), 1u);
    EXPECT_FALSE(e.synapse_params(edge(2)));
    EXPECT_EQ(syn_param(e, edge(1), "weight"), 0.5);
    e.add_edge(edge(3), node(2), node(1), StdpConfig{}, 1.7f);
    EXPECT_EQ(e.n_synapses(), 2u);
    EXPECT_EQ(e.synapse_weight(1), 1.0f);

    // A reused edge id makes a second synapse; lookups reach the first.
    e.add_edge(edge(1), node(2), node(3), StdpConfig{}, 0.25f);
    EXPECT_EQ(e.n_synapses(), 3u);
    EXPECT_EQ(e.synapse_id(2), edge(1));
    ASSERT_TRUE(e.set_synapse_param(edge(1), "weight", JsonValue::number(0.75)));
    EXPECT_EQ(e.synapse_weight(0), 0.75f);
    EXPECT_EQ(e.synapse_weight(2), 0.25f);
    auto all = e.all_synapse_params();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[2].second.as_object().find("pre_id")->as_string(), node(2).to_string());
    EXPECT_EQ(all[2].second.as_object().find("weight")->to_double(), 0.25);
}

TEST(SimEngine, UnknownIdsInParameterWrites) {
    SimEngine e;
    auto n = e.set_node_param(node(4), "v", JsonValue::number(1));
    EXPECT_EQ(n.error().message(),
              "unknown parameter 'node " + node(4).to_string() + " (not in engine)'");
    auto s = e.set_synapse_param(edge(4), "weight", JsonValue::number(1));
    EXPECT_EQ(s.error().message(),
              "unknown parameter 'synapse " + edge(4).to_string() + " (not in engine)'");
    e.add_edge(edge(4), node(1), node(2), StdpConfig{}, 0.5f);
    EXPECT_EQ(e.set_synapse_param(edge(4), "post_id", JsonValue::string("x")).error().kind,
              ParamError::Kind::NotSettable);
    EXPECT_EQ(e.set_node_param(node(1), "id", JsonValue::string("x")).error().message(),
              "unknown parameter 'id'");
}

TEST(SimEngine, SpikeReachesTheTargetOneTickLater) {
    SimEngine e;
    e.add_edge(edge(1), node(1), node(2), StdpConfig{}, 0.7f);
    arm(e, node(1));
    ASSERT_EQ(e.tick(1.0f).size(), 1u);
    EXPECT_EQ(param(e, node(2), "epsc"), 0.0);
    EXPECT_EQ(param(e, node(2), "v"), -65.0);
    e.tick(1.0f);
    const float delivered = 0.7f * 80.0f;
    EXPECT_EQ(delivered, 56.0f);
    LifNeuron expect(node(2));
    expect.advance(1.0f, 0.0f, decay_factor(1.0f, 5.0f));
    expect.advance(1.0f, delivered, decay_factor(1.0f, 5.0f));
    EXPECT_EQ(*e.node_params(node(2)), expect.snapshot());
    // A pre spike alone leaves the weight and raises the pre trace.
    EXPECT_EQ(e.synapse_weight(0), 0.7f);
    EXPECT_EQ(syn_param(e, edge(1), "pre_trace"), static_cast<double>(std::exp(-1.0f / 20.0f)));
}

TEST(SimEngine, WeightWrittenBetweenTicksIsWhatTheSpikeDelivers) {
    SimEngine e;
    e.add_edge(edge(1), node(1), node(2), StdpConfig{}, 0.7f);
    arm(e, node(1));
    e.tick(1.0f);
    ASSERT_TRUE(e.set_synapse_param(edge(1), "g_syn", JsonValue::number(10)));
    // An edge added after the spike delivers on the next tick as well.
    e.add_edge(edge(2), node(1), node(3), StdpConfig{}, 0.5f);
    e.tick(1.0f);
    EXPECT_EQ(param(e, node(2), "epsc"), static_cast<double>(7.0f * decay_factor(1.0f, 5.0f)));
    EXPECT_EQ(param(e, node(3), "epsc"), static_cast<double>(40.0f * decay_factor(1.0f, 5.0f)));
}

// The engine's neuron against a lone copy fed the expected input per tick.
void expect_inputs(SimEngine& e, LifNeuron& lone, const std::vector<float>& inputs) {
    const Uuid id = lone.id();
    for (std::size_t t = 0; t < inputs.size(); ++t) {
        e.tick(1.0f);
        lone.advance(1.0f, inputs[t], decay_factor(1.0f, 5.0f));
        ASSERT_EQ(*e.node_params(id), lone.snapshot()) << "tick " << t;
    }
}

TEST(SimEngine, StimulationExpiresBeforeItIsApplied) {
    SimEngine e;
    e.add_neuron(node(1), LifConfig{});
    LifNeuron lone(node(1));
    e.stimulate(node(1), 0.5f, 20.0f);
    std::vector<float> inputs(25, 0.0f);
    std::fill(inputs.begin(), inputs.begin() + 19, 0.5f);
    expect_inputs(e, lone, inputs);

    e.stimulate(node(1), 0.5f, 1.0f);  // duration <= dt: no input at all
    expect_inputs(e, lone, {0.0f, 0.0f});
}

TEST(SimEngine, RestimulationReplacesAndUnknownNodesAreIgnored) {
    SimEngine e;
    e.stimulate(node(1), 0.5f, 100.0f);
    e.add_neuron(node(1), LifConfig{});
    LifNeuron lone(node(1));
    expect_inputs(e, lone, {0.0f, 0.0f});

    e.stimulate(node(1), 0.5f, 100.0f);
    expect_inputs(e, lone, {0.5f, 0.5f, 0.5f});
    e.stimulate(node(1), 0.25f, 4.0f);
    expect_inputs(e, lone, {0.25f, 0.25f, 0.25f, 0.0f, 0.0f});
}

TEST(SimEngine, StimulationsOfSeveralNeuronsExpireIndependently) {
    SimEngine e;
    for (std::uint8_t n = 1; n <= 4; ++n) {
        e.add_neuron(node(n), LifConfig{});
        e.stimulate(node(n), 0.25f * n, 1.0f + n);
    }
    // Neuron n gets input on n ticks; removals must not disturb the others.
    std::vector<LifNeuron> lone;
    for (std::uint8_t n = 1; n <= 4; ++n)
        lone.emplace_back(node(n));
    for (int t = 0; t < 6; ++t) {
        e.tick(1.0f);
        for (std::uint8_t n = 1; n <= 4; ++n) {
            float in = t < n ? 0.25f * n : 0.0f;
            lone[n - 1].advance(1.0f, in, decay_factor(1.0f, 5.0f));
            ASSERT_EQ(*e.node_params(node(n)), lone[n - 1].snapshot()) << t << " " << int(n);
        }
    }
    // A NaN step removes every stimulation.
    e.stimulate(node(1), 0.5f, 100.0f);
    e.tick(std::nanf(""));
    EXPECT_TRUE(std::isnan(e.t_ms()));
}

TEST(SimEngine, ModulatorPulsesDecayAndFeedTheLevels) {
    SimEngine e;
    EXPECT_EQ(e.modulator_levels(), (std::array<float, 4>{}));
    e.set_base_level(1, 0.5f);
    e.set_base_level(9, 3.0f);  // no such channel
    e.add_modulator_pulse({1.0f, 10.0f, 0});
    e.add_modulator_pulse({2.0f, 10.0f, 7});           // channel 3
    e.add_modulator_pulse({5.0f, 0.0f, 0});            // tau <= 0: removed unused
    e.add_modulator_pulse({1e-6f, 1e9f, 2});           // at the floor: removed
    e.add_modulator_pulse({std::nanf(""), 10.0f, 2});  // NaN: removed
    e.add_modulator_pulse({-0.5f, 10.0f, 0});
    e.tick(1.0f);
    float d = decay_factor(1.0f, 10.0f);
    auto levels = e.modulator_levels();
    EXPECT_EQ(levels[0], (0.0f + 1.0f * d) + -0.5f * d);
    EXPECT_EQ(levels[1], 0.5f);
    EXPECT_EQ(levels[2], 0.0f);
    EXPECT_EQ(levels[3], 2.0f * d);
    e.tick(1.0f);
    EXPECT_EQ(e.modulator_levels()[3], (2.0f * d) * d);
    // Pulses vanish once their amount falls to 1e-6, leaving the base levels.
    for (int i = 0; i < 200; ++i)
        e.tick(1.0f);
    EXPECT_EQ(e.modulator_levels(), (std::array<float, 4>{0.0f, 0.5f, 0.0f, 0.0f}));
}

}  // namespace
}  // namespace vorn
