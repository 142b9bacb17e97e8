#include "core/models/lif_neuron.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace vorn {
namespace {

StepContext ctx_with_dt(float dt) {
    StepContext c;
    c.dt_ms = dt;
    return c;
}

std::string error_text(const std::expected<JsonValue, ParamError>& r) {
    return r ? std::string("<ok>") : r.error().message();
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
    EXPECT_FALSE(step());
    EXPECT_EQ(n.v, -70.0f);
    EXPECT_EQ(n.refractory_left, 1.0f);
    EXPECT_FALSE(step());
    EXPECT_EQ(n.v, -70.0f);
    EXPECT_EQ(n.refractory_left, 0.0f);
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

TEST(LifNeuron, SnapshotKeysAndValues) {
    Uuid id = Uuid::parse("00000000-0000-0000-0000-00000000002a").value();
    LifNeuron n(id);
    JsonValue snap = n.params();
    std::vector<std::string> keys;
    for (const auto& [k, v] : snap.as_object())
        keys.push_back(k);
    EXPECT_EQ(keys,
              (std::vector<std::string>{"epsc", "id", "refractory_left", "refractory_ms", "tau_m",
                                        "tau_syn", "v", "v_reset", "v_rest", "v_thresh"}));
    EXPECT_EQ(snap.as_object().find("id")->as_string(), id.to_string());
    EXPECT_EQ(snap.as_object().find("v_thresh")->to_double(), -50.0);
    n.epsc = std::numeric_limits<float>::infinity();
    EXPECT_TRUE(n.snapshot().as_object().find("epsc")->is_null());
}

TEST(LifNeuron, SetParamRangesAndTexts) {
    LifNeuron n(Uuid{});
    auto num = [](double d) { return JsonValue::number(d); };

    auto ok = n.set_param("v", num(50));
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->as_object().find("v")->to_double(), 50.0);
    EXPECT_EQ(error_text(n.set_param("v", num(50.5))),
              "parameter 'v' out of range: must be in [-100, 50]");
    EXPECT_EQ(error_text(n.set_param("v_rest", num(0.5))),
              "parameter 'v_rest' out of range: must be in [-100, 0]");
    EXPECT_EQ(error_text(n.set_param("v_thresh", num(-80.5))),
              "parameter 'v_thresh' out of range: must be in [-80, 50]");
    EXPECT_EQ(error_text(n.set_param("v_reset", num(-101))),
              "parameter 'v_reset' out of range: must be in [-100, 0]");
    EXPECT_EQ(error_text(n.set_param("tau_m", num(0))),
              "parameter 'tau_m' out of range: must be > 0");
    EXPECT_EQ(error_text(n.set_param("tau_syn", num(-1))),
              "parameter 'tau_syn' out of range: must be > 0");
    EXPECT_EQ(error_text(n.set_param("refractory_ms", num(1000.5))),
              "parameter 'refractory_ms' out of range: must be in [0, 1000] ms");
    EXPECT_EQ(error_text(n.set_param("v", JsonValue::boolean(true))),
              "parameter 'v' expects a finite number");
    EXPECT_EQ(error_text(n.set_param("epsc", num(1e39))),
              "parameter 'epsc' out of range: not finite");
    for (const char* key : {"id", "v_prev", "", "V", "tau_plus"}) {
        EXPECT_EQ(error_text(n.set_param(key, num(1))),
                  std::string("unknown parameter '") + key + "'");
    }

    // refractory_left admits one millisecond beyond refractory_ms.
    EXPECT_TRUE(n.set_param("refractory_left", num(3.0)));
    EXPECT_EQ(error_text(n.set_param("refractory_left", num(3.01))),
              "parameter 'refractory_left' out of range: must be in [0, refractory_ms]");
    ASSERT_TRUE(n.set_param("refractory_ms", num(5)));
    EXPECT_TRUE(n.set_param("refractory_left", num(6.0)));
    EXPECT_FALSE(n.set_param("refractory_left", num(-0.001)));

    EXPECT_TRUE(n.set_param("epsc", num(-1e6)));
    EXPECT_EQ(error_text(n.set_param("epsc", num(-1.000001e6))),
              "parameter 'epsc' out of range: magnitude too large; expected within ±1e6");

    // Integers coerce; ranges do not constrain each other; nothing else moves.
    ASSERT_TRUE(n.set_param("v_thresh", JsonValue::signed_int(-75)));
    EXPECT_EQ(n.v_thresh, -75.0f);
    EXPECT_EQ(n.v, 50.0f);
}

TEST(LifNeuron, RejectedWriteChangesNothing) {
    LifNeuron n(Uuid{});
    JsonValue before = n.snapshot();
    EXPECT_FALSE(n.set_param("v", JsonValue::number(60)));
    EXPECT_FALSE(n.set_param("tau_m", JsonValue::string("3")));
    EXPECT_FALSE(n.set_param("refractory_left", JsonValue::number(4)));
    EXPECT_EQ(n.snapshot(), before);
}

}  // namespace
}  // namespace vorn
