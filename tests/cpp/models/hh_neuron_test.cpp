#include "core/models/hh_neuron.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace vorn {
namespace {

HhConfig standard_config(Integrator integrator = Integrator::Euler) {
    return {.c_m = 1.0f,
            .g_na = 120.0f,
            .g_k = 36.0f,
            .g_l = 0.3f,
            .e_na = 50.0f,
            .e_k = -77.0f,
            .e_l = -54.387f,
            .v_rest = -65.0f,
            .v_spike_thresh = 0.0f,
            .refractory_ms = 2.0f,
            .integrator = integrator};
}

Uuid test_id() {
    return Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e").value();
}

double num(const JsonValue& snap, std::string_view key) {
    return snap.as_object().find(key)->to_double();
}

void expect_same_state(const HhNeuron& a, const HhNeuron& b) {
    EXPECT_EQ(a.state().v, b.state().v);
    EXPECT_EQ(a.state().m, b.state().m);
    EXPECT_EQ(a.state().h, b.state().h);
    EXPECT_EQ(a.state().n, b.state().n);
    EXPECT_EQ(a.refractory_left(), b.refractory_left());
}

TEST(HhRates, GuardedValuesAndContinuity) {
    EXPECT_EQ(hh_rates(-40.0f).alpha_m, 1.0f);
    EXPECT_EQ(hh_rates(-55.0f).alpha_n, 0.1f);
    // The guard replaces a 0/0 form by its limit: nearby values must agree.
    EXPECT_NEAR(hh_rates(-40.01f).alpha_m, 1.0f, 1e-3);
    EXPECT_NEAR(hh_rates(-39.99f).alpha_m, 1.0f, 1e-3);
    EXPECT_NEAR(hh_rates(-55.01f).alpha_n, 0.1f, 1e-4);
    EXPECT_NEAR(hh_rates(-54.99f).alpha_n, 0.1f, 1e-4);
    EXPECT_EQ(hh_rates(-35.0f).beta_h, 0.5f);
    EXPECT_EQ(hh_rates(-65.0f).beta_m, 4.0f);
}

TEST(HhRates, SteadyStateIsAFixedPointOfTheGates) {
    const HhState rest = hh_steady_state(-65.0f);
    EXPECT_NEAR(rest.m, 0.052932, 1e-6);
    EXPECT_NEAR(rest.h, 0.596121, 1e-6);
    EXPECT_NEAR(rest.n, 0.317677, 1e-6);
    const HhConfig cfg = standard_config();
    const HhState d0 = hh_derivative(cfg, rest, 0.0f);
    EXPECT_NEAR(d0.m, 0.0f, 1e-6);
    EXPECT_NEAR(d0.h, 0.0f, 1e-6);
    EXPECT_NEAR(d0.n, 0.0f, 1e-6);
    // With these conductances -65 mV is (nearly) the resting potential.
    EXPECT_NEAR(d0.v, 0.0f, 0.01);
    // The input current enters dV with a positive sign, scaled by 1/c_m.
    HhConfig big_c = cfg;
    big_c.c_m = 2.0f;
    EXPECT_NEAR(hh_derivative(big_c, rest, 10.0f).v - hh_derivative(big_c, rest, 0.0f).v, 5.0f,
                1e-4);
}

TEST(HhSubSteps, CountsAndLengths) {
    auto euler = hh_sub_steps(1.0f, Integrator::Euler);
    EXPECT_EQ(euler.count, 100u);
    EXPECT_EQ(euler.length, 0.01f);
    auto rk4 = hh_sub_steps(1.0f, Integrator::Rk4);
    EXPECT_EQ(rk4.count, 20u);
    EXPECT_EQ(rk4.length, 0.05f);
    auto euler_short = hh_sub_steps(0.025f, Integrator::Euler);
    EXPECT_EQ(euler_short.count, 3u);
    EXPECT_FLOAT_EQ(euler_short.length, 0.025f / 3.0f);
    auto rk4_short = hh_sub_steps(0.025f, Integrator::Rk4);
    EXPECT_EQ(rk4_short.count, 1u);
    EXPECT_EQ(rk4_short.length, 0.025f);

    // At or below the limit: exactly one sub-step of the whole step.
    for (float dt : {kHhEulerMaxSubStepMs, 0.004f, 0.0f, -1.0f}) {
        auto s = hh_sub_steps(dt, Integrator::Euler);
        EXPECT_EQ(s.count, 1u);
        EXPECT_EQ(s.length, dt);
    }
    EXPECT_EQ(hh_sub_steps(kHhRk4MaxSubStepMs, Integrator::Rk4).count, 1u);
    auto just_over = hh_sub_steps(std::nextafter(kHhRk4MaxSubStepMs, 1.0f), Integrator::Rk4);
    EXPECT_GE(just_over.count, 1u);
    EXPECT_LE(just_over.count, 2u);

    // Pathological step lengths give a bounded, non-zero count.
    auto nan = hh_sub_steps(std::numeric_limits<float>::quiet_NaN(), Integrator::Euler);
    EXPECT_EQ(nan.count, 1u);
    EXPECT_TRUE(std::isnan(nan.length));
    EXPECT_EQ(hh_sub_steps(std::numeric_limits<float>::infinity(), Integrator::Rk4).count,
              kHhMaxSubSteps);
    EXPECT_EQ(hh_sub_steps(3e38f, Integrator::Euler).count, kHhMaxSubSteps);
}

TEST(HhNeuron, CreationResetAndSnapshot) {
    HhNeuron n(test_id(), standard_config());
    const HhState rest = hh_steady_state(-65.0f);
    EXPECT_EQ(n.state().v, -65.0f);
    EXPECT_EQ(n.v_prev(), -65.0f);
    EXPECT_EQ(n.refractory_left(), 0.0f);
    EXPECT_EQ(n.state().m, rest.m);
    EXPECT_EQ(n.state().h, rest.h);
    EXPECT_EQ(n.state().n, rest.n);

    const JsonValue snap = n.snapshot();
    std::vector<std::string> keys;
    for (const auto& [k, v] : snap.as_object()) {
        keys.push_back(k);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"cfg", "h", "id", "m", "n", "refractory_left", "v",
                                              "v_prev"}));
    std::vector<std::string> cfg_keys;
    for (const auto& [k, v] : snap.as_object().find("cfg")->as_object()) {
        cfg_keys.push_back(k);
    }
    EXPECT_EQ(cfg_keys, (std::vector<std::string>{"c_m", "e_k", "e_l", "e_na", "g_k", "g_l", "g_na",
                                                  "integrator", "refractory_ms", "v_rest",
                                                  "v_spike_thresh"}));
    const JsonValue& cfg = *snap.as_object().find("cfg");
    EXPECT_EQ(cfg.as_object().find("integrator")->as_string(), "euler");
    EXPECT_EQ(num(cfg, "e_l"), static_cast<double>(-54.387f));
    EXPECT_EQ(snap.as_object().find("id")->as_string(), "0f8fad5b-d9cb-469f-a165-70867728950e");
    EXPECT_EQ(HhNeuron(test_id(), standard_config(Integrator::Rk4))
                  .snapshot()
                  .as_object()
                  .find("cfg")
                  ->as_object()
                  .find("integrator")
                  ->as_string(),
              "rk4");

    // reset() rebuilds the creation state from the current configuration.
    for (int i = 0; i < 5; ++i) {
        n.step_impl(1.0f, 20.0f);
    }
    ASSERT_TRUE(n.set_param("v_rest", JsonValue::signed_int(-70)).has_value());
    EXPECT_NE(n.state().v, -70.0f);  // setting v_rest does not move v
    n.reset();
    HhConfig cold = standard_config();
    cold.v_rest = -70.0f;
    EXPECT_EQ(n.snapshot(), HhNeuron(test_id(), cold).snapshot());
}

