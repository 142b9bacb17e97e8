#pragma once
// The Hodgkin-Huxley equations in single precision: gate rate functions, the
// derivative of (v, m, h, n), the resting steady state and the sub-step plan
// of one tick. Inline because the integrator calls them in its inner loop.

#include <cmath>
#include <cstdint>

#include "core/models/neuron_config.hpp"

namespace vorn {

// Membrane potential and the three gates; also used for their derivatives.
struct HhState {
    float v;  // mV (derivative: mV per ms)
    float m;  // sodium activation, in [0, 1]
    float h;  // sodium inactivation, in [0, 1]
    float n;  // potassium activation, in [0, 1]
};

// Opening and closing rates of the three gates, per ms.
struct HhRates {
    float alpha_m, beta_m;
    float alpha_h, beta_h;
    float alpha_n, beta_n;
};

// Rates at potential v (mV). alpha_m and alpha_n take their limit values 1.0
// and 0.1 where their 0/0 form would divide by (almost) zero; at most six
// exponentials per call.
inline HhRates hh_rates(float v) {
    HhRates r;
    const float xm = v + 40.0f;
    r.alpha_m = std::fabs(xm) < 0.0001f ? 1.0f : 0.1f * xm / (1.0f - std::exp(xm / -10.0f));
    r.beta_m = 4.0f * std::exp((v + 65.0f) / -18.0f);
    r.alpha_h = 0.07f * std::exp((v + 65.0f) / -20.0f);
    r.beta_h = 1.0f / (std::exp((v + 35.0f) / -10.0f) + 1.0f);
    const float xn = v + 55.0f;
    r.alpha_n = std::fabs(xn) < 0.0001f ? 0.1f : 0.01f * xn / (1.0f - std::exp(xn / -10.0f));
    r.beta_n = 0.125f * std::exp((v + 65.0f) / -80.0f);
    return r;
}

// Time derivative of the state under a constant input current.
inline HhState hh_derivative(const HhConfig& c, const HhState& s, float input) {
    const HhRates r = hh_rates(s.v);
    const float m3 = s.m * s.m * s.m;
    const float n4 = s.n * s.n * s.n * s.n;
    HhState d;
    d.v = (input - c.g_na * m3 * s.h * (s.v - c.e_na) - c.g_k * n4 * (s.v - c.e_k) -
           c.g_l * (s.v - c.e_l)) /
          c.c_m;
    d.m = (1.0f - s.m) * r.alpha_m - s.m * r.beta_m;
    d.h = (1.0f - s.h) * r.alpha_h - s.h * r.beta_h;
    d.n = (1.0f - s.n) * r.alpha_n - s.n * r.beta_n;
    return d;
}

// The gates at their steady state for a membrane held at v.
inline HhState hh_steady_state(float v) {
    const HhRates r = hh_rates(v);
    return {v, r.alpha_m / (r.alpha_m + r.beta_m), r.alpha_h / (r.alpha_h + r.beta_h),
            r.alpha_n / (r.alpha_n + r.beta_n)};
}

inline constexpr float kHhEulerMaxSubStepMs = 0.01f;
inline constexpr float kHhRk4MaxSubStepMs = 0.05f;
// Upper bound of sub-steps per tick, so that an absurd or infinite step length
// costs a bounded amount of work instead of billions of iterations. Reached
// only for steps longer than 1 s (Euler) or 5 s (RK4).
inline constexpr std::uint32_t kHhMaxSubSteps = 100'000;

struct HhSubSteps {
    std::uint32_t count;  // at least 1
    float length;         // ms
};

// How one tick of dt_ms is cut into sub-steps no longer than the integrator's
// limit: ceil(dt / limit) of dt / count each. A step at or below the limit,
// zero, negative or NaN runs as a single sub-step of dt_ms.
inline HhSubSteps hh_sub_steps(float dt_ms, Integrator integrator) {
    const float limit = integrator == Integrator::Rk4 ? kHhRk4MaxSubStepMs : kHhEulerMaxSubStepMs;
    if (!(dt_ms > limit)) {
        return {1, dt_ms};
    }
    const float quotient = std::ceil(dt_ms / limit);
    std::uint32_t count = 1;
    if (quotient >= static_cast<float>(kHhMaxSubSteps)) {
        count = kHhMaxSubSteps;
    } else if (quotient > 1.0f) {
        count = static_cast<std::uint32_t>(quotient);
    }
    return {count, dt_ms / static_cast<float>(count)};
}

}  // namespace vorn
