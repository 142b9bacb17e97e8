#include "core/models/adex_neuron.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace vorn {
namespace {

constexpr AdExConfig kTonic{.c_m = 200.0f,
                            .g_l = 10.0f,
                            .e_l = -70.0f,
                            .v_t = -50.0f,
                            .delta_t = 2.0f,
                            .v_peak = 0.0f,
                            .v_reset = -58.0f,
                            .tau_w = 30.0f,
                            .a = 2.0f,
                            .b = 60.0f};

Uuid test_id() {
    return Uuid::parse("a8098c1a-f86e-41d1-80b4-00c04fd430c8").value();
}

TEST(AdExNeuron, FirstStepMovesOnlyThroughTheExponentialTerm) {
    AdExConfig near_threshold = kTonic;
    near_threshold.e_l = -55.0f;
    AdExNeuron n(test_id(), near_threshold);
    EXPECT_EQ(n.membrane_potential(), -55.0f);
    EXPECT_EQ(n.last_v(), -55.0f);
    EXPECT_EQ(n.w(), 0.0f);

    EXPECT_FALSE(n.step_impl(0.5f, 0.0f));
    // (v - v_t) / delta_t = -2.5: dv = 2 * 10 * e^-2.5 / 200, no leak, no w.
    const double dv = 2.0 * 10.0 * std::exp(-2.5) / 200.0;
    EXPECT_NEAR(n.membrane_potential(), -55.0 + 0.5 * dv, 1e-5);
    EXPECT_EQ(n.w(), 0.0f);  // (v - e_l) * a - w = 0 on the first step
    EXPECT_EQ(n.last_v(), -55.0f);

    n.step_impl(0.5f, 500.0f);
    n.reset();
    EXPECT_EQ(n.membrane_potential(), -55.0f);
    EXPECT_EQ(n.w(), 0.0f);
}

TEST(AdExNeuron, ExponentIsCappedAndNaNQuotientTakesTheCap) {
    // (v - v_t) / delta_t = 200 would overflow exp in single precision.
    AdExConfig far = kTonic;
    far.e_l = 0.0f;
    far.v_t = -200.0f;
    far.delta_t = 1.0f;
    far.v_peak = 1e30f;
    AdExNeuron n(test_id(), far);
    EXPECT_FALSE(n.step_impl(1.0f, 0.0f));
    ASSERT_TRUE(std::isfinite(n.membrane_potential()));
    EXPECT_NEAR(n.membrane_potential(), 1.0 * 10.0 * std::exp(20.0) / 200.0, 1e-5 * std::exp(20.0));

    // delta_t = 0 at v = v_t gives 0/0; with the cap the term is 0 * e^20 = 0.
    AdExConfig flat = kTonic;
    flat.delta_t = 0.0f;
    flat.v_t = flat.e_l;
    AdExNeuron z(test_id(), flat);
    EXPECT_FALSE(z.step_impl(1.0f, 0.0f));
    EXPECT_EQ(z.membrane_potential(), flat.e_l);
}

TEST(AdExNeuron, SpikesResetAndAdapt) {
    AdExNeuron n(test_id(), kTonic);
    int spikes = 0;
    float w_before = 0.0f;
    for (int i = 0; i < 2000; ++i) {
        w_before = n.w();
        if (n.step_impl(0.1f, 500.0f)) {
            ++spikes;
            EXPECT_EQ(n.membrane_potential(), kTonic.v_reset);
            EXPECT_GT(n.w(), w_before + kTonic.b * 0.5f);
        }
    }
    EXPECT_GE(spikes, 2);

    // A reset at or above the peak spikes on every step without integrating.
    AdExConfig stuck = kTonic;
    stuck.e_l = 5.0f;
    stuck.v_reset = 10.0f;
    stuck.b = 0.5f;
    AdExNeuron s(test_id(), stuck);
    for (int i = 1; i <= 4; ++i) {
        EXPECT_TRUE(s.step_impl(1.0f, 0.0f));
        EXPECT_EQ(s.membrane_potential(), 10.0f);
        EXPECT_EQ(s.w(), 0.5f * static_cast<float>(i));
    }
    EXPECT_EQ(s.last_v(), 10.0f);
}

TEST(AdExNeuron, SnapshotAndFixedParameters) {
    AdExNeuron n(test_id(), kTonic);
    const JsonValue before = n.snapshot();
    std::string keys;
    for (const auto& [k, v] : before.as_object()) {
        keys += k + ",";
    }
    EXPECT_EQ(keys, "config,id,last_v,v,w,");
    std::string cfg_keys;
    for (const auto& [k, v] : before.as_object().find("config")->as_object()) {
        cfg_keys += k + ",";
    }
    EXPECT_EQ(cfg_keys, "a,b,c_m,delta_t,e_l,g_l,tau_w,v_peak,v_reset,v_t,");
    for (const char* key : {"b", "v", "w", "tau_w"}) {
        EXPECT_EQ(n.set_param(key, JsonValue::unsigned_int(1)).error().message(),
                  "unknown parameter '" + std::string(key) + "'");
    }
    EXPECT_EQ(n.snapshot(), before);
}

}  // namespace
}  // namespace vorn