TEST(HhNeuron, StaysAtRestWithoutInput) {
    for (Integrator integrator : {Integrator::Euler, Integrator::Rk4}) {
        HhNeuron n(test_id(), standard_config(integrator));
        for (int i = 0; i < 100; ++i) {
            EXPECT_FALSE(n.step_impl(1.0f, 0.0f));
        }
        EXPECT_NEAR(n.state().v, -65.0f, 0.5f);
    }
}

TEST(HhNeuron, LongTickEqualsItsSubStepsAsTicks) {
    // One tick of 1 ms runs exactly the sub-steps that 0.01 ms (Euler) or
    // 0.05 ms (RK4) ticks run one at a time.
    const struct {
        Integrator integrator;
        int fine_ticks;
        float fine_dt;
    } cases[] = {{Integrator::Euler, 100, 0.01f}, {Integrator::Rk4, 20, 0.05f}};
    for (const auto& c : cases) {
        HhNeuron coarse(test_id(), standard_config(c.integrator));
        HhNeuron fine(test_id(), standard_config(c.integrator));
        for (int tick = 0; tick < 3; ++tick) {
            coarse.step_impl(1.0f, 5.0f);
            for (int i = 0; i < c.fine_ticks; ++i) {
                fine.step_impl(c.fine_dt, 5.0f);
            }
        }
        expect_same_state(coarse, fine);
    }
}

