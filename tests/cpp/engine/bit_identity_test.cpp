// The engine against the literal reference engine on a random network with
// random stimulations, parameter writes and edges added between runs: every
// spike, weight and parameter must be bit-identical.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>

#include "tests/cpp/engine/reference_engine.hpp"

namespace vorn {
namespace {

bool bits_equal(const JsonValue& a, const JsonValue& b) {
    if (a.kind() != b.kind())
        return false;
    if (a.kind() == JsonValue::Kind::Double)
        return std::bit_cast<std::uint64_t>(a.as_raw_double()) ==
               std::bit_cast<std::uint64_t>(b.as_raw_double());
    if (a.is_object()) {
        const JsonObject& x = a.as_object();
        const JsonObject& y = b.as_object();
        if (x.size() != y.size())
            return false;
        return std::equal(x.begin(), x.end(), y.begin(), [](const auto& m, const auto& n) {
            return m.first == n.first && bits_equal(m.second, n.second);
        });
    }
    return a == b;
}

std::vector<Uuid> sorted_ids(const std::vector<SpikeEvent>& spikes, double t_ms) {
    std::vector<Uuid> ids;
    for (const SpikeEvent& e : spikes) {
        EXPECT_EQ(e.t_ms, t_ms);
        ids.push_back(e.id);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

class Fuzz {
  public:
    explicit Fuzz(std::uint64_t seed) : rng_(seed) {}

    Uuid fresh_id() {
        Uuid u;
        for (auto& b : u.bytes)
            b = static_cast<std::uint8_t>(rng_());
        return u;
    }
    double uniform(double lo, double hi) { return std::uniform_real_distribution<>(lo, hi)(rng_); }
    std::size_t below(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
    }
    bool chance(double p) { return uniform(0.0, 1.0) < p; }

    // Mostly valid values, sometimes out of range or of the wrong type.
    JsonValue value_for(double lo, double hi) {
        double r = uniform(0.0, 1.0);
        if (r < 0.05)
            return JsonValue::string("x");
        if (r < 0.15)
            return JsonValue::number(hi + 1.0 + uniform(0.0, 10.0));
        if (r < 0.2)
            return JsonValue::unsigned_int(static_cast<std::uint64_t>(std::max(lo, 0.0)));
        return JsonValue::number(uniform(lo, hi));
    }

  private:
    std::mt19937_64 rng_;
};

class BitIdentity : public ::testing::Test {
  protected:
    void add_edge(const Uuid& edge, const Uuid& pre, const Uuid& post, float weight) {
        engine.add_edge(edge, pre, post, StdpConfig{}, weight);
        ref.add_edge(edge, pre, post, weight);
        edge_ids.push_back(edge);
    }

    void add_neuron(const Uuid& id) {
        engine.add_neuron(id, LifConfig{});
        ref.add_neuron(id);
        node_ids.push_back(id);
    }

    Uuid some_node() { return node_ids[fuzz.below(node_ids.size())]; }

    void set_synapse_param(const Uuid& edge, const std::string& key, const JsonValue& value) {
        auto got = engine.set_synapse_param(edge, key, value);
        StdpSynapse* s = ref.find_synapse(edge);
        if (s == nullptr) {  // the edge was refused (self-edge or connected pair)
            ASSERT_FALSE(got);
            EXPECT_EQ(got.error().message(),
                      "unknown parameter 'synapse " + edge.to_string() + " (not in engine)'");
            return;
        }
        auto want = s->set_param(key, value);
        ASSERT_EQ(got.has_value(), want.has_value()) << key;
        if (got) {
            EXPECT_TRUE(bits_equal(*got, *want)) << key;
        } else {
            EXPECT_EQ(got.error().message(), want.error().message());
        }
    }

    void random_synapse_writes(int count) {
        struct Key {
            const char* name;
            double lo, hi;
        };
        static const Key kKeys[] = {
            {"weight", 0.0, 1.0},     {"w_min", 0.0, 0.5},      {"w_max", 0.5, 1.0},
            {"g_syn", 0.0, 6.0},      {"a_plus", 0.0, 0.02},    {"a_minus", 0.0, 0.02},
            {"tau_plus", 0.5, 40.0},  {"tau_minus", 0.5, 40.0}, {"pre_trace", 0.0, 3.0},
            {"post_trace", 0.0, 3.0}, {"pre_id", 0.0, 1.0},     {"tau_plus_ms", 0.0, 1.0},
        };
        // Half of the writes hit synapses that deliver on the next tick.
        std::vector<Uuid> delivering;
        for (const StdpSynapse& s : ref.synapses) {
            if (ref.spiked_last_tick.contains(s.pre_id()))
                delivering.push_back(s.id());
        }
        for (int i = 0; i < count; ++i) {
            const Key& k = kKeys[fuzz.below(std::size(kKeys))];
            Uuid edge = !delivering.empty() && fuzz.chance(0.5)
                            ? delivering[fuzz.below(delivering.size())]
                            : edge_ids[fuzz.below(edge_ids.size())];
            set_synapse_param(edge, k.name, fuzz.value_for(k.lo, k.hi));
        }
    }

    void random_neuron_writes(int count) {
        struct Key {
            const char* name;
            double lo, hi;
        };
        static const Key kKeys[] = {{"v", -80.0, -40.0},        {"tau_syn", 1.0, 10.0},
                                    {"tau_m", 5.0, 30.0},       {"epsc", -5.0, 20.0},
                                    {"v_thresh", -60.0, -45.0}, {"refractory_ms", 0.0, 4.0}};
        for (int i = 0; i < count; ++i) {
            const Key& k = kKeys[fuzz.below(std::size(kKeys))];
            Uuid id = some_node();
            JsonValue value = fuzz.value_for(k.lo, k.hi);
            auto got = engine.set_node_param(id, k.name, value);
            auto want = ref.find_neuron(id)->set_param(k.name, value);
            ASSERT_EQ(got.has_value(), want.has_value());
            if (got) {
                EXPECT_TRUE(bits_equal(*got, *want));
            }
        }
    }

    void random_stimulations(int count) {
        for (int i = 0; i < count; ++i) {
            Uuid id = fuzz.chance(0.1) ? fuzz.fresh_id() : some_node();
            auto current = static_cast<float>(fuzz.uniform(-2.0, 40.0));
            auto duration = static_cast<float>(fuzz.chance(0.3) ? fuzz.uniform(-1.0, 20.0)
                                                                : fuzz.uniform(50.0, 400.0));
            engine.stimulate(id, current, duration);
            ref.stimulate(id, current, duration);
        }
    }

    // New edges in random order, with new endpoints, self-edges, repeated
    // pairs and reused edge ids among them.
    void random_edges(int count) {
        for (int i = 0; i < count; ++i) {
            Uuid pre = fuzz.chance(0.05) ? fuzz.fresh_id() : some_node();
            Uuid post = fuzz.chance(0.05) ? fuzz.fresh_id() : some_node();
            if (fuzz.chance(0.03))
                post = pre;
            Uuid edge = fuzz.chance(0.05) ? edge_ids[fuzz.below(edge_ids.size())] : fuzz.fresh_id();
            add_edge(edge, pre, post, static_cast<float>(fuzz.uniform(-0.2, 1.2)));
            for (const Uuid& id : {pre, post}) {
                if (ref.find_neuron(id) != nullptr &&
                    std::find(node_ids.begin(), node_ids.end(), id) == node_ids.end())
                    node_ids.push_back(id);
            }
        }
    }

    void run_and_compare(int ticks, float dt_ms) {
        for (int t = 0; t < ticks; ++t) {
            auto got = engine.tick(dt_ms);
            auto want = ref.tick(dt_ms);
            ASSERT_EQ(engine.t_ms(), ref.t_ms);
            ASSERT_EQ(sorted_ids(got, ref.t_ms), sorted_ids(want, ref.t_ms))
                << "tick " << t << " dt " << dt_ms;
            total_spikes += got.size();
        }
    }

    void compare_state() {
        ASSERT_EQ(engine.n_neurons(), ref.neurons.size());
        ASSERT_EQ(engine.n_synapses(), ref.synapses.size());
        auto nodes = engine.all_node_params();
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            ASSERT_EQ(nodes[i].first, ref.neurons[i].id());
            ASSERT_TRUE(bits_equal(nodes[i].second, ref.neurons[i].params())) << "neuron " << i;
        }
        auto syns = engine.all_synapse_params();
        for (std::size_t i = 0; i < syns.size(); ++i) {
            const StdpSynapse& s = ref.synapses[i];
            ASSERT_EQ(syns[i].first, s.id());
            ASSERT_EQ(std::bit_cast<std::uint32_t>(engine.synapse_weight(i)),
                      std::bit_cast<std::uint32_t>(s.weight()));
            ASSERT_TRUE(bits_equal(syns[i].second, s.params())) << "synapse " << i;
        }
    }

    // Neurons, then edges in (pre, post) order, as a bulk load creates them.
    void build_ordered(int neurons, double p) {
        for (int i = 0; i < neurons; ++i)
            add_neuron(fuzz.fresh_id());
        for (int i = 0; i < neurons; ++i) {
            for (int j = 0; j < neurons; ++j) {
                if (fuzz.chance(p))
                    add_edge(fuzz.fresh_id(), node_ids[i], node_ids[j],
                             static_cast<float>(fuzz.uniform(-0.1, 1.1)));
            }
        }
    }

    Fuzz fuzz{20261206};
    SimEngine engine;
    testing::ReferenceEngine ref;
    std::vector<Uuid> node_ids;
    std::vector<Uuid> edge_ids;
    std::size_t total_spikes = 0;
};

TEST_F(BitIdentity, RandomNetworkWithEditsBetweenRuns) {
    build_ordered(300, 0.04);
    // Then edges in random order, so that many posts receive from pre
    // neurons out of index order.
    random_edges(2500);
    // Varied gains and small steps keep weights off their bounds, so that
    // a wrong order of operations shows in the bits.
    for (const Uuid& e : edge_ids) {
        set_synapse_param(e, "g_syn", JsonValue::number(fuzz.uniform(0.5, 4.0)));
        set_synapse_param(e, "a_plus", JsonValue::number(fuzz.uniform(0.0, 0.004)));
        set_synapse_param(e, "a_minus", JsonValue::number(fuzz.uniform(0.0, 0.004)));
    }
    random_stimulations(250);
    const float kSteps[] = {1.0f, 0.5f, 0.25f, 2.0f, 0.1f, 1.0f};
    for (int round = 0; round < 16; ++round) {
        // Some runs are long, so that traces decay far between edits.
        run_and_compare(round % 5 == 2 ? 150 : 30, kSteps[round % std::size(kSteps)]);
        compare_state();
        // Each kind of edit on about half of the rounds, alone or mixed.
        if (fuzz.chance(0.5))
            random_synapse_writes(200);
        if (fuzz.chance(0.5))
            random_neuron_writes(40);
        if (fuzz.chance(0.5))
            random_stimulations(60);
        if (fuzz.chance(0.5))
            random_edges(80);
        if (fuzz.chance(0.2))
            add_neuron(fuzz.fresh_id());
    }
    compare_state();
    EXPECT_GT(total_spikes, 2000u);
}

// One parameter set and no written traces: the walks skip per-synapse
// parameter words, which must not change a bit either.
TEST_F(BitIdentity, UniformParameters) {
    build_ordered(200, 0.05);
    for (const Uuid& e : edge_ids)
        set_synapse_param(e, "g_syn", JsonValue::number(2.5));
    random_stimulations(200);
    const float kSteps[] = {1.0f, 0.5f, 2.0f};
    for (int round = 0; round < 6; ++round) {
        run_and_compare(round == 3 ? 200 : 40, kSteps[round % std::size(kSteps)]);
        compare_state();
        for (int i = 0; i < 50; ++i) {
            set_synapse_param(edge_ids[fuzz.below(edge_ids.size())], "weight",
                              JsonValue::number(fuzz.uniform(0.0, 1.0)));
        }
        random_stimulations(40);
    }
    EXPECT_GT(total_spikes, 1000u);
}

}  // namespace
}  // namespace vorn
