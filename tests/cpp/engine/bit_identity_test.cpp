// The engine against the literal reference engine on random networks with
// random stimulations, noise, delays, parameter writes, modulator changes
// and edges added between runs: every spike, weight, parameter and level
// must be bit-identical, with the tick shared by 1, 2 or 3 threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <set>

#include "tests/cpp/engine/reference_engine.hpp"

namespace vorn {
namespace {

Uuid testing_id(std::uint8_t n) {
    Uuid u;
    u.bytes[15] = n;
    return u;
}

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

// One of a few time-constant sets, so that neighbouring plastic synapses
// sometimes differ and the engine's shared decay factors must follow.
PlasticSynapseConfig plastic_config(Fuzz& fuzz) {
    static const float kTaus[][4] = {{20.0f, 20.0f, 200.0f, 1000.0f},
                                     {10.0f, 30.0f, 500.0f, 2000.0f},
                                     {20.0f, 20.0f, 80.0f, 300.0f}};
    const float* tau = kTaus[fuzz.below(std::size(kTaus))];
    PlasticSynapseConfig c{};
    c.w_min = 0.0f;
    c.w_max = 1.0f;
    c.g_syn = static_cast<float>(fuzz.uniform(0.5, 4.0));
    c.a_plus = static_cast<float>(fuzz.uniform(0.0, 0.02));
    c.a_minus = static_cast<float>(fuzz.uniform(0.0, 0.02));
    c.tau_plus_ms = tau[0];
    c.tau_minus_ms = tau[1];
    c.tau_eligibility_ms = tau[2];
    c.tau_tag_ms = tau[3];
    c.learning_rate = static_cast<float>(fuzz.uniform(0.1, 1.0));
    c.dopamine_threshold = 0.1f;
    c.dopamine_gain = 1.0f;
    c.target_post_rate_hz = 5.0f;
    c.homeostatic_rate = fuzz.chance(0.5) ? 0.0f : 0.01f;
    c.tau_rate_ms = 1000.0f;
    c.post_consolidation_decay = 0.5f;
    return c;
}

// Each neuron model in turn, HH alternating between its integrators.
NeuronConfig model_config(std::size_t i) {
    const Integrator integrator = i % 5 == 1 ? Integrator::Rk4 : Integrator::Euler;
    const HhConfig hh{1.0f,   120.0f, 36.0f, 0.3f, 50.0f,     -77.0f,
                      -54.4f, -65.0f, 0.0f,  2.0f, integrator};
    switch (i % 5) {
        case 0:
            return LifConfig{};
        case 3:
            return IzhikevichConfig{0.02f, 0.2f, -65.0f, 8.0f, 30.0f};
        case 4:
            return AdExConfig{20.0f, 1.0f, -70.0f, -50.0f, 2.0f, 0.0f, -58.0f, 100.0f, 0.1f, 2.0f};
        default:
            return hh;
    }
}

class BitIdentity : public ::testing::TestWithParam<std::size_t> {
  protected:
    BitIdentity() {
        engine.set_threads(GetParam());
        // Small networks too, so that the workers really share the ticks.
        engine.set_min_parallel_work(0.0);
    }

    // A delay for a new edge: mostly whole and fractional milliseconds that
    // round differently at the steps used, sometimes zero, sometimes 70 ms
    // (more than 64 ticks at most steps, arriving within a test) and
    // sometimes 7 s (more than 65,535 ticks at 0.1 ms, never arriving here).
    float random_delay() {
        if (!delay_choices.empty())
            return delay_choices[fuzz.below(delay_choices.size())];
        static const float kDelays[] = {0.0f, 0.3f, 1.0f, 1.0f,  1.5f,
                                        2.0f, 3.7f, 5.0f, 70.0f, 7000.0f};
        return delays ? kDelays[fuzz.below(std::size(kDelays))] : 1.0f;
    }

    SynapseConfig random_config(const Uuid& post) {
        // Posts meant for plastic input get an STDP synapse only rarely,
        // which turns them into posts with both kinds.
        const bool plastic_post = plastic_posts.contains(post) && !fuzz.chance(0.02);
        if (plastic_post || fuzz.chance(plastic_share))
            return plastic_config(fuzz);
        if (fuzz.chance(static_share))
            return StaticConfig{static_cast<float>(fuzz.uniform(0.5, 3.0))};
        return StdpConfig{};
    }

