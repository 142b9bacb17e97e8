#include "core/engine/plastic_synapse.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "tests/cpp/util/test_support.hpp"

namespace vorn {
namespace {

// w bounds [0, 1], g_syn 80, a_plus 0.01, a_minus 0.012, trace taus 20 ms,
// eligibility 1 s, tag 10 s, learning rate 1, threshold 0.1, gain 1, target
// 5 Hz, homeostasis off, rate tau 1 s, consolidation 0.5.
constexpr PlasticSynapseConfig kConfig{0.0f,  1.0f,    80.0f,    0.01f, 0.012f, 20.0f,
                                       20.0f, 1000.0f, 10000.0f, 1.0f,  0.1f,   1.0f,
                                       5.0f,  0.0f,    1000.0f,  0.5f};

using testing::synapse_tick;

Uuid uuid(std::uint8_t last) {
    return testing::test_id(0, last);
}

PlasticSynapse make(float weight = 0.5f, const PlasticSynapseConfig& cfg = kConfig) {
    return PlasticSynapse(uuid(1), uuid(2), uuid(3), cfg, weight);
}

void set(PlasticSynapse& s, const char* key, double value) {
    ASSERT_TRUE(s.set_param(key, JsonValue::number(value)).has_value()) << key;
}

TEST(PlasticSynapse, CreationClampsWeightAndDeliversCurrent) {
    PlasticSynapseConfig narrow = kConfig;
    narrow.w_min = 0.2f;
    narrow.w_max = 0.6f;
    EXPECT_EQ(make(0.9f, narrow).weight(), 0.6f);
    EXPECT_EQ(make(0.1f, narrow).weight(), 0.2f);
    PlasticSynapse s = make(0.7f);
    EXPECT_FLOAT_EQ(s.synaptic_current(true), 56.0f);
    EXPECT_EQ(s.synaptic_current(false), 0.0f);
    EXPECT_STREQ(s.kind(), "plastic-synapse");
    s.set_weight(3.0f);
    EXPECT_EQ(s.weight(), 1.0f);
}

TEST(PlasticSynapse, SpikePairsBuildEligibilityNotWeight) {
    const float decay = std::exp(-1.0f / 20.0f);
    // Pre then post: potentiation credit from the decayed pre trace.
    PlasticSynapse ltp = make();
    ltp.update(synapse_tick(1.0f, true, false));
    EXPECT_EQ(ltp.state().pre_trace, 1.0f);
    EXPECT_EQ(ltp.state().eligibility_trace, 0.0f);
    ltp.update(synapse_tick(1.0f, false, true));
    EXPECT_FLOAT_EQ(ltp.state().eligibility_trace, 0.01f * decay);
    EXPECT_EQ(ltp.state().post_trace, 1.0f);
    EXPECT_EQ(ltp.weight(), 0.5f);

    // Post then pre: depression credit from the decayed post trace.
    PlasticSynapse ltd = make();
    ltd.update(synapse_tick(1.0f, false, true));
    ltd.update(synapse_tick(1.0f, true, false));
    EXPECT_FLOAT_EQ(ltd.state().eligibility_trace, -0.012f * decay);

    // Coincident spikes count as pre before post.
    PlasticSynapse both = make();
    both.update(synapse_tick(1.0f, true, true));
    EXPECT_FLOAT_EQ(both.state().eligibility_trace, 0.01f);
    EXPECT_EQ(both.weight(), 0.5f);
}

TEST(PlasticSynapse, ModulatedChangeOutsideTheDeadBand) {
    // dt 0 isolates the modulated change: no decay and no rate update.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float m, weight, eligibility;     // level, and the state before
        float new_weight, tag, new_elig;  // the state after
    } cases[] = {
        {0.3f, 0.5f, 0.5f, 0.6f, 0.1f, 0.25f},   // d = 0.2, delta = 0.2 * 0.5
        {-0.3f, 0.5f, 0.5f, 0.4f, 0.1f, 0.25f},  // d = -0.2, the tag grows by |delta|
        {0.05f, 0.5f, 0.5f, 0.5f, 0.0f, 0.5f},   // inside the band
        {-0.1f, 0.5f, 0.5f, 0.5f, 0.0f, 0.5f},   // on its edge
        {nan, 0.5f, 0.5f, 0.5f, 0.0f, 0.5f},
        {0.9f, 0.5f, 0.0f, 0.5f, 0.0f, 0.0f},   // no eligibility, no change
        {0.6f, 0.95f, 1.0f, 1.0f, 0.5f, 0.5f},  // clamped, full |delta| tagged
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m);
        PlasticSynapse s = make(c.weight);
        set(s, "eligibility_trace", c.eligibility);
        s.update(synapse_tick(0.0f, false, false, c.m));
        EXPECT_FLOAT_EQ(s.weight(), c.new_weight);
        EXPECT_FLOAT_EQ(s.state().tag, c.tag);
        EXPECT_FLOAT_EQ(s.state().eligibility_trace, c.new_elig);
    }
    // Gain and learning rate scale the change; the tag decays on its own.
    PlasticSynapse s = make();
    set(s, "eligibility_trace", 0.1);
    set(s, "learning_rate", 2.0);
    set(s, "dopamine_gain", 0.5);
    set(s, "dopamine_threshold", 0.0);
    set(s, "tau_tag_ms", 10.0);
    s.update(synapse_tick(0.0f, false, false, -1.0f));
    EXPECT_FLOAT_EQ(s.weight(), 0.4f);
    s.update(synapse_tick(10.0f, false, false));
    EXPECT_FLOAT_EQ(s.state().tag, 0.1f * std::exp(-1.0f));
}