TEST(HhNeuron, EulerAndRk4AgreeOnSpikeTimes) {
    std::vector<int> spikes[2];
    for (Integrator integrator : {Integrator::Euler, Integrator::Rk4}) {
        HhNeuron n(test_id(), standard_config(integrator));
        for (int tick = 0; tick < 500; ++tick) {
            if (n.step_impl(0.1f, 10.0f)) {
                spikes[static_cast<int>(integrator)].push_back(tick);
            }
        }
    }
    ASSERT_GE(spikes[0].size(), 3u);
    ASSERT_EQ(spikes[0].size(), spikes[1].size());
    for (std::size_t i = 0; i < spikes[0].size(); ++i) {
        EXPECT_NEAR(spikes[0][i], spikes[1][i], 2) << "spike " << i;
    }
}

TEST(HhNeuron, Rk4MatchesAFineEulerReferenceThroughAnUpstroke) {
    // Two milliseconds of drive end on the steep rise of a spike, where a
    // wrongly weighted RK4 stage is off by millivolts; Euler with 0.2 us
    // steps converges to the same value from below.
    HhNeuron rk4(test_id(), standard_config(Integrator::Rk4));
    HhNeuron reference(test_id(), standard_config(Integrator::Euler));
    for (int tick = 0; tick < 40; ++tick) {
        rk4.step_impl(0.05f, 10.0f);
        for (int i = 0; i < 250; ++i) {
            reference.step_impl(0.0002f, 10.0f);
        }
    }
    ASSERT_GT(reference.state().v, 0.0f);  // mid-upstroke
    EXPECT_NEAR(rk4.state().v, reference.state().v, 0.1f);
    EXPECT_NEAR(rk4.state().m, reference.state().m, 0.002f);
}

TEST(HhNeuron, OneReportPerStepAndNoCountdownOnTheSpikingStep) {
    // With fine ticks and no refractory period every crossing is reported.
    HhConfig cfg = standard_config();
    cfg.refractory_ms = 0.0f;
    HhNeuron fine(test_id(), cfg);
    int crossings = 0;
    for (int i = 0; i < 3000; ++i) {
        crossings += fine.step_impl(0.01f, 30.0f) ? 1 : 0;
    }
    ASSERT_GE(crossings, 2);

    // The same 30 ms as one tick: one report, refractory period not yet counted.
    cfg.refractory_ms = 7.0f;
    HhNeuron coarse(test_id(), cfg);
    EXPECT_TRUE(coarse.step_impl(30.0f, 30.0f));
    EXPECT_EQ(coarse.refractory_left(), 7.0f);
}

TEST(HhNeuron, RefractoryGatesOnlyTheReport) {
    // Start just below threshold with a strong input so the first tick crosses.
    auto primed = [](float refractory_left) {
        HhConfig cfg = standard_config();
        cfg.refractory_ms = 5.0f;
        HhNeuron n(test_id(), cfg);
        EXPECT_TRUE(n.set_param("v", JsonValue::signed_int(-10)).has_value());
        EXPECT_TRUE(n.set_param("refractory_left", JsonValue::number(refractory_left)).has_value());
        return n;
    };
    HhNeuron free = primed(0.0f);
    HhNeuron busy = primed(3.0f);
    HhNeuron ending = primed(0.5f);
    EXPECT_TRUE(free.step_impl(1.0f, 100.0f));
    EXPECT_FALSE(busy.step_impl(1.0f, 100.0f));
    // A step that starts refractory cannot report, even if its countdown ends.
    EXPECT_FALSE(ending.step_impl(1.0f, 100.0f));
    EXPECT_EQ(free.refractory_left(), 5.0f);
    EXPECT_EQ(busy.refractory_left(), 2.0f);
    EXPECT_EQ(ending.refractory_left(), 0.0f);
    EXPECT_EQ(free.state().v, busy.state().v);
    EXPECT_EQ(free.state().m, busy.state().m);
    EXPECT_EQ(free.v_prev(), -10.0f);

    // Countdown by the whole step length, once per non-spiking step.
    EXPECT_FALSE(busy.step_impl(1.5f, 0.0f));
    EXPECT_EQ(busy.refractory_left(), 0.5f);
    EXPECT_FALSE(busy.step_impl(1.5f, 0.0f));
    EXPECT_EQ(busy.refractory_left(), 0.0f);
    EXPECT_FALSE(std::signbit(busy.refractory_left()));
}