    void add_edge(const Uuid& edge, const Uuid& pre, const Uuid& post, float weight) {
        const SynapseConfig config = random_config(post);
        // Static weights inhibit as often as they excite.
        if (std::holds_alternative<StaticConfig>(config))
            weight = weight * 4.0f - 2.0f;
        const float delay = random_delay();
        engine.add_edge(edge, pre, post, config, weight, delay);
        ref.add_edge(edge, pre, post, weight, config, delay);
        edge_ids.push_back(edge);
    }

    // An edge for each ordered pair of nodes with chance p, weights uniform
    // in [0, 1].
    void connect_pairs(double p) {
        for (std::size_t i = 0; i < node_ids.size(); ++i) {
            for (std::size_t j = 0; j < node_ids.size(); ++j) {
                if (fuzz.chance(p))
                    add_edge(fuzz.fresh_id(), node_ids[i], node_ids[j],
                             static_cast<float>(fuzz.uniform(0.0, 1.0)));
            }
        }
    }

    // Every delay anew, as one bulk change.
    void random_delays() {
        std::vector<float> d(ref.delays.size());
        for (float& x : d)
            x = random_delay();
        ASSERT_TRUE(engine.set_delays(d));
        ref.delays = d;
    }

    // Noise onto a random subset, sometimes strong enough for the rejection
    // sampler.
    void random_noise() {
        std::vector<std::int64_t> nodes;
        std::vector<Uuid> targets;
        for (std::size_t i = 0; i < ref.neurons.size(); ++i) {
            if (fuzz.chance(0.3)) {
                nodes.push_back(static_cast<std::int64_t>(i));
                targets.push_back(ref.neurons[i]->id());
            }
        }
        const double rate = fuzz.chance(0.2) ? 40000.0 : fuzz.uniform(10.0, 2000.0);
        const auto weight = static_cast<float>(fuzz.uniform(-1.0, 3.0));
        const std::uint64_t seed = fuzz.below(1000);
        ASSERT_TRUE(engine.add_poisson_input(nodes, rate, weight, seed));
        ref.add_poisson(targets, rate, weight, seed);
    }

    void add_neuron(const Uuid& id, const NeuronConfig& config = LifConfig{}) {
        engine.add_neuron(id, config);
        ref.add_neuron(id, config);
        node_ids.push_back(id);
    }

    void set_base_level(std::size_t channel, float level) {
        engine.set_base_level(channel, level);
        ref.base_levels[channel] = level;
    }

    // Pulses on every channel, some negative, some too short-lived to last.
    void random_pulses(int count) {
        for (int i = 0; i < count; ++i) {
            ModulatorPulse p{static_cast<float>(fuzz.uniform(-0.5, 1.0)),
                             static_cast<float>(fuzz.chance(0.1) ? fuzz.uniform(-1.0, 0.0)
                                                                 : fuzz.uniform(1.0, 80.0)),
                             static_cast<std::uint8_t>(fuzz.below(6))};
            engine.add_modulator_pulse(p);
            ref.pulses.push_back(p);
        }
    }

    Uuid some_node() { return node_ids[fuzz.below(node_ids.size())]; }

    void set_synapse_param(const Uuid& edge, const std::string& key, const JsonValue& value) {
        auto got = engine.set_synapse_param(edge, key, value);
        SynapseModel* s = ref.find_synapse(edge);
        if (s == nullptr) {  // the edge was refused (self-edge or connected pair)
            ASSERT_FALSE(got);
            EXPECT_EQ(got.error().message(),
                      "unknown parameter 'synapse " + edge.to_string() + " (not in engine)'");
            return;
        }
        expect_same_result(got, s->set_param(key, value), key);
    }

    // Both accepted with the same bits, or both refused with the same text.
    static void expect_same_result(const std::expected<JsonValue, ParamError>& got,
                                   const std::expected<JsonValue, ParamError>& want,
                                   const std::string& key) {
        ASSERT_EQ(got.has_value(), want.has_value()) << key;
        if (got) {
            EXPECT_TRUE(bits_equal(*got, *want)) << key;
        } else {
            EXPECT_EQ(got.error().message(), want.error().message()) << key;
        }
    }

