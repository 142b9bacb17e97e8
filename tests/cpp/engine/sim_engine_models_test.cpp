// The engine with neurons of every model and plastic synapses: creation,
// order, parameter access, and channel-0-driven plasticity through the tick.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/engine/plastic_synapse.hpp"
#include "core/engine/sim_engine.hpp"
#include "core/models/adex_neuron.hpp"
#include "core/models/hh_neuron.hpp"
#include "core/models/izhikevich_neuron.hpp"
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

const HhConfig kHh{1.0f,   120.0f, 36.0f, 0.3f, 50.0f,          -77.0f,
                   -54.4f, -65.0f, 0.0f,  2.0f, Integrator::Rk4};
const IzhikevichConfig kIzhikevich{0.02f, 0.2f, -65.0f, 8.0f, 30.0f};
const AdExConfig kAdEx{20.0f, 1.0f, -70.0f, -50.0f, 2.0f, 0.0f, -58.0f, 100.0f, 0.1f, 2.0f};

// Threshold 0.1, homeostasis off, consolidation 0.5, eligibility decays slowly.
PlasticSynapseConfig plastic() {
    return {0.0f,    1.0f, 2.0f, 0.05f, 0.04f, 20.0f, 20.0f,   1000.0f,
            1000.0f, 1.0f, 0.1f, 1.0f,  5.0f,  0.0f,  1000.0f, 0.5f};
}

std::vector<std::string> keys_of(const JsonValue& v) {
    std::vector<std::string> keys;
    for (const auto& [k, _] : v.as_object())
        keys.push_back(k);
    return keys;
}

TEST(SimEngineModels, EachKindIsBuiltAndReachedByItsParameters) {
    SimEngine e;
    e.add_neuron(node(1), kHh);
    e.add_neuron(node(2), kIzhikevich);
    e.add_neuron(node(3), kAdEx);
    e.add_neuron(node(4), LifConfig{});
    e.add_neuron(node(2), kAdEx);  // present already: stays Izhikevich
    EXPECT_EQ(e.node_ids(), (std::vector<Uuid>{node(1), node(2), node(3), node(4)}));

    EXPECT_EQ(*e.node_params(node(1)), HhNeuron(node(1), kHh).snapshot());
    EXPECT_EQ(*e.node_params(node(2)), IzhikevichNeuron(node(2), kIzhikevich).snapshot());
    EXPECT_EQ(*e.node_params(node(3)), AdExNeuron(node(3), kAdEx).snapshot());
    EXPECT_EQ(
        keys_of(*e.node_params(node(1))),
        (std::vector<std::string>{"cfg", "h", "id", "m", "n", "refractory_left", "v", "v_prev"}));
    EXPECT_EQ(keys_of(*e.node_params(node(3))),
              (std::vector<std::string>{"config", "id", "last_v", "v", "w"}));

    // HH writes reach the stored neuron; the fixed-parameter models refuse.
    auto hh = e.set_node_param(node(1), "integrator", JsonValue::string("euler"));
    ASSERT_TRUE(hh);
    EXPECT_EQ(hh->as_object().find("cfg")->as_object().find("integrator")->as_string(), "euler");
    EXPECT_EQ(*e.node_params(node(1)), *hh);
    EXPECT_EQ(e.set_node_param(node(2), "a", JsonValue::number(0.1)).error().message(),
              "unknown parameter 'a'");
    EXPECT_EQ(e.all_node_params()[2].second, *e.node_params(node(3)));
}