TEST(HhNeuron, ReportsNeedACrossingFromBelow) {
    HhNeuron above(test_id(), standard_config());
    ASSERT_TRUE(above.set_param("v", JsonValue::unsigned_int(20)).has_value());
    EXPECT_FALSE(above.step_impl(0.01f, 100.0f));

    // Under constant drive: reports only on ticks that begin below threshold,
    // and never within the refractory period after a report.
    HhNeuron n(test_id(), standard_config());
    int last = -1000;
    int reports = 0;
    for (int tick = 0; tick < 1000; ++tick) {
        if (n.step_impl(0.1f, 20.0f)) {
            ++reports;
            EXPECT_LT(n.v_prev(), 0.0f);
            EXPECT_GE(tick - last, 20);  // 2 ms refractory at 0.1 ms per tick
            last = tick;
        }
    }
    EXPECT_GE(reports, 5);
}

TEST(HhNeuron, PathologicalStepsDoNotHang) {
    HhNeuron n(test_id(), standard_config());
    EXPECT_FALSE(n.step_impl(std::numeric_limits<float>::quiet_NaN(), 0.0f));
    HhNeuron m(test_id(), standard_config(Integrator::Rk4));
    EXPECT_FALSE(m.step_impl(std::numeric_limits<float>::infinity(), 0.0f));
    HhNeuron z(test_id(), standard_config());
    EXPECT_FALSE(z.step_impl(0.0f, 50.0f));
    EXPECT_EQ(z.state().v, -65.0f);
}

TEST(HhNeuron, IntegratorSwitchAndMessages) {
    HhNeuron switched(test_id(), standard_config(Integrator::Euler));
    HhNeuron rk4(test_id(), standard_config(Integrator::Rk4));
    HhNeuron euler(test_id(), standard_config(Integrator::Euler));
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
    auto not_text = switched.set_param("integrator", JsonValue::unsigned_int(1));
    EXPECT_EQ(not_text.error().kind, ParamError::Kind::WrongType);
    EXPECT_EQ(not_text.error().message(),
              "parameter 'integrator' expects a string \"euler\" or \"rk4\"");
    auto upper = switched.set_param("integrator", JsonValue::string("RK4"));
    EXPECT_EQ(upper.error().kind, ParamError::Kind::OutOfRange);
    EXPECT_EQ(upper.error().message(),
              "parameter 'integrator' out of range: unknown integrator 'RK4'; expected 'euler' "
              "or 'rk4'");
    EXPECT_EQ(switched.snapshot(), before);
}

