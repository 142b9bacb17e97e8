#include "core/models/adex_neuron.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/cpp/util/test_support.hpp"

namespace vorn {
namespace {

constexpr AdExConfig kConfig{.c_m = 200.0f,
                             .g_l = 10.0f,
                             .e_l = -55.0f,
                             .v_t = -50.0f,
                             .delta_t = 2.0f,
                             .v_peak = 0.0f,
                             .v_reset = -58.0f,
                             .tau_w = 30.0f,
                             .a = 2.0f,
                             .b = 60.0f};

TEST(AdExNeuron, FirstStepMovesOnlyThroughTheExponentialTerm) {
    AdExNeuron n(Uuid{}, kConfig);
    EXPECT_EQ(n.membrane_potential(), -55.0f);
    EXPECT_EQ(n.last_v(), -55.0f);
    EXPECT_EQ(n.w(), 0.0f);
    EXPECT_FALSE(n.step_impl(0.5f, 0.0f));
    // (v - v_t) / delta_t = -2.5: dv = 2 * 10 * e^-2.5 / 200, no leak, no w.
    EXPECT_NEAR(n.membrane_potential(), -55.0 + 0.5 * (20.0 * std::exp(-2.5) / 200.0), 1e-5);
    EXPECT_EQ(n.w(), 0.0f);
    n.step_impl(0.5f, 500.0f);
    n.reset();
    EXPECT_EQ(n.snapshot(), AdExNeuron(Uuid{}, kConfig).snapshot());
}

TEST(AdExNeuron, ExponentIsCappedAndNaNQuotientTakesTheCap) {
    // A quotient of 200 would overflow exp in single precision.
    AdExConfig far = kConfig;
    far.e_l = 0.0f;
    far.v_t = -200.0f;
    far.delta_t = 1.0f;
    far.v_peak = 1e30f;
    AdExNeuron n(Uuid{}, far);
    EXPECT_FALSE(n.step_impl(1.0f, 0.0f));
    EXPECT_NEAR(n.membrane_potential(), 10.0 * std::exp(20.0) / 200.0, 1e-5 * std::exp(20.0));
    // delta_t 0 at v = v_t is 0/0; with the cap the term is 0 * e^20 = 0.
    AdExConfig flat = kConfig;
    flat.delta_t = 0.0f;
    flat.v_t = flat.e_l;
    AdExNeuron z(Uuid{}, flat);
    EXPECT_FALSE(z.step_impl(1.0f, 0.0f));
    EXPECT_EQ(z.membrane_potential(), flat.e_l);
}

TEST(AdExNeuron, SpikesResetAndAdapt) {
    AdExNeuron n(Uuid{}, kConfig);
    int step = 0;
    while (!n.step_impl(0.1f, 500.0f) && step < 1000) {
        ++step;
    }
    ASSERT_LT(step, 1000);
    EXPECT_EQ(n.membrane_potential(), kConfig.v_reset);
    EXPECT_GT(n.w(), kConfig.b);  // the integrated w plus b
    // Resting and reset at or above the peak: a spike on every step, no integration.
    AdExConfig stuck = kConfig;
    stuck.e_l = 5.0f;
    stuck.v_reset = 10.0f;
    stuck.b = 0.5f;
    AdExNeuron s(Uuid{}, stuck);
    for (int i = 1; i <= 4; ++i) {
        EXPECT_TRUE(s.step_impl(1.0f, 0.0f));
        EXPECT_EQ(s.membrane_potential(), 10.0f);
        EXPECT_EQ(s.w(), 0.5f * static_cast<float>(i));
    }
}

TEST(AdExNeuron, SnapshotAndFixedParameters) {
    AdExNeuron n(Uuid{}, kConfig);
    const JsonValue before = n.snapshot();
    EXPECT_EQ(testing::keys_of(before) + testing::keys_of(*before.as_object().find("config")),
              "config,id,last_v,v,w,a,b,c_m,delta_t,e_l,g_l,tau_w,v_peak,v_reset,v_t,");
    for (const char* key : {"b", "v", "w"}) {
        EXPECT_EQ(n.set_param(key, JsonValue::unsigned_int(1)).error().message(),
                  "unknown parameter '" + std::string(key) + "'");
    }
    EXPECT_EQ(n.snapshot(), before);
}

}  // namespace
}  // namespace vorn
