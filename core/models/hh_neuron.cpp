#include "core/models/hh_neuron.hpp"

#include <array>
#include <string>

#include "core/models/param_rule.hpp"

namespace vorn {
namespace {

struct HhConfigParam {
    std::string_view key;
    float HhConfig::*field;
    F32Rule rule;
};

// The numeric configuration fields in declaration order.
constexpr std::array<HhConfigParam, 10> kConfigParams{{
    {"c_m", &HhConfig::c_m, F32Rule::positive()},
    {"g_na", &HhConfig::g_na, F32Rule::positive()},
    {"g_k", &HhConfig::g_k, F32Rule::positive()},
    {"g_l", &HhConfig::g_l, F32Rule::positive()},
    {"e_na", &HhConfig::e_na, F32Rule::in_range(-100.0f, 200.0f)},
    {"e_k", &HhConfig::e_k, F32Rule::in_range(-200.0f, 50.0f)},
    {"e_l", &HhConfig::e_l, F32Rule::in_range(-200.0f, 50.0f)},
    {"v_rest", &HhConfig::v_rest, F32Rule::in_range(-120.0f, 50.0f)},
    {"v_spike_thresh", &HhConfig::v_spike_thresh, F32Rule::in_range(-80.0f, 80.0f)},
    {"refractory_ms", &HhConfig::refractory_ms, F32Rule::in_range(0.0f, 1000.0f)},
}};

constexpr std::string_view kIntegratorKey = "integrator";
constexpr F32Rule kGateRule = F32Rule::in_range(0.0f, 1.0f);

std::string_view integrator_name(Integrator integrator) {
    return integrator == Integrator::Rk4 ? "rk4" : "euler";
}

ParamError unknown_integrator(std::string_view given) {
    return ParamError::out_of_range(
        std::string(kIntegratorKey),
        "unknown integrator '" + std::string(given) + "'; expected 'euler' or 'rk4'");
}

void clamp_gate(float& g) {
    if (g < 0.0f) {
        g = 0.0f;
    } else if (g > 1.0f) {
        g = 1.0f;
    }
}

HhState euler_advance(const HhConfig& c, const HhState& s, float input, float len) {
    const HhState d = hh_derivative(c, s, input);
    return {s.v + len * d.v, s.m + len * d.m, s.h + len * d.h, s.n + len * d.n};
}

HhState moved(const HhState& s, float by, const HhState& d) {
    return {s.v + by * d.v, s.m + by * d.m, s.h + by * d.h, s.n + by * d.n};
}

float rk4_combine(float x, float sixth, float k1, float k2, float k3, float k4) {
    return x + sixth * (((k1 + (k2 + k2)) + (k3 + k3)) + k4);
}

HhState rk4_advance(const HhConfig& c, const HhState& s, float input, float len, float half,
                    float sixth) {
    const HhState k1 = hh_derivative(c, s, input);
    const HhState k2 = hh_derivative(c, moved(s, half, k1), input);
    const HhState k3 = hh_derivative(c, moved(s, half, k2), input);
    const HhState k4 = hh_derivative(c, moved(s, len, k3), input);
    return {rk4_combine(s.v, sixth, k1.v, k2.v, k3.v, k4.v),
            rk4_combine(s.m, sixth, k1.m, k2.m, k3.m, k4.m),
            rk4_combine(s.h, sixth, k1.h, k2.h, k3.h, k4.h),
            rk4_combine(s.n, sixth, k1.n, k2.n, k3.n, k4.n)};
}

// Runs `count` sub-steps of `advance`, clamping the gates after each, and
// reports the first upward threshold crossing unless the step began
// refractory.
template <typename Advance>
bool run_sub_steps(HhState& s, std::uint32_t count, float thresh, bool may_spike, Advance advance) {
    bool spiked = false;
    for (std::uint32_t i = 0; i < count; ++i) {
        const float v0 = s.v;
        s = advance(s);
        clamp_gate(s.m);
        clamp_gate(s.h);
        clamp_gate(s.n);
        if (!spiked && may_spike && v0 < thresh && s.v >= thresh) {
            spiked = true;
        }
    }
    return spiked;
}

}  // namespace

std::expected<void, ParamError> validate_hh_config(const HhConfig& cfg) {
    for (const HhConfigParam& p : kConfigParams) {
        auto ok = check_by_rule(p.key, cfg.*p.field, p.rule);
        if (!ok) {
            return ok;
        }
    }
    if (cfg.integrator != Integrator::Euler && cfg.integrator != Integrator::Rk4) {
        return std::unexpected(
            unknown_integrator(std::to_string(static_cast<unsigned>(cfg.integrator))));
    }
    return {};
}

std::expected<Integrator, ParamError> coerce_integrator(const JsonValue& value) {
    if (!value.is_string()) {
        return std::unexpected(
            ParamError::wrong_type(std::string(kIntegratorKey), "string \"euler\" or \"rk4\""));
    }
    const std::string& name = value.as_string();
    if (name == "euler") {
        return Integrator::Euler;
    }
    if (name == "rk4") {
        return Integrator::Rk4;
    }
    return std::unexpected(unknown_integrator(name));
}

HhNeuron::HhNeuron(const Uuid& id, const HhConfig& cfg) : id_(id), cfg_(cfg) {
    reset();
}

void HhNeuron::reset() {
    s_ = hh_steady_state(cfg_.v_rest);
    v_prev_ = cfg_.v_rest;
    refractory_left_ = 0.0f;
}

bool HhNeuron::step_impl(float dt_ms, float input) {
    v_prev_ = s_.v;
    const HhSubSteps sub = hh_sub_steps(dt_ms, cfg_.integrator);
    const HhConfig c = cfg_;
    const float len = sub.length;
    const bool may_spike = refractory_left_ <= 0.0f;
    bool spiked;
    if (c.integrator == Integrator::Rk4) {
        const float half = len * 0.5f;
        const float sixth = len / 6.0f;
        spiked = run_sub_steps(s_, sub.count, c.v_spike_thresh, may_spike, [&](const HhState& s) {
            return rk4_advance(c, s, input, len, half, sixth);
        });
    } else {
        spiked = run_sub_steps(s_, sub.count, c.v_spike_thresh, may_spike,
                               [&](const HhState& s) { return euler_advance(c, s, input, len); });
    }
    if (spiked) {
        refractory_left_ = c.refractory_ms;
    } else if (refractory_left_ > 0.0f) {
        // Written as a comparison so that a NaN step ends the countdown
        // instead of leaving NaN behind, and -0 is stored as 0.
        const float left = refractory_left_ - dt_ms;
        refractory_left_ = left > 0.0f ? left : 0.0f;
    }
    return spiked;
}

JsonValue HhNeuron::snapshot() const {
    JsonObject cfg;
    for (const HhConfigParam& p : kConfigParams) {
        cfg.insert_or_assign(std::string(p.key), JsonValue::from_f32(cfg_.*p.field));
    }
    cfg.insert_or_assign(std::string(kIntegratorKey),
                         JsonValue::string(std::string(integrator_name(cfg_.integrator))));
    JsonObject o;
    o.insert_or_assign("id", JsonValue::string(id_.to_string()));
    o.insert_or_assign("v", JsonValue::from_f32(s_.v));
    o.insert_or_assign("m", JsonValue::from_f32(s_.m));
    o.insert_or_assign("h", JsonValue::from_f32(s_.h));
    o.insert_or_assign("n", JsonValue::from_f32(s_.n));
    o.insert_or_assign("v_prev", JsonValue::from_f32(v_prev_));
    o.insert_or_assign("refractory_left", JsonValue::from_f32(refractory_left_));
    o.insert_or_assign("cfg", JsonValue(std::move(cfg)));
    return JsonValue(std::move(o));
}

std::expected<JsonValue, ParamError> HhNeuron::set_param(std::string_view key,
                                                         const JsonValue& value) {
    // Writes one float after its rule accepted the value.
    auto set_f32 = [&](float& field, const F32Rule& rule) -> std::expected<JsonValue, ParamError> {
        auto f = coerce_by_rule(key, value, rule);
        if (!f) {
            return std::unexpected(std::move(f.error()));
        }
        field = *f;
        return snapshot();
    };

    if (key == "v") {
        return set_f32(s_.v, F32Rule::in_range(-120.0f, 80.0f));
    }
    if (key == "m") {
        return set_f32(s_.m, kGateRule);
    }
    if (key == "h") {
        return set_f32(s_.h, kGateRule);
    }
    if (key == "n") {
        return set_f32(s_.n, kGateRule);
    }
    if (key == "refractory_left") {
        return set_f32(refractory_left_, F32Rule::in_range(0.0f, 100.0f));
    }
    for (const HhConfigParam& p : kConfigParams) {
        if (key == p.key) {
            return set_f32(cfg_.*p.field, p.rule);
        }
    }
    if (key == kIntegratorKey) {
        auto integrator = coerce_integrator(value);
        if (!integrator) {
            return std::unexpected(std::move(integrator.error()));
        }
        cfg_.integrator = *integrator;
        return snapshot();
    }
    return std::unexpected(ParamError::unknown(std::string(key)));
}

const float* HhNeuron::numeric_field(std::string_view key) const {
    if (key == "v")
        return &s_.v;
    if (key == "m")
        return &s_.m;
    if (key == "h")
        return &s_.h;
    if (key == "n")
        return &s_.n;
    if (key == "v_prev")
        return &v_prev_;
    if (key == "refractory_left")
        return &refractory_left_;
    return nullptr;
}

// Checkpoint order: the ten config floats, the integrator (0 Euler, 1 RK4),
// v, m, h, n, v_prev, refractory_left.
void HhNeuron::save(float* out) const {
    out[0] = cfg_.c_m;
    out[1] = cfg_.g_na;
    out[2] = cfg_.g_k;
    out[3] = cfg_.g_l;
    out[4] = cfg_.e_na;
    out[5] = cfg_.e_k;
    out[6] = cfg_.e_l;
    out[7] = cfg_.v_rest;
    out[8] = cfg_.v_spike_thresh;
    out[9] = cfg_.refractory_ms;
    out[10] = cfg_.integrator == Integrator::Rk4 ? 1.0f : 0.0f;
    out[11] = s_.v;
    out[12] = s_.m;
    out[13] = s_.h;
    out[14] = s_.n;
    out[15] = v_prev_;
    out[16] = refractory_left_;
}

void HhNeuron::load(const float* in) {
    cfg_.c_m = in[0];
    cfg_.g_na = in[1];
    cfg_.g_k = in[2];
    cfg_.g_l = in[3];
    cfg_.e_na = in[4];
    cfg_.e_k = in[5];
    cfg_.e_l = in[6];
    cfg_.v_rest = in[7];
    cfg_.v_spike_thresh = in[8];
    cfg_.refractory_ms = in[9];
    cfg_.integrator = in[10] == 1.0f ? Integrator::Rk4 : Integrator::Euler;
    s_.v = in[11];
    s_.m = in[12];
    s_.h = in[13];
    s_.n = in[14];
    v_prev_ = in[15];
    refractory_left_ = in[16];
}

}  // namespace vorn