TEST(HhNeuron, ParameterRanges) {
    struct Range {
        const char* key;
        float lo, hi;
        const char* reason;
    };
    const Range ranges[] = {
        {"v", -120, 80, "must be in [-120, 80]"},
        {"m", 0, 1, "must be in [0, 1]"},
        {"h", 0, 1, "must be in [0, 1]"},
        {"n", 0, 1, "must be in [0, 1]"},
        {"refractory_left", 0, 100, "must be in [0, 100]"},
        {"e_na", -100, 200, "must be in [-100, 200]"},
        {"e_k", -200, 50, "must be in [-200, 50]"},
        {"e_l", -200, 50, "must be in [-200, 50]"},
        {"v_rest", -120, 50, "must be in [-120, 50]"},
        {"v_spike_thresh", -80, 80, "must be in [-80, 80]"},
        {"refractory_ms", 0, 1000, "must be in [0, 1000]"},
    };
    for (const Range& r : ranges) {
        SCOPED_TRACE(r.key);
        HhNeuron n(test_id(), standard_config());
        for (float ok : {r.lo, r.hi}) {
            auto snap = n.set_param(r.key, JsonValue::number(ok));
            ASSERT_TRUE(snap.has_value());
            const JsonValue* holder =
                snap->as_object().find(r.key) ? &*snap : snap->as_object().find("cfg");
            EXPECT_EQ(num(*holder, r.key), ok);
        }
        const JsonValue before = n.snapshot();
        for (float bad : {std::nextafter(r.lo, -1e9f), std::nextafter(r.hi, 1e9f)}) {
            auto err = n.set_param(r.key, JsonValue::number(bad));
            EXPECT_EQ(err.error().message(),
                      "parameter '" + std::string(r.key) + "' out of range: " + r.reason);
        }
        EXPECT_EQ(n.set_param(r.key, JsonValue::boolean(true)).error().message(),
                  "parameter '" + std::string(r.key) + "' expects a finite number");
        EXPECT_EQ(n.snapshot(), before);
    }
    for (const char* key : {"c_m", "g_na", "g_k", "g_l"}) {
        SCOPED_TRACE(key);
        HhNeuron n(test_id(), standard_config());
        EXPECT_EQ(n.set_param(key, JsonValue::unsigned_int(0)).error().message(),
                  "parameter '" + std::string(key) + "' out of range: must be > 0");
        auto tiny = n.set_param(key, JsonValue::number(1e-30));
        ASSERT_TRUE(tiny.has_value());
        EXPECT_EQ(num(*tiny->as_object().find("cfg"), key), static_cast<double>(1e-30f));
    }
    HhNeuron n(test_id(), standard_config());
    const JsonValue before = n.snapshot();
    for (const char* key : {"id", "v_prev", "cfg", "", "V", "integrator ", "tau_m"}) {
        auto err = n.set_param(key, JsonValue::unsigned_int(0));
        EXPECT_EQ(err.error().message(), "unknown parameter '" + std::string(key) + "'");
    }
    EXPECT_EQ(n.set_param("e_na", JsonValue::number(1e39)).error().message(),
              "parameter 'e_na' out of range: not finite");
    EXPECT_EQ(n.snapshot(), before);
}

TEST(HhConfigValidation, ReportsTheFirstBadField) {
    EXPECT_TRUE(validate_hh_config(standard_config()).has_value());
    EXPECT_TRUE(validate_hh_config(standard_config(Integrator::Rk4)).has_value());

    HhConfig cfg = standard_config();
    cfg.c_m = 0.0f;
    EXPECT_EQ(validate_hh_config(cfg).error().message(),
              "parameter 'c_m' out of range: must be > 0");
    cfg = standard_config();
    cfg.g_k = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(validate_hh_config(cfg).error().message(),
              "parameter 'g_k' out of range: not finite");
    cfg = standard_config();
    cfg.refractory_ms = -1.0f;
    cfg.e_na = 250.0f;
    EXPECT_EQ(validate_hh_config(cfg).error().message(),
              "parameter 'e_na' out of range: must be in [-100, 200]");
    cfg = standard_config();
    cfg.integrator = static_cast<Integrator>(7);
    EXPECT_EQ(validate_hh_config(cfg).error().key, "integrator");
    EXPECT_EQ(validate_hh_config(cfg).error().kind, ParamError::Kind::OutOfRange);
}

}  // namespace
}  // namespace vorn

namespace vorn {
namespace {

TEST(HhNeuron, GatesAreClampedWhenASubStepOvershoots) {
    // A strong hyperpolarising current drives v so low that the gate rates
    // make an Euler sub-step overshoot [0, 1]; the clamp keeps the gates in.
    HhNeuron n(test_id(), standard_config(Integrator::Euler));
    bool reached_bound = false;
    for (int i = 0; i < 200; ++i) {
        n.step_impl(0.05f, -200.0f);
        for (float g : {n.state().m, n.state().h, n.state().n}) {
            ASSERT_GE(g, 0.0f);
            ASSERT_LE(g, 1.0f);
            reached_bound = reached_bound || g == 0.0f || g == 1.0f;
        }
    }
    EXPECT_TRUE(reached_bound);
    EXPECT_TRUE(std::isfinite(n.state().v));
}

}  // namespace
}  // namespace vorn