TEST(SimEngineModels, SynapsesOfBothKindsKeepCreationOrder) {
    SimEngine e;
    e.add_edge(edge(1), node(1), node(2), StdpConfig{}, 0.5f);
    e.add_edge(edge(2), node(2), node(3), plastic(), 1.5f);
    e.add_edge(edge(3), node(3), node(1), StdpConfig{}, 0.25f);
    // Pairs are shared across kinds; self-edges make nothing.
    e.add_edge(edge(4), node(1), node(2), plastic(), 0.5f);
    e.add_edge(edge(5), node(3), node(3), plastic(), 0.5f);
    ASSERT_EQ(e.n_synapses(), 3u);
    EXPECT_EQ(e.n_neurons(), 3u);
    EXPECT_EQ(e.synapse_id(1), edge(2));
    EXPECT_EQ(e.synapse_weight(1), 1.0f);
    EXPECT_EQ(e.synapse_weight(2), 0.25f);

    const JsonValue params = *e.synapse_params(edge(2));
    EXPECT_EQ(params, PlasticSynapse(edge(2), node(2), node(3), plastic(), 1.5f).snapshot());
    EXPECT_EQ(params.as_object().size(), 25u);
    auto all = e.all_synapse_params();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].first, edge(2));
    EXPECT_EQ(all[1].second, params);

    auto written = e.set_synapse_param(edge(2), "w_max", JsonValue::number(0.5));
    ASSERT_TRUE(written);
    EXPECT_EQ(e.synapse_weight(1), 0.5f);
    EXPECT_EQ(e.set_synapse_param(edge(2), "tag", JsonValue::number(1)).error().message(),
              "unknown parameter 'tag'");
}

// Post receives a plastic and an STDP synapse; the plastic one delivers its
// weight times g_syn one tick after its pre spiked.
TEST(SimEngineModels, PlasticSynapseDeliversOnTheNextTick) {
    SimEngine e;
    e.add_edge(edge(1), node(1), node(3), plastic(), 0.75f);
    e.add_edge(edge(2), node(2), node(3), StdpConfig{}, 0.5f);
    ASSERT_TRUE(e.set_node_param(node(1), "v", JsonValue::number(50)));
    auto first = e.tick(1.0f);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(e.node_params(node(3))->as_object().find("epsc")->to_double(), 0.0);
    e.tick(1.0f);
    const float delivered = 0.75f * 2.0f;
    LifNeuron expect(node(3));
    expect.advance(1.0f, 0.0f, decay_factor(1.0f, 5.0f));
    expect.advance(1.0f, delivered, decay_factor(1.0f, 5.0f));
    EXPECT_EQ(*e.node_params(node(3)), expect.snapshot());
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
            (void)e.set_node_param(node(1), "v", JsonValue::number(50));
        if (post)
            (void)e.set_node_param(node(2), "v", JsonValue::number(50));
        auto spikes = e.tick(1.0f);
        EXPECT_EQ(spikes.size(), (pre ? 1u : 0u) + (post ? 1u : 0u));
        SynapseStepContext c;
        c.ctx.dt_ms = 1.0f;
        c.ctx.levels = {base_level, 5.0f, 0.0f, 0.0f};
        c.ctx.level0 = base_level;
        c.pre_spiked = pre;
        c.post_spiked = post;
        lone.update(c);
    };
    step(true, false);
    step(false, true);
    for (int t = 0; t < ticks; ++t)
        step(false, false);
    return {*e.synapse_params(edge(1)), lone.snapshot()};
}

TEST(SimEngineModels, ChannelZeroBaseLevelDrivesThePlasticWeight) {
    auto [above, above_lone] = pair_then_run(0.6f, 5);
    EXPECT_EQ(above, above_lone);
    const JsonObject& a = above.as_object();
    EXPECT_GT(a.find("weight")->to_double(), 0.5);
    EXPECT_GT(a.find("tag")->to_double(), 0.0);

    // Inside the dead band the trace stays and the weight does not move.
    auto [inside, inside_lone] = pair_then_run(0.1f, 5);
    EXPECT_EQ(inside, inside_lone);
    const JsonObject& b = inside.as_object();
    EXPECT_EQ(b.find("weight")->to_double(), 0.5);
    EXPECT_EQ(b.find("tag")->to_double(), 0.0);
    EXPECT_GT(b.find("eligibility_trace")->to_double(), a.find("eligibility_trace")->to_double());

    // Below the band the change is a depression.
    auto [below, below_lone] = pair_then_run(-0.6f, 5);
    EXPECT_EQ(below, below_lone);
    EXPECT_LT(below.as_object().find("weight")->to_double(), 0.5);
}

}  // namespace
}  // namespace vorn