TEST(PlasticSynapse, RateEstimateAndHomeostasis) {
    PlasticSynapse s = make();
    s.update(synapse_tick(1.0f, false, true));  // r = 1000 Hz, alpha = 0.001 / 1.001
    EXPECT_NEAR(s.state().observed_post_rate_hz, 1000.0 * 0.001 / 1.001, 1e-4);
    // Switched off, the weight never moves whatever the rates.
    set(s, "target_post_rate_hz", 1000.0);
    for (int i = 0; i < 200; ++i) {
        s.update(synapse_tick(1.0f, false, i % 3 == 0));
    }
    EXPECT_EQ(s.weight(), 0.5f);

    // Below target the weight grows by (1 + dt_s * rate * (target - observed)).
    PlasticSynapse up = make();
    set(up, "homeostatic_rate", 2.0);
    up.update(synapse_tick(1.0f, false, false));
    EXPECT_FLOAT_EQ(up.weight(), 0.5f * (1.0f + 0.001f * 2.0f * 5.0f));
    // Far above target it shrinks, down to w_min at most.
    set(up, "homeostatic_rate", 10.0);
    set(up, "observed_post_rate_hz", 100000.0);
    up.update(synapse_tick(1.0f, false, false));
    EXPECT_EQ(up.weight(), 0.0f);
    // dt 0: no spike rate and no change of the estimate.
    PlasticSynapse still = make();
    still.update(synapse_tick(0.0f, false, true));
    EXPECT_EQ(still.state().observed_post_rate_hz, 0.0f);
}

TEST(PlasticSynapse, SnapshotHasTwentyFiveKeys) {
    const JsonValue snap = make().snapshot();
    EXPECT_EQ(testing::keys_of(snap),
              "a_minus,a_plus,dopamine_gain,dopamine_threshold,eligibility_trace,g_syn,"
              "homeostatic_rate,id,learning_rate,observed_post_rate_hz,post_consolidation_decay,"
              "post_id,post_trace,pre_id,pre_trace,tag,target_post_rate_hz,tau_eligibility_ms,"
              "tau_minus_ms,tau_plus_ms,tau_rate_ms,tau_tag_ms,w_max,w_min,weight,");
    const JsonObject& o = snap.as_object();
    EXPECT_EQ(o.find("pre_id")->as_string(), uuid(2).to_string());
    EXPECT_EQ(o.find("a_plus")->to_double(), static_cast<double>(0.01f));
}