    struct Key {
        const char* name;
        double lo, hi;
    };

    void random_synapse_writes(int count) {
        static const Key kStdpKeys[] = {
            {"weight", 0.0, 1.0},     {"w_min", 0.0, 0.5},      {"w_max", 0.5, 1.0},
            {"g_syn", 0.0, 6.0},      {"a_plus", 0.0, 0.02},    {"a_minus", 0.0, 0.02},
            {"tau_plus", 0.5, 40.0},  {"tau_minus", 0.5, 40.0}, {"pre_trace", 0.0, 3.0},
            {"post_trace", 0.0, 3.0}, {"pre_id", 0.0, 1.0},     {"tau_plus_ms", 0.0, 1.0}};
        static const Key kPlasticKeys[] = {{"weight", 0.0, 1.0},
                                           {"w_max", 0.5, 1.0},
                                           {"g_syn", 0.0, 6.0},
                                           {"tau_plus_ms", 1.0, 40.0},
                                           {"tau_eligibility_ms", 10.0, 800.0},
                                           {"eligibility_trace", -2.0, 2.0},
                                           {"learning_rate", 0.0, 2.0},
                                           {"dopamine_threshold", 0.0, 0.5},
                                           {"homeostatic_rate", 0.0, 0.05},
                                           {"observed_post_rate_hz", 0.0, 50.0},
                                           {"tag", 0.0, 1.0},
                                           {"post_id", 0.0, 1.0}};
        // Half of the writes hit synapses that deliver on the next tick.
        std::vector<Uuid> delivering;
        for (const auto& s : ref.synapses) {
            if (ref.spiked_last_tick.contains(s->pre_id()))
                delivering.push_back(s->id());
        }
        for (int i = 0; i < count; ++i) {
            Uuid edge = !delivering.empty() && fuzz.chance(0.5)
                            ? delivering[fuzz.below(delivering.size())]
                            : edge_ids[fuzz.below(edge_ids.size())];
            const SynapseModel* s = ref.find_synapse(edge);
            const bool plastic = s != nullptr && std::string_view(s->kind()) == "plastic-synapse";
            const Key& k = plastic ? kPlasticKeys[fuzz.below(std::size(kPlasticKeys))]
                                   : kStdpKeys[fuzz.below(std::size(kStdpKeys))];
            set_synapse_param(edge, k.name, fuzz.value_for(k.lo, k.hi));
        }
    }

    // LIF keys for LIF neurons, HH keys for HH ones; the other models
    // refuse every key, which must leave them unchanged in both engines.
    void random_neuron_writes(int count) {
        static const Key kLifKeys[] = {{"v", -80.0, -40.0},        {"tau_syn", 1.0, 10.0},
                                       {"tau_m", 5.0, 30.0},       {"epsc", -5.0, 20.0},
                                       {"v_thresh", -60.0, -45.0}, {"refractory_ms", 0.0, 4.0}};
        static const Key kHhKeys[] = {{"v", -80.0, -40.0},
                                      {"m", 0.0, 1.0},
                                      {"g_na", 80.0, 140.0},
                                      {"e_l", -60.0, -50.0},
                                      {"v_spike_thresh", -20.0, 10.0},
                                      {"refractory_left", 0.0, 3.0}};
        for (int i = 0; i < count; ++i) {
            Uuid id = some_node();
            NeuronModel* want_model = ref.find_neuron(id);
            const bool hh = dynamic_cast<HhNeuron*>(want_model) != nullptr;
            const Key& k = hh ? kHhKeys[fuzz.below(std::size(kHhKeys))]
                              : kLifKeys[fuzz.below(std::size(kLifKeys))];
            JsonValue value = fuzz.value_for(k.lo, k.hi);
            expect_same_result(engine.set_node_param(id, k.name, value),
                               want_model->set_param(k.name, value), k.name);
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
        for (std::size_t c = 0; c < 4; ++c) {
            ASSERT_EQ(std::bit_cast<std::uint32_t>(engine.modulator_levels()[c]),
                      std::bit_cast<std::uint32_t>(ref.levels[c]))
                << "channel " << c;
        }
        ASSERT_EQ(engine.n_neurons(), ref.neurons.size());
        ASSERT_EQ(engine.n_synapses(), ref.synapses.size());
        auto nodes = engine.all_node_params();
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            ASSERT_EQ(nodes[i].first, ref.neurons[i]->id());
            ASSERT_TRUE(bits_equal(nodes[i].second, ref.neurons[i]->params())) << "neuron " << i;
        }
        auto syns = engine.all_synapse_params();
        for (std::size_t i = 0; i < syns.size(); ++i) {
            const SynapseModel& s = *ref.synapses[i];
            ASSERT_EQ(syns[i].first, s.id());
            ASSERT_EQ(std::bit_cast<std::uint32_t>(engine.synapse_weight(i)),
                      std::bit_cast<std::uint32_t>(s.weight()));
            ASSERT_TRUE(bits_equal(syns[i].second, s.params())) << "synapse " << i;
        }
    }

