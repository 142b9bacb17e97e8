#include "core/engine/stdp_synapse.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/cpp/util/test_support.hpp"

namespace vorn {
namespace {

using testing::error_text;
using testing::synapse_tick;

Uuid id_of(std::uint8_t b) {
    return testing::test_id(0, b);
}

StdpSynapse fresh(float weight) {
    return StdpSynapse(id_of(1), id_of(2), id_of(3), weight);
}

TEST(StdpSynapse, InitialWeightIsClampedAndCurrentNeedsAPreSpike) {
    EXPECT_EQ(fresh(1.7f).weight(), 1.0f);
    EXPECT_EQ(fresh(-0.2f).weight(), 0.0f);
    StdpSynapse s = fresh(0.7f);
    EXPECT_EQ(s.synaptic_current(true), 0.7f * 80.0f);
    EXPECT_EQ(s.synaptic_current(false), 0.0f);
    EXPECT_STREQ(s.kind(), "stdp");
}

// Known answers of the pair rule from weight 0.5 with the default parameters.
TEST(StdpSynapse, PairRule) {
    const float d1 = std::exp(-1.0f / 20.0f), d2 = std::exp(-2.0f / 20.0f);
    struct Step {
        float dt;
        bool pre, post;
    };
    const struct {
        std::vector<Step> steps;
        float weight, pre_trace, post_trace;
    } cases[] = {
        {{{1, true, false}}, 0.5f, 1.0f, 0.0f},                                // pre alone
        {{{1, true, false}, {1, false, true}}, 0.5f + 0.01f * d1, d1, 1.0f},   // pre, then post
        {{{2, false, true}, {2, true, false}}, 0.5f - 0.012f * d2, 1.0f, d2},  // post, then pre
        {{{1, true, true}}, 0.5f + 0.01f, 1.0f, 1.0f},  // coincident: pre before post
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        StdpSynapse s = fresh(0.5f);
        for (const Step& st : cases[i].steps)
            s.update(synapse_tick(st.dt, st.pre, st.post));
        EXPECT_EQ(s.weight(), cases[i].weight);
        EXPECT_EQ(s.pre_trace, cases[i].pre_trace);
        EXPECT_EQ(s.post_trace, cases[i].post_trace);
    }
}

TEST(StdpSynapse, UpdatesClampToTheBounds) {
    StdpSynapse s = fresh(0.995f);
    ASSERT_TRUE(s.set_param("a_plus", JsonValue::number(0.5)));
    s.update(synapse_tick(1.0f, true, true));
    EXPECT_EQ(s.weight(), 1.0f);
    ASSERT_TRUE(s.set_param("a_minus", JsonValue::number(1)));
    ASSERT_TRUE(s.set_param("w_min", JsonValue::number(0.25)));
    s.update(synapse_tick(1.0f, true, false));
    EXPECT_EQ(s.weight(), 0.25f);
    s.set_weight(-3.0f);
    EXPECT_EQ(s.weight(), 0.25f);
    s.set_weight(3.0f);
    EXPECT_EQ(s.weight(), 1.0f);
}

TEST(StdpSynapse, BoundsReclampTheWeight) {
    StdpSynapse s = fresh(0.5f);
    auto r = s.set_param("w_max", JsonValue::number(0.3));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->as_object().find("weight")->to_double(), static_cast<double>(0.3f));
    EXPECT_EQ(s.weight(), 0.3f);
    ASSERT_TRUE(s.set_param("w_min", JsonValue::number(0.3)));
    EXPECT_EQ(error_text(s.set_param("w_max", JsonValue::number(0.2))),
              "parameter 'w_max' out of range: must be >= w_min");
    EXPECT_EQ(error_text(s.set_param("w_min", JsonValue::number(0.4))),
              "parameter 'w_min' out of range: must be <= w_max");
    ASSERT_TRUE(s.set_param("w_max", JsonValue::number(1)));
    ASSERT_TRUE(s.set_param("w_min", JsonValue::number(0.6)));
    EXPECT_EQ(s.weight(), 0.6f);
    // "weight" is bounded by the current w_min and w_max.
    EXPECT_EQ(error_text(s.set_param("weight", JsonValue::number(0.5))),
              "parameter 'weight' out of range: must be in [0.6, 1]");
}

TEST(StdpSynapse, SetParamTableAndTexts) {
    StdpSynapse s = fresh(0.5f);
    struct Case {
        const char* key;
        double bad;
        const char* reason;
    };
    const Case cases[] = {
        {"g_syn", 20000, "must be in [0, 10000]"},
        {"a_plus", 1.5, "must be in [0, 1]"},
        {"a_minus", -0.1, "must be in [0, 1]"},
        {"tau_plus", 0.0005, "must be in [0.001, 10000]"},
        {"tau_minus", 10001, "must be in [0.001, 10000]"},
        {"pre_trace", -5, "must be in [0, 1000000]"},
        {"post_trace", 2e6, "must be in [0, 1000000]"},
        {"w_min", 1.5, "must be in [0, 1]"},
        {"weight", 1.5, "must be in [0, 1]"},
    };
    JsonValue before = s.snapshot();
    for (const Case& c : cases) {
        EXPECT_EQ(error_text(s.set_param(c.key, JsonValue::number(c.bad))),
                  std::string("parameter '") + c.key + "' out of range: " + c.reason);
    }
    for (const char* key : {"id", "pre_id", "post_id"}) {
        EXPECT_EQ(error_text(s.set_param(key, JsonValue::string("x"))),
                  std::string("parameter '") + key +
                      "' cannot be set right now: identity/topology fields are immutable; use "
                      "graph edit APIs");
    }
    for (const char* key : {"tau_plus_ms", "tag", ""}) {
        EXPECT_EQ(error_text(s.set_param(key, JsonValue::number(1))),
                  std::string("unknown parameter '") + key + "'");
    }
    EXPECT_EQ(s.snapshot(), before);

    auto r = s.set_param("tau_minus", JsonValue::unsigned_int(30));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->as_object().find("tau_minus")->to_double(), 30.0);
    EXPECT_EQ(s.tau_minus, 30.0f);
}

TEST(StdpSynapse, SnapshotHasThirteenKeysWithIds) {
    JsonValue snap = fresh(0.5f).snapshot();
    const JsonObject& o = snap.as_object();
    EXPECT_EQ(testing::keys_of(snap),
              "a_minus,a_plus,g_syn,id,post_id,post_trace,pre_id,pre_trace,tau_minus,tau_plus,"
              "w_max,w_min,weight,");
    EXPECT_EQ(o.find("pre_id")->as_string(), id_of(2).to_string());
    EXPECT_EQ(o.find("post_id")->as_string(), id_of(3).to_string());
    EXPECT_EQ(o.find("a_minus")->to_double(), static_cast<double>(0.012f));
}

}  // namespace
}  // namespace vorn