TEST(PlasticSynapse, SetParamRanges) {
    struct Range {
        const char* key;
        float lo, hi;
        const char* reason;
    };
    // One key of each kind of range: plain, open below zero, negative, and
    // the bounds with the weight they hold.
    const Range ranges[] = {
        {"g_syn", 0, 10000, "[0, 10000]"},
        {"tau_plus_ms", 0.001f, 10000, "[0.001, 10000]"},
        {"eligibility_trace", -1000000, 1000000, "[-1000000, 1000000]"},
        {"w_min", 0, 0.5f, "[0, 1]"},
        {"w_max", 0.5f, 1, "[0, 1]"},
        {"weight", 0, 1, "[0, 1]"},
    };
    for (const Range& r : ranges) {
        SCOPED_TRACE(r.key);
        PlasticSynapse s = make();
        for (float ok : {r.lo, r.hi}) {
            auto snap = s.set_param(r.key, JsonValue::number(ok));
            ASSERT_TRUE(snap.has_value());
            EXPECT_EQ(snap->as_object().find(r.key)->to_double(), static_cast<double>(ok));
            EXPECT_EQ(*snap, s.snapshot());
        }
        const JsonValue before = s.snapshot();
        const std::string prefix = "parameter '" + std::string(r.key) + "' ";
        // The bounds' own ranges; their ordering is checked separately.
        const bool is_bound = std::string(r.key) == "w_min" || std::string(r.key) == "w_max";
        const float below = is_bound ? -0.1f : std::nextafter(r.lo, -1e9f);
        const float above = is_bound ? 1.5f : std::nextafter(r.hi, 1e9f);
        for (float bad : {below, above}) {
            EXPECT_EQ(s.set_param(r.key, JsonValue::number(bad)).error().message(),
                      prefix + "out of range: must be in " + r.reason);
        }
        EXPECT_EQ(s.set_param(r.key, JsonValue::string("0.5")).error().kind,
                  ParamError::Kind::WrongType);
        EXPECT_EQ(s.snapshot(), before);
    }

    PlasticSynapse s = make();
    const JsonValue before = s.snapshot();
    for (const char* key : {"tag", "tau_plus", "tau_minus", "", "Weight"}) {
        EXPECT_EQ(s.set_param(key, JsonValue::number(0.5)).error().message(),
                  "unknown parameter '" + std::string(key) + "'");
    }
    for (const char* key : {"id", "pre_id", "post_id"}) {
        auto err = s.set_param(key, JsonValue::string(uuid(9).to_string()));
        EXPECT_EQ(err.error().kind, ParamError::Kind::NotSettable);
        EXPECT_EQ(err.error().message(),
                  "parameter '" + std::string(key) +
                      "' cannot be set right now: identity/topology fields are immutable; use "
                      "graph edit APIs");
    }
    EXPECT_EQ(s.snapshot(), before);

    // The bounds stay ordered and re-clamp the weight.
    s = make(0.5f);
    set(s, "w_max", 0.3);
    EXPECT_FLOAT_EQ(s.weight(), 0.3f);
    EXPECT_EQ(s.set_param("weight", JsonValue::number(0.4)).error().message(),
              "parameter 'weight' out of range: must be in [0, 0.3]");
    set(s, "w_min", 0.2);
    EXPECT_EQ(s.set_param("w_max", JsonValue::number(0.1)).error().message(),
              "parameter 'w_max' out of range: must be >= w_min");
    EXPECT_EQ(s.set_param("w_min", JsonValue::number(0.35)).error().message(),
              "parameter 'w_min' out of range: must be <= w_max");
    set(s, "w_min", 0.3);  // equal bounds are allowed
    EXPECT_FLOAT_EQ(s.weight(), 0.3f);
    set(s, "w_max", 1.0);
    set(s, "w_min", 0.8);
    EXPECT_FLOAT_EQ(s.weight(), 0.8f);
}

TEST(PlasticConfigValidation, ReportsTheFirstBadKey) {
    EXPECT_TRUE(validate_plastic_config(kConfig).has_value());
    PlasticSynapseConfig cfg = kConfig;
    cfg.w_min = 0.7f;
    cfg.w_max = 0.6f;
    cfg.g_syn = -1.0f;
    EXPECT_EQ(validate_plastic_config(cfg).error().message(),
              "parameter 'w_max' out of range: must be >= w_min");
    cfg = kConfig;
    cfg.tau_plus_ms = 0.0f;
    cfg.dopamine_gain = std::numeric_limits<float>::infinity();
    EXPECT_EQ(validate_plastic_config(cfg).error().message(),
              "parameter 'tau_plus_ms' out of range: must be in [0.001, 10000]");
    cfg.tau_plus_ms = 20.0f;
    EXPECT_EQ(validate_plastic_config(cfg).error().message(),
              "parameter 'dopamine_gain' out of range: not finite");
}

}  // namespace
}  // namespace vorn