    // Each kind of edit on about half of the rounds, alone or mixed.
    void random_edits(int synapse_writes, int stimulations, int edges) {
        if (fuzz.chance(0.5))
            random_synapse_writes(synapse_writes);
        if (fuzz.chance(0.5))
            random_neuron_writes(40);
        if (fuzz.chance(0.5))
            random_stimulations(stimulations);
        if (fuzz.chance(0.5))
            random_edges(edges);
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

    double plastic_share = 0.0;        // chance that a new edge is plastic
    double static_share = 0.0;         // chance that a new non-plastic edge is static
    bool delays = false;               // new edges get random delays
    std::vector<float> delay_choices;  // when not empty, the delays drawn from
    std::set<Uuid> plastic_posts;      // posts whose new edges are plastic
    Fuzz fuzz{20261206};
    SimEngine engine;
    testing::ReferenceEngine ref;
    std::vector<Uuid> node_ids;
    std::vector<Uuid> edge_ids;
    std::size_t total_spikes = 0;
};

// Neurons of every model, STDP and plastic synapses mixed on the same posts,
// and channel levels outside the plastic synapses' dead band (base levels
// and pulses) so that modulated weight changes run.
TEST_P(BitIdentity, MixedModelsAndModulatedPlasticity) {
    plastic_share = 0.35;
    for (std::size_t i = 0; i < 150; ++i) {
        add_neuron(fuzz.fresh_id(), model_config(i));
        if (fuzz.chance(0.3))
            plastic_posts.insert(node_ids.back());
    }
    for (std::size_t i = 0; i < node_ids.size(); ++i) {
        for (std::size_t j = 0; j < node_ids.size(); ++j) {
            if (fuzz.chance(0.04))
                add_edge(fuzz.fresh_id(), node_ids[i], node_ids[j],
                         static_cast<float>(fuzz.uniform(-0.1, 1.1)));
        }
    }
    random_edges(600);
    set_base_level(0, 0.3f);
    set_base_level(2, -0.2f);
    random_pulses(12);
    random_stimulations(150);
    const float kSteps[] = {1.0f, 0.5f, 0.25f, 0.1f};
    for (int round = 0; round < 12; ++round) {
        run_and_compare(round % 4 == 1 ? 120 : 30, kSteps[round % std::size(kSteps)]);
        compare_state();
        random_edits(150, 50, 60);
        if (fuzz.chance(0.5))
            random_pulses(4);
        if (fuzz.chance(0.3))
            set_base_level(0, static_cast<float>(fuzz.uniform(-0.6, 0.6)));
        if (fuzz.chance(0.2))
            add_neuron(fuzz.fresh_id(), model_config(fuzz.below(5)));
    }
    compare_state();
    EXPECT_GT(total_spikes, 2000u);
    // The modulated change ran: some plastic synapse built up a tag.
    bool tagged = false;
    for (const auto& s : ref.synapses) {
        if (std::string_view(s->kind()) == "plastic-synapse")
            tagged = tagged || s->params().as_object().find("tag")->to_double() > 0.0;
    }
    EXPECT_TRUE(tagged);
}

TEST_P(BitIdentity, RandomNetworkWithEditsBetweenRuns) {
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
        random_edits(200, 60, 80);
        if (fuzz.chance(0.2))
            add_neuron(fuzz.fresh_id());
    }
    compare_state();
    EXPECT_GT(total_spikes, 2000u);
}

// One parameter set and no written traces: the walks skip per-synapse
// parameter words, which must not change a bit either.
TEST_P(BitIdentity, UniformParameters) {
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

// Delays that round differently at each step, static synapses (some
// inhibiting), noise inputs, and delays changed in bulk between runs while
// spikes are in flight.
TEST_P(BitIdentity, DelaysStaticSynapsesAndNoise) {
    delays = true;
    static_share = 0.3;
    plastic_share = 0.1;
    for (std::size_t i = 0; i < 160; ++i)
        add_neuron(fuzz.fresh_id(), model_config(i % 7 == 3 ? i : 0));
    connect_pairs(0.05);
    random_edges(300);
    random_noise();
    random_stimulations(120);
    const float kSteps[] = {1.0f, 0.5f, 0.25f, 2.0f, 1.0f};
    for (int round = 0; round < 10; ++round) {
        run_and_compare(round % 3 == 1 ? 80 : 25, kSteps[round % std::size(kSteps)]);
        compare_state();
        random_edits(100, 40, 50);
        if (fuzz.chance(0.4))
            random_delays();
        if (fuzz.chance(0.3))
            random_noise();
    }
    compare_state();
    // A step that changes every tick, then one that holds for two or three
    // ticks between changes, while spikes are in flight.
    const float kPattern[] = {1.0f, 1.0f, 0.5f, 0.5f, 0.5f, 0.25f};
    for (int t = 0; t < 60; ++t)
        run_and_compare(1, t < 20 ? kSteps[t % 2] : kPattern[t % std::size(kPattern)]);
    compare_state();
    EXPECT_GT(total_spikes, 2000u);
}

// Edges made in bulk equal the same add_edge calls in order: self-edges and
// repeated pairs (in the batch and with earlier edges) skipped alike.
TEST_P(BitIdentity, AddEdgesEqualsAddEdgeCalls) {
    static_share = 0.0;
    for (std::size_t i = 0; i < 120; ++i)
        add_neuron(fuzz.fresh_id());
    add_edge(fuzz.fresh_id(), node_ids[3], node_ids[4], 0.5f);
    for (int batch = 0; batch < 3; ++batch) {
        std::vector<std::int64_t> pre, post;
        std::vector<double> weight, delay;
        for (int k = 0; k < 1500; ++k) {
            pre.push_back(static_cast<std::int64_t>(fuzz.below(node_ids.size())));
            post.push_back(fuzz.chance(0.02)
                               ? pre.back()
                               : static_cast<std::int64_t>(fuzz.below(node_ids.size())));
            weight.push_back(fuzz.uniform(0.0, 1.0));
            delay.push_back(fuzz.chance(0.5) ? 1.0 : 2.0);
        }
        pre.push_back(3);
        post.push_back(4);
        weight.push_back(0.25);
        delay.push_back(1.0);
        const SynapseConfig config =
            batch == 1 ? SynapseConfig{StaticConfig{1.5f}} : SynapseConfig{StdpConfig{}};
        const std::size_t before = engine.n_synapses();
        auto made = engine.add_edges({pre, post, weight, delay, false, false, config});
        ASSERT_TRUE(made);
        std::size_t next = before;
        for (std::size_t k = 0; k < pre.size(); ++k) {
            const Uuid id = next < engine.n_synapses() ? engine.synapse_id(next) : Uuid{};
            if (ref.add_edge(id, node_ids[pre[k]], node_ids[post[k]], static_cast<float>(weight[k]),
                             config, static_cast<float>(delay[k])))
                ++next;
        }
        ASSERT_EQ(next, engine.n_synapses());
        EXPECT_EQ(*made, next - before);
        for (std::size_t s = before; s < next; ++s)
            edge_ids.push_back(engine.synapse_id(s));
        random_stimulations(60);
        run_and_compare(40, 1.0f);
        compare_state();
    }
}

// A checkpoint taken mid-run and restored (with another thread count)
// continues exactly as the engine it came from: every model, every synapse
// kind, stimulations, modulator pulses, delays with spikes in flight, noise.
TEST_P(BitIdentity, CheckpointContinuesBitForBit) {
    delays = true;
    static_share = 0.2;
    plastic_share = 0.2;
    for (std::size_t i = 0; i < 150; ++i)
        add_neuron(fuzz.fresh_id(), model_config(i));
    connect_pairs(0.05);
    random_edges(200);
    random_noise();
    random_stimulations(150);
    set_base_level(0, 0.3f);
    random_pulses(6);
    run_and_compare(37, 1.0f);
    random_synapse_writes(100);  // private traces, changed parameter sets
    run_and_compare(13, 0.5f);
    auto saved = engine.save_state();
    ASSERT_TRUE(saved) << saved.error().message();
    auto copy = SimEngine::load_state(*saved);
    ASSERT_TRUE(copy) << copy.error().message();
    copy->set_threads(GetParam() % 3 + 1);
    copy->set_min_parallel_work(0.0);
    EXPECT_EQ(*copy->save_state(), *saved);
    for (int t = 0; t < 60; ++t) {
        const float dt = t < 30 ? 0.5f : 1.0f;
        auto a = engine.tick(dt);
        auto b = copy->tick(dt);
        ASSERT_EQ(sorted_ids(a, engine.t_ms()), sorted_ids(b, engine.t_ms())) << "tick " << t;
    }
    auto x = engine.all_node_params();
    auto y = copy->all_node_params();
    for (std::size_t i = 0; i < x.size(); ++i)
        ASSERT_TRUE(bits_equal(x[i].second, y[i].second)) << "neuron " << i;
    auto p = engine.all_synapse_params();
    auto q = copy->all_synapse_params();
    for (std::size_t i = 0; i < p.size(); ++i)
        ASSERT_TRUE(bits_equal(p[i].second, q[i].second)) << "synapse " << i;
    EXPECT_EQ(engine.modulator_levels(), copy->modulator_levels());
}

// Delays of 63, 64 and 65 ticks at the steps used (and a step of 0), where
// arrivals move between the recent-spike window and the ring, with edits,
// new delays and steps that hold for a few ticks between changes.
TEST_P(BitIdentity, DelaysAroundTheBitWindow) {
    delays = true;
    delay_choices = {0.0f, 1.0f, 2.0f, 32.0f, 32.5f, 63.0f, 63.6f, 64.0f, 64.4f, 65.0f, 100.0f};
    static_share = 0.3;
    plastic_share = 0.1;
    for (std::size_t i = 0; i < 120; ++i)
        add_neuron(fuzz.fresh_id(), model_config(i % 7 == 3 ? i : 0));
    connect_pairs(0.06);
    random_noise();
    random_stimulations(120);
    const float kSteps[] = {1.0f, 0.5f, 1.0f, 2.0f, 0.5f, 0.0f};
    for (int round = 0; round < 14; ++round) {
        const float dt = kSteps[round % std::size(kSteps)];
        run_and_compare(dt == 0.0f ? 3 : (round % 3 == 1 ? 150 : 70), dt);
        compare_state();
        random_edits(100, 40, 20);
        if (fuzz.chance(0.3))
            random_delays();
        if (fuzz.chance(0.3))
            random_noise();
    }
    const float kPattern[] = {1.0f, 1.0f, 0.5f, 0.5f, 0.5f, 1.0f, 1.0f, 1.0f, 2.0f};
    for (int t = 0; t < 300; ++t) {
        run_and_compare(1, kPattern[(t / 7) % std::size(kPattern)]);
        if (t % 37 == 5)
            random_synapse_writes(30);
    }
    compare_state();
    EXPECT_GT(total_spikes, 2000u);
}

// Delays of one tick onto the first half of the neurons and three onto the
// rest, so that on three threads the first shard delivers straight from its
// row walk while the others read recent spikes; weights written between
// ticks make every shard recompute what arrives next.
TEST_P(BitIdentity, OneTickShardBesideDelayedShards) {
    for (std::size_t i = 0; i < 150; ++i)
        add_neuron(fuzz.fresh_id());
    connect_pairs(0.06);
    random_stimulations(150);
    std::set<Uuid> first_half(node_ids.begin(), node_ids.begin() + node_ids.size() / 2);
    std::vector<float> d(ref.synapses.size());
    for (std::size_t i = 0; i < d.size(); ++i)
        d[i] = first_half.contains(ref.synapses[i]->post_id()) ? 1.0f : 3.0f;
    ASSERT_TRUE(engine.set_delays(d));
    ref.delays = d;
    for (int t = 0; t < 240; ++t) {
        run_and_compare(1, t >= 120 && t < 160 ? 0.5f : 1.0f);
        if (t % 9 == 4)
            random_synapse_writes(20);
    }
    compare_state();
    EXPECT_GT(total_spikes, 1000u);
}

// Few neurons firing among many, so that only those with spikes in the
// last 64 ticks are followed, then a burst that makes most of them fire and
// its end; delays up to 70 ms.
TEST_P(BitIdentity, SparseActivityWithDelays) {
    delays = true;
    static_share = 0.2;
    for (std::size_t i = 0; i < 700; ++i)
        add_neuron(fuzz.fresh_id());
    for (std::size_t k = 0; k < 4000; ++k) {
        const Uuid& pre = node_ids[fuzz.below(node_ids.size())];
        const Uuid& post = node_ids[fuzz.below(node_ids.size())];
        add_edge(fuzz.fresh_id(), pre, post, static_cast<float>(fuzz.uniform(0.0, 1.0)));
    }
    auto drive = [&](std::size_t count, float current, float duration) {
        for (std::size_t k = 0; k < count; ++k) {
            const Uuid& id = node_ids[fuzz.below(node_ids.size())];
            engine.stimulate(id, current, duration);
            ref.stimulate(id, current, duration);
        }
    };
    drive(12, 40.0f, 400.0f);
    run_and_compare(120, 1.0f);
    drive(600, 40.0f, 30.0f);
    run_and_compare(100, 1.0f);
    run_and_compare(60, 0.5f);
    compare_state();
    EXPECT_GT(total_spikes, 1000u);
}

INSTANTIATE_TEST_SUITE_P(Threads, BitIdentity, ::testing::Values(1, 2, 3));

// Documents that are not checkpoints of this version are refused with the
// state error texts, whatever part is broken.
TEST(Checkpoint, RefusesForeignNewerAndBrokenDocuments) {
    SimEngine e;
    e.add_neuron(testing_id(1), LifConfig{});
    e.add_neuron(testing_id(2), LifConfig{});
    e.add_edge(testing_id(3), testing_id(1), testing_id(2), StdpConfig{}, 0.5f);
    e.tick(1.0f);
    const std::string good = *e.save_state();
    ASSERT_TRUE(SimEngine::load_state(good));
    auto error = [](const std::string& doc) {
        auto r = SimEngine::load_state(doc);
        return r ? std::string("accepted") : r.error().message();
    };
    std::string tag = good;
    tag.replace(tag.find("cortex.state"), 12, "cortex.other");
    EXPECT_EQ(error(tag), "state format tag 'cortex.other' is not 'cortex.state'");
    std::string newer = good;
    newer.replace(newer.find("\"version\":1"), 11, "\"version\":2");
    EXPECT_EQ(error(newer), "state version 2 is not supported (max 1)");
    EXPECT_EQ(error("{\"format\""),
              "state JSON parse error: syntax error while parsing object separator - unexpected "
              "end of input; expected ':' at line 1 column 9");
    EXPECT_EQ(
        error(good.substr(0, good.size() - 8)).rfind("state JSON parse error: the payload has", 0),
        0u);
    // Every byte of the payload altered in turn never crashes the reader.
    const std::size_t payload = good.find('\n') + 1;
    for (std::size_t i = payload; i < good.size(); ++i) {
        std::string bent = good;
        bent[i] = static_cast<char>(bent[i] ^ 0xA5);
        (void)SimEngine::load_state(bent);
    }
}

}  // namespace
}  // namespace vorn
