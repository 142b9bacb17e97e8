#include "core/engine/sim_engine.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/engine/plastic_synapse.hpp"
#include "core/models/adex_neuron.hpp"
#include "core/models/decay.hpp"
#include "core/models/hh_neuron.hpp"
#include "core/models/izhikevich_neuron.hpp"
#include "core/models/lif_neuron.hpp"
#include "tests/cpp/util/test_support.hpp"

namespace vorn {
namespace {

using testing::number_at;

Uuid node(std::uint8_t n) {
    return testing::test_id(0, n);
}
Uuid edge(std::uint8_t n) {
    return testing::test_id(1, n);
}

double param(const SimEngine& e, const Uuid& id, const char* key) {
    return number_at(*e.node_params(id), key);
}
double syn_param(const SimEngine& e, const Uuid& id, const char* key) {
    return number_at(*e.synapse_params(id), key);
}

// Puts a neuron above threshold so that it spikes on the next tick.
void arm(SimEngine& e, const Uuid& id) {
    ASSERT_TRUE(e.set_node_param(id, "v", JsonValue::number(50)));
}

const HhConfig kHh{1.0f,   120.0f, 36.0f, 0.3f, 50.0f,          -77.0f,
                   -54.4f, -65.0f, 0.0f,  2.0f, Integrator::Rk4};
const IzhikevichConfig kIzhikevich{0.02f, 0.2f, -65.0f, 8.0f, 30.0f};
const AdExConfig kAdEx{20.0f, 1.0f, -70.0f, -50.0f, 2.0f, 0.0f, -58.0f, 100.0f, 0.1f, 2.0f};

// g_syn 2, threshold 0.1, homeostasis off, consolidation 0.5, eligibility decays slowly.
PlasticSynapseConfig plastic() {
    return {0.0f,    1.0f, 2.0f, 0.05f, 0.04f, 20.0f, 20.0f,   1000.0f,
            1000.0f, 1.0f, 0.1f, 1.0f,  5.0f,  0.0f,  1000.0f, 0.5f};
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
    // A NaN step is taken as given and drops every stimulation on the way.
    e.stimulate(node(1), 0.5f, 100.0f);
    e.tick(std::nanf(""));
    EXPECT_TRUE(std::isnan(e.t_ms()));
}

TEST(SimEngine, AddNeuronKeepsTheFirstOfEachIdInInsertionOrder) {
    SimEngine e;
    e.add_neuron(node(5), LifConfig{});
    e.add_neuron(node(2), kHh);
    e.add_neuron(node(9), LifConfig{});
    e.add_neuron(node(3), kIzhikevich);
    e.add_neuron(node(4), kAdEx);
    ASSERT_TRUE(e.set_node_param(node(2), "integrator", JsonValue::string("euler")));
    e.add_neuron(node(2), LifConfig{});  // present already: stays HH as written
    e.add_neuron(node(3), kAdEx);
    const std::vector<Uuid> order{node(5), node(2), node(9), node(3), node(4)};
    EXPECT_EQ(e.n_neurons(), 5u);
    EXPECT_EQ(e.node_ids(), order);

    HhNeuron hh(node(2), kHh);
    ASSERT_TRUE(hh.set_param("integrator", JsonValue::string("euler")));
    EXPECT_EQ(*e.node_params(node(2)), hh.snapshot());
    EXPECT_EQ(*e.node_params(node(3)), IzhikevichNeuron(node(3), kIzhikevich).snapshot());
    EXPECT_EQ(*e.node_params(node(4)), AdExNeuron(node(4), kAdEx).snapshot());
    EXPECT_EQ(*e.node_params(node(5)), LifNeuron(node(5)).snapshot());
    auto all = e.all_node_params();
    ASSERT_EQ(all.size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(all[i].first, order[i]);
        EXPECT_EQ(all[i].second, *e.node_params(order[i]));
    }
    EXPECT_FALSE(e.node_params(node(77)));

    // Spikes of one tick come in insertion order too.
    arm(e, node(9));
    arm(e, node(5));
    auto spikes = e.tick(1.0f);
    ASSERT_EQ(spikes.size(), 2u);
    EXPECT_EQ(spikes[0].id, node(5));
    EXPECT_EQ(spikes[1].id, node(9));
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

    // A connected pair keeps its first synapse, whatever the kind; the
    // reverse pair is new.
    e.add_edge(edge(2), node(1), node(2), StdpConfig{}, 0.9f);
    e.add_edge(edge(2), node(1), node(2), plastic(), 0.9f);
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
    EXPECT_EQ(number_at(all[2].second, "weight"), 0.25);
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
}

// Node 2 receives an STDP synapse (g_syn 80) and a plastic one (g_syn 2);
// each delivers weight times g_syn one tick after its pre spiked.
TEST(SimEngine, SpikeReachesTheTargetOneTickLater) {
    SimEngine e;
    e.add_edge(edge(1), node(1), node(2), StdpConfig{}, 0.7f);
    e.add_edge(edge(2), node(3), node(2), plastic(), 0.75f);
    arm(e, node(1));
    arm(e, node(3));
    ASSERT_EQ(e.tick(1.0f).size(), 2u);
    EXPECT_EQ(param(e, node(2), "epsc"), 0.0);
    EXPECT_EQ(param(e, node(2), "v"), -65.0);
    e.tick(1.0f);
    const float delivered = 0.7f * 80.0f + 0.75f * 2.0f;
    LifNeuron expect(node(2));
    expect.advance(1.0f, 0.0f, decay_factor(1.0f, 5.0f));
    expect.advance(1.0f, delivered, decay_factor(1.0f, 5.0f));
    EXPECT_EQ(*e.node_params(node(2)), expect.snapshot());
    // A pre spike alone leaves the weight and raises the pre trace.
    EXPECT_EQ(e.synapse_weight(0), 0.7f);
    EXPECT_EQ(syn_param(e, edge(1), "pre_trace"), static_cast<double>(std::exp(-1.0f / 20.0f)));
}

// A post whose synapses were made from descending pres still sums its input
// in creation order, not in the order the spiking pres are walked. The
// values make the two orders round apart: 80 absorbs each tiny current
// alone, but not the two together.
TEST(SimEngine, InputSumsInCreationOrderWhateverThePreOrder) {
    SimEngine e;
    for (std::uint8_t n = 1; n <= 4; ++n)
        e.add_neuron(node(n), LifConfig{});
    const float tiny = 3.75e-8f;
    e.add_edge(edge(1), node(4), node(1), StdpConfig{}, 1.0f);
    e.add_edge(edge(2), node(3), node(1), StdpConfig{}, tiny);
    e.add_edge(edge(3), node(2), node(1), StdpConfig{}, tiny);
    for (std::uint8_t n = 2; n <= 4; ++n)
        arm(e, node(n));
    ASSERT_EQ(e.tick(1.0f).size(), 3u);
    e.tick(1.0f);
    const float in_creation_order = (80.0f + tiny * 80.0f) + tiny * 80.0f;
    ASSERT_NE(in_creation_order, (tiny * 80.0f + tiny * 80.0f) + 80.0f);
    LifNeuron expect(node(1));
    expect.advance(1.0f, 0.0f, decay_factor(1.0f, 5.0f));
    expect.advance(1.0f, in_creation_order, decay_factor(1.0f, 5.0f));
    EXPECT_EQ(*e.node_params(node(1)), expect.snapshot());
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

TEST(SimEngine, StimulationExpiryReplacementAndUnknownNodes) {
    SimEngine e;
    e.stimulate(node(1), 0.5f, 100.0f);  // not in the engine yet: ignored
    e.add_neuron(node(1), LifConfig{});
    LifNeuron lone(node(1));
    expect_inputs(e, lone, {0.0f, 0.0f});

    // Duration 20 at dt 1: the time left reaches 0 on tick 20, before it is applied.
    e.stimulate(node(1), 0.5f, 20.0f);
    std::vector<float> inputs(25, 0.0f);
    std::fill(inputs.begin(), inputs.begin() + 19, 0.5f);
    expect_inputs(e, lone, inputs);
    e.stimulate(node(1), 0.5f, 1.0f);  // duration <= dt: no input at all
    expect_inputs(e, lone, {0.0f, 0.0f});

    // A new stimulation replaces the running one.
    e.stimulate(node(1), 0.5f, 100.0f);
    expect_inputs(e, lone, {0.5f, 0.5f, 0.5f});
    e.stimulate(node(1), 0.25f, 4.0f);
    expect_inputs(e, lone, {0.25f, 0.25f, 0.25f, 0.0f, 0.0f});
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

// Drives pre then post to spike on consecutive ticks, so the eligibility
// trace becomes positive, then runs with the given channel-0 base level.
// Returns the synapse's parameters next to a standalone synapse fed the
// same tick contexts.
std::pair<JsonValue, JsonValue> pair_then_run(float base_level, int ticks) {
    SimEngine e;
    e.add_edge(edge(1), node(1), node(2), plastic(), 0.5f);
    e.set_base_level(0, base_level);
    e.set_base_level(1, 5.0f);  // other channels do not matter
    PlasticSynapse lone(edge(1), node(1), node(2), plastic(), 0.5f);
    auto step = [&](bool pre, bool post) {
        if (pre)
            arm(e, node(1));
        if (post)
            arm(e, node(2));
        auto spikes = e.tick(1.0f);
        EXPECT_EQ(spikes.size(), (pre ? 1u : 0u) + (post ? 1u : 0u));
        lone.update(testing::synapse_tick(1.0f, pre, post, base_level));
    };
    step(true, false);
    step(false, true);
    for (int t = 0; t < ticks; ++t)
        step(false, false);
    return {*e.synapse_params(edge(1)), lone.snapshot()};
}

TEST(SimEngine, ChannelZeroBaseLevelDrivesThePlasticWeight) {
    auto [above, above_lone] = pair_then_run(0.6f, 5);
    EXPECT_EQ(above, above_lone);
    EXPECT_GT(number_at(above, "weight"), 0.5);
    EXPECT_GT(number_at(above, "tag"), 0.0);

    // Inside the dead band the trace stays and the weight does not move.
    auto [inside, inside_lone] = pair_then_run(0.1f, 5);
    EXPECT_EQ(inside, inside_lone);
    EXPECT_EQ(number_at(inside, "weight"), 0.5);
    EXPECT_EQ(number_at(inside, "tag"), 0.0);
    EXPECT_GT(number_at(inside, "eligibility_trace"), number_at(above, "eligibility_trace"));

    // Below the band the change is a depression.
    auto [below, below_lone] = pair_then_run(-0.6f, 5);
    EXPECT_EQ(below, below_lone);
    EXPECT_LT(number_at(below, "weight"), 0.5);
}

}  // namespace
}  // namespace vorn
