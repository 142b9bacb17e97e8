#include "core/models/hh_neuron.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "tests/cpp/util/test_support.hpp"

namespace vorn {
namespace {

using testing::keys_of;

HhConfig standard_config(Integrator integrator = Integrator::Euler) {
    return {1.0f, 120.0f, 36.0f, 0.3f, 50.0f, -77.0f, -54.387f, -65.0f, 0.0f, 2.0f, integrator};
}

HhNeuron make(Integrator integrator = Integrator::Euler) {
    return HhNeuron(Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e").value(),
                    standard_config(integrator));
}

void expect_same_state(const HhNeuron& a, const HhNeuron& b) {
    EXPECT_EQ(a.state().v, b.state().v);
    EXPECT_EQ(a.state().m, b.state().m);
    EXPECT_EQ(a.state().h, b.state().h);
    EXPECT_EQ(a.state().n, b.state().n);
}

TEST(HhNeuron, RatesRestingStateSnapshotAndReset) {
    EXPECT_EQ(hh_rates(-40.0f).alpha_m, 1.0f);
    EXPECT_EQ(hh_rates(-55.0f).alpha_n, 0.1f);
    // The guarded values are the limits of the 0/0 forms.
    EXPECT_NEAR(hh_rates(-40.01f).alpha_m, 1.0f, 1e-3);
    EXPECT_NEAR(hh_rates(-54.99f).alpha_n, 0.1f, 1e-4);

    HhNeuron n = make();
    EXPECT_NEAR(n.state().m, 0.052932, 1e-6);
    EXPECT_NEAR(n.state().h, 0.596121, 1e-6);
    EXPECT_NEAR(n.state().n, 0.317677, 1e-6);
    EXPECT_EQ(n.state().v, -65.0f);
    EXPECT_EQ(n.v_prev(), -65.0f);
    EXPECT_EQ(n.refractory_left(), 0.0f);
    // The resting gates are a fixed point of their equations.
    const HhState d = hh_derivative(n.config(), n.state(), 0.0f);
    EXPECT_NEAR(d.m, 0.0f, 1e-6);
    EXPECT_NEAR(d.h, 0.0f, 1e-6);
    EXPECT_NEAR(d.n, 0.0f, 1e-6);

    const JsonValue snap = n.snapshot();
    EXPECT_EQ(keys_of(snap), "cfg,h,id,m,n,refractory_left,v,v_prev,");
    const JsonValue& cfg = *snap.as_object().find("cfg");
    EXPECT_EQ(keys_of(cfg),
              "c_m,e_k,e_l,e_na,g_k,g_l,g_na,integrator,refractory_ms,v_rest,v_spike_thresh,");
    EXPECT_EQ(cfg.as_object().find("integrator")->as_string(), "euler");

    // reset() rebuilds the creation state from the current configuration.
    n.step_impl(5.0f, 20.0f);
    ASSERT_TRUE(n.set_param("v_rest", JsonValue::signed_int(-70)).has_value());
    EXPECT_NE(n.state().v, -70.0f);  // a new v_rest does not move v
    n.reset();
    HhConfig cold = standard_config();
    cold.v_rest = -70.0f;
    EXPECT_EQ(n.snapshot(), HhNeuron(n.id(), cold).snapshot());
}

TEST(HhNeuron, SubStepPlan) {
    const struct {
        float dt;
        Integrator integrator;
        std::uint32_t count;
        float length;
    } cases[] = {
        {1.0f, Integrator::Euler, 100, 0.01f},      {1.0f, Integrator::Rk4, 20, 0.05f},
        {0.025f, Integrator::Euler, 3, 0.025f / 3}, {0.025f, Integrator::Rk4, 1, 0.025f},
        {0.01f, Integrator::Euler, 1, 0.01f},       {0.05f, Integrator::Rk4, 1, 0.05f},
        {0.0f, Integrator::Euler, 1, 0.0f},         {-2.0f, Integrator::Rk4, 1, -2.0f},
    };
    for (const auto& c : cases) {
        const HhSubSteps s = hh_sub_steps(c.dt, c.integrator);
        EXPECT_EQ(s.count, c.count) << c.dt;
        EXPECT_FLOAT_EQ(s.length, c.length) << c.dt;
    }
    // NaN and huge steps give a bounded, non-zero count and do not hang.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(hh_sub_steps(nan, Integrator::Euler).count, 1u);
    EXPECT_EQ(hh_sub_steps(INFINITY, Integrator::Rk4).count, kHhMaxSubSteps);
    EXPECT_EQ(hh_sub_steps(3e38f, Integrator::Euler).count, kHhMaxSubSteps);
    HhNeuron n = make(Integrator::Rk4);
    EXPECT_FALSE(n.step_impl(nan, 0.0f));
    EXPECT_FALSE(n.step_impl(INFINITY, 0.0f));
}

TEST(HhNeuron, IntegratesCorrectly) {
    // One long tick runs exactly the sub-steps that short ticks run one by one.
    for (auto [integrator, ticks] : {std::pair{Integrator::Euler, 100}, {Integrator::Rk4, 20}}) {
        HhNeuron coarse = make(integrator);
        HhNeuron fine = make(integrator);
        coarse.step_impl(1.0f, 5.0f);
        for (int i = 0; i < ticks; ++i) {
            fine.step_impl(1.0f / static_cast<float>(ticks), 5.0f);
        }
        expect_same_state(coarse, fine);
    }
    // Two ms of drive end on the steep rise of a spike, where a wrongly
    // weighted RK4 stage is off by millivolts; Euler with 0.2 us steps agrees.
    HhNeuron rk4 = make(Integrator::Rk4);
    HhNeuron reference = make(Integrator::Euler);
    for (int tick = 0; tick < 40; ++tick) {
        rk4.step_impl(0.05f, 10.0f);
        for (int i = 0; i < 250; ++i) {
            reference.step_impl(0.0002f, 10.0f);
        }
    }
    ASSERT_GT(reference.state().v, 0.0f);
    EXPECT_NEAR(rk4.state().v, reference.state().v, 0.1f);
    EXPECT_NEAR(rk4.state().m, reference.state().m, 0.002f);

    // A strong hyperpolarising current makes Euler sub-steps overshoot the
    // gate range; the clamp keeps the gates within [0, 1].
    HhNeuron low = make();
    bool at_bound = false;
    for (int i = 0; i < 200; ++i) {
        low.step_impl(0.05f, -200.0f);
        for (float g : {low.state().m, low.state().h, low.state().n}) {
            ASSERT_TRUE(g >= 0.0f && g <= 1.0f) << g;
            at_bound = at_bound || g == 0.0f || g == 1.0f;
        }
    }
    EXPECT_TRUE(at_bound);
}

TEST(HhNeuron, SpikeReportsAndRefractoryPeriod) {
    // 30 ms of strong drive crosses the threshold several times, which fine
    // ticks report one by one; as a single tick it is one report and the
    // refractory period is not yet counted down.
    HhNeuron fine = make();
    ASSERT_TRUE(fine.set_param("refractory_ms", JsonValue::unsigned_int(0)).has_value());
    int crossings = 0;
    for (int i = 0; i < 3000; ++i) {
        crossings += fine.step_impl(0.01f, 30.0f) ? 1 : 0;
    }
    EXPECT_GE(crossings, 2);
    HhNeuron coarse = make();
    EXPECT_TRUE(coarse.step_impl(30.0f, 30.0f));
    EXPECT_EQ(coarse.refractory_left(), 2.0f);

    // Same crossing, different refractory time left: only the report differs.
    auto primed = [](double refractory_left) {
        HhNeuron n = make();
        EXPECT_TRUE(n.set_param("refractory_ms", JsonValue::unsigned_int(5)).has_value());
        EXPECT_TRUE(n.set_param("v", JsonValue::signed_int(-10)).has_value());
        EXPECT_TRUE(n.set_param("refractory_left", JsonValue::number(refractory_left)));
        return n;
    };
    HhNeuron free = primed(0.0), busy = primed(3.0), ending = primed(0.5);
    EXPECT_TRUE(free.step_impl(1.0f, 100.0f));
    EXPECT_FALSE(busy.step_impl(1.0f, 100.0f));
    EXPECT_FALSE(ending.step_impl(1.0f, 100.0f));  // its countdown ends within the step
    expect_same_state(free, busy);
    EXPECT_EQ(free.refractory_left(), 5.0f);
    EXPECT_EQ(busy.refractory_left(), 2.0f);  // the whole dt, not the sub-step
    EXPECT_EQ(ending.refractory_left(), 0.0f);
    busy.step_impl(1.5f, 0.0f);
    busy.step_impl(1.5f, 0.0f);
    EXPECT_EQ(busy.refractory_left(), 0.0f);
    EXPECT_FALSE(std::signbit(busy.refractory_left()));

    // Starting above threshold is no crossing.
    HhNeuron above = make();
    ASSERT_TRUE(above.set_param("v", JsonValue::unsigned_int(20)).has_value());
    EXPECT_FALSE(above.step_impl(0.01f, 100.0f));
}

TEST(HhNeuron, IntegratorSwitchAndMessages) {
    HhNeuron switched = make(Integrator::Euler), rk4 = make(Integrator::Rk4);
    HhNeuron euler = make(Integrator::Euler);
    auto snap = switched.set_param("integrator", JsonValue::string("rk4"));
    ASSERT_TRUE(snap.has_value());
    EXPECT_EQ(snap->as_object().find("cfg")->as_object().find("integrator")->as_string(), "rk4");
    for (HhNeuron* n : {&switched, &rk4, &euler}) {
        n->step_impl(1.0f, 15.0f);
    }
    expect_same_state(switched, rk4);
    EXPECT_NE(switched.state().v, euler.state().v);
    ASSERT_TRUE(switched.set_param("integrator", JsonValue::string("euler")).has_value());
    EXPECT_EQ(switched.config().integrator, Integrator::Euler);

    const JsonValue before = switched.snapshot();
    EXPECT_EQ(switched.set_param("integrator", JsonValue::unsigned_int(1)).error().message(),
              "parameter 'integrator' expects a string \"euler\" or \"rk4\"");
    EXPECT_EQ(switched.set_param("integrator", JsonValue::string("RK4")).error().message(),
              "parameter 'integrator' out of range: unknown integrator 'RK4'; expected 'euler' "
              "or 'rk4'");
    EXPECT_EQ(switched.snapshot(), before);
}

TEST(HhNeuron, ParameterRangesAndValidation) {
    const struct {
        const char* key;
        float lo, hi;
    } ranges[] = {{"v", -120, 80}, {"m", 0, 1}, {"e_na", -100, 200}, {"refractory_ms", 0, 1000}};
    for (const auto& r : ranges) {
        SCOPED_TRACE(r.key);
        HhNeuron n = make();
        for (float ok : {r.lo, r.hi}) {
            auto snap = n.set_param(r.key, JsonValue::number(ok));
            ASSERT_TRUE(snap.has_value());
            const JsonObject& top = snap->as_object();
            const JsonValue* field =
                top.find(r.key) ? top.find(r.key) : top.find("cfg")->as_object().find(r.key);
            EXPECT_EQ(field->to_double(), ok);
        }
        const JsonValue before = n.snapshot();
        const std::string range = "must be in [" + std::to_string(static_cast<int>(r.lo)) + ", " +
                                  std::to_string(static_cast<int>(r.hi)) + "]";
        for (float bad : {std::nextafter(r.lo, -1e9f), std::nextafter(r.hi, 1e9f)}) {
            EXPECT_EQ(n.set_param(r.key, JsonValue::number(bad)).error().message(),
                      "parameter '" + std::string(r.key) + "' out of range: " + range);
        }
        EXPECT_EQ(n.snapshot(), before);
    }
    HhNeuron n = make();
    for (const char* key : {"c_m", "g_na", "g_k", "g_l"}) {
        EXPECT_EQ(n.set_param(key, JsonValue::unsigned_int(0)).error().message(),
                  "parameter '" + std::string(key) + "' out of range: must be > 0");
        EXPECT_TRUE(n.set_param(key, JsonValue::number(1e-30)).has_value());
    }
    for (const char* key : {"id", "v_prev", "cfg", "", "V", "tau_m"}) {
        EXPECT_EQ(n.set_param(key, JsonValue::unsigned_int(0)).error().message(),
                  "unknown parameter '" + std::string(key) + "'");
    }

    // Whole configurations: the same rules, first bad field in field order.
    EXPECT_TRUE(validate_hh_config(standard_config(Integrator::Rk4)).has_value());
    HhConfig cfg = standard_config();
    cfg.g_k = std::numeric_limits<float>::quiet_NaN();
    cfg.refractory_ms = -1.0f;
    EXPECT_EQ(validate_hh_config(cfg).error().message(),
              "parameter 'g_k' out of range: not finite");
    cfg.g_k = 36.0f;
    EXPECT_EQ(validate_hh_config(cfg).error().message(),
              "parameter 'refractory_ms' out of range: must be in [0, 1000]");
    cfg = standard_config();
    cfg.integrator = static_cast<Integrator>(7);
    EXPECT_EQ(validate_hh_config(cfg).error().key, "integrator");
}

}  // namespace
}  // namespace vorn
