#include "core/models/lif_neuron.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/cpp/util/test_support.hpp"

namespace vorn {
namespace {

using testing::error_text;

StepContext ctx_with_dt(float dt) {
    StepContext c;
    c.dt_ms = dt;
    return c;
}

TEST(LifNeuron, RestsWithoutInput) {
    LifNeuron n(Uuid{});
    for (int i = 0; i < 50; ++i) {
        EXPECT_FALSE(n.step(ctx_with_dt(1.0f), 0.0f));
    }
    EXPECT_EQ(n.v, -65.0f);
    EXPECT_EQ(n.epsc, 0.0f);
}

TEST(LifNeuron, ConstantInputTrajectory) {
    LifNeuron n(Uuid{});
    auto step = [&] { return n.step(ctx_with_dt(1.0f), 40.0f); };
    EXPECT_FALSE(step());
    EXPECT_EQ(n.v, -63.0f);
    EXPECT_FALSE(step());
    EXPECT_NEAR(n.v, -59.4625f, 1e-4);
    EXPECT_FALSE(step());
    EXPECT_NEAR(n.v, -54.7613f, 1e-3);
    EXPECT_TRUE(step());
    EXPECT_EQ(n.v, -70.0f);
    EXPECT_EQ(n.refractory_left, 2.0f);
    for (float left : {1.0f, 0.0f}) {
        EXPECT_FALSE(step());
        EXPECT_EQ(n.v, -70.0f);
        EXPECT_EQ(n.refractory_left, left);
    }
    EXPECT_FALSE(step());
    EXPECT_NEAR(n.v, -61.4375f, 1e-3);
    EXPECT_FALSE(step());
    EXPECT_TRUE(step());  // step 9
}

TEST(LifNeuron, RefractoryEndsAtExactlyZeroAndResetEndsIt) {
    LifNeuron n(Uuid{});
    n.refractory_left = 0.5f;
    n.epsc = 3.0f;
    n.step(ctx_with_dt(1.0f), 0.0f);
    EXPECT_EQ(n.refractory_left, 0.0f);
    EXPECT_FALSE(std::signbit(n.refractory_left));
    EXPECT_EQ(n.v, n.v_reset);

    n.refractory_left = 1.5f;
    float epsc = n.epsc;
    n.reset();
    EXPECT_EQ(n.refractory_left, 0.0f);
    EXPECT_EQ(n.v, n.v_rest);
    EXPECT_EQ(n.epsc, epsc);
}

TEST(LifNeuron, NanStateNeverSpikes) {
    LifNeuron n(Uuid{});
    n.v = std::nanf("");
    EXPECT_FALSE(n.step(ctx_with_dt(1.0f), 100.0f));
    n.v = -65.0f;
    n.refractory_left = std::nanf("");  // counts as not refractory
    n.step(ctx_with_dt(1.0f), 0.0f);
    EXPECT_NE(n.v, n.v_reset);
}

TEST(LifNeuron, Snapshot) {
    Uuid id = Uuid::parse("00000000-0000-0000-0000-00000000002a").value();
    LifNeuron n(id);
    JsonValue snap = n.params();
    EXPECT_EQ(testing::keys_of(snap),
              "epsc,id,refractory_left,refractory_ms,tau_m,tau_syn,v,v_reset,v_rest,v_thresh,");
    EXPECT_EQ(snap.as_object().find("id")->as_string(), id.to_string());
    EXPECT_EQ(testing::number_at(snap, "v_thresh"), -50.0);
    n.epsc = std::numeric_limits<float>::infinity();
    EXPECT_TRUE(n.snapshot().as_object().find("epsc")->is_null());
}

TEST(LifNeuron, SetParamRangesAndTexts) {
    LifNeuron n(Uuid{});
    auto num = [](double d) { return JsonValue::number(d); };

    // Each refusal names its own range and leaves the neuron as it was.
    const struct {
        const char* key;
        double bad;
        const char* reason;
    } refused[] = {
        {"v", 50.5, "must be in [-100, 50]"},
        {"v_thresh", -80.5, "must be in [-80, 50]"},
        {"tau_m", 0, "must be > 0"},
        {"refractory_ms", 1000.5, "must be in [0, 1000] ms"},
        // refractory_left admits one millisecond beyond refractory_ms (2).
        {"refractory_left", 3.01, "must be in [0, refractory_ms]"},
        {"refractory_left", -0.001, "must be in [0, refractory_ms]"},
        {"epsc", -1.000001e6, "magnitude too large; expected within ±1e6"},
    };
    const JsonValue before = n.snapshot();
    for (const auto& r : refused) {
        EXPECT_EQ(error_text(n.set_param(r.key, num(r.bad))),
                  std::string("parameter '") + r.key + "' out of range: " + r.reason);
    }
    for (const char* key : {"id", "V", "tau_plus"}) {
        EXPECT_EQ(error_text(n.set_param(key, num(1))),
                  std::string("unknown parameter '") + key + "'");
    }
    EXPECT_EQ(n.snapshot(), before);

    auto ok = n.set_param("v", num(50));
    ASSERT_TRUE(ok);
    EXPECT_EQ(testing::number_at(*ok, "v"), 50.0);
    EXPECT_TRUE(n.set_param("refractory_left", num(3.0)));
    ASSERT_TRUE(n.set_param("refractory_ms", num(5)));
    EXPECT_TRUE(n.set_param("refractory_left", num(6.0)));
    EXPECT_TRUE(n.set_param("epsc", num(-1e6)));

    // Integers coerce; ranges do not constrain each other; nothing else moves.
    ASSERT_TRUE(n.set_param("v_thresh", JsonValue::signed_int(-75)));
    EXPECT_EQ(n.v_thresh, -75.0f);
    EXPECT_EQ(n.v, 50.0f);
}

}  // namespace
}  // namespace vorn
