#include "core/models/lif_neuron.hpp"

#include <algorithm>
#include <cmath>

#include "core/models/coerce.hpp"

namespace vorn {
namespace {

// Finite value within [lo, hi], else OutOfRange with the given reason.
std::expected<float, ParamError> coerce_bounded(std::string_view key, const JsonValue& value,
                                                float lo, float hi, const char* reason) {
    auto f = coerce_finite_f32(key, value);
    if (f && (*f < lo || *f > hi)) {
        return std::unexpected(ParamError::out_of_range(std::string(key), reason));
    }
    return f;
}

}  // namespace

void LifNeuron::reset() {
    v = v_rest;
    refractory_left = 0.0f;
}

JsonValue LifNeuron::snapshot() const {
    JsonObject o;
    o.reserve(10);
    o.insert_or_assign("id", JsonValue::string(id_.to_string()));
    o.insert_or_assign("v", JsonValue::from_f32(v));
    o.insert_or_assign("v_rest", JsonValue::from_f32(v_rest));
    o.insert_or_assign("v_thresh", JsonValue::from_f32(v_thresh));
    o.insert_or_assign("v_reset", JsonValue::from_f32(v_reset));
    o.insert_or_assign("tau_m", JsonValue::from_f32(tau_m));
    o.insert_or_assign("refractory_ms", JsonValue::from_f32(refractory_ms));
    o.insert_or_assign("refractory_left", JsonValue::from_f32(refractory_left));
    o.insert_or_assign("epsc", JsonValue::from_f32(epsc));
    o.insert_or_assign("tau_syn", JsonValue::from_f32(tau_syn));
    return JsonValue(std::move(o));
}

std::expected<JsonValue, ParamError> LifNeuron::set_param(std::string_view key,
                                                          const JsonValue& value) {
    float* field = nullptr;
    std::expected<float, ParamError> f = std::unexpected(ParamError::unknown(std::string(key)));
    if (key == "v") {
        field = &v;
        f = coerce_f32_in_range(key, value, -100.0f, 50.0f);
    } else if (key == "v_rest") {
        field = &v_rest;
        f = coerce_f32_in_range(key, value, -100.0f, 0.0f);
    } else if (key == "v_thresh") {
        field = &v_thresh;
        f = coerce_f32_in_range(key, value, -80.0f, 50.0f);
    } else if (key == "v_reset") {
        field = &v_reset;
        f = coerce_f32_in_range(key, value, -100.0f, 0.0f);
    } else if (key == "tau_m") {
        field = &tau_m;
        f = coerce_positive_f32(key, value);
    } else if (key == "tau_syn") {
        field = &tau_syn;
        f = coerce_positive_f32(key, value);
    } else if (key == "refractory_ms") {
        field = &refractory_ms;
        f = coerce_bounded(key, value, 0.0f, 1000.0f, "must be in [0, 1000] ms");
    } else if (key == "refractory_left") {
        // Admits up to one millisecond beyond the current refractory_ms.
        field = &refractory_left;
        float hi = std::max(refractory_ms, 0.0f) + 1.0f;
        f = coerce_bounded(key, value, 0.0f, hi, "must be in [0, refractory_ms]");
    } else if (key == "epsc") {
        field = &epsc;
        f = coerce_bounded(key, value, -1e6f, 1e6f, "magnitude too large; expected within ±1e6");
    }
    if (!f) {
        return std::unexpected(std::move(f.error()));
    }
    *field = *f;
    return snapshot();
}

const float* LifNeuron::numeric_field(std::string_view key) const {
    if (key == "v")
        return &v;
    if (key == "v_rest")
        return &v_rest;
    if (key == "v_thresh")
        return &v_thresh;
    if (key == "v_reset")
        return &v_reset;
    if (key == "tau_m")
        return &tau_m;
    if (key == "refractory_ms")
        return &refractory_ms;
    if (key == "refractory_left")
        return &refractory_left;
    if (key == "epsc")
        return &epsc;
    if (key == "tau_syn")
        return &tau_syn;
    return nullptr;
}

// Checkpoint order: v, v_rest, v_thresh, v_reset, tau_m, refractory_ms, refractory_left, epsc,
// tau_syn.
void LifNeuron::save(float* out) const {
    out[0] = v;
    out[1] = v_rest;
    out[2] = v_thresh;
    out[3] = v_reset;
    out[4] = tau_m;
    out[5] = refractory_ms;
    out[6] = refractory_left;
    out[7] = epsc;
    out[8] = tau_syn;
}

void LifNeuron::load(const float* in) {
    v = in[0];
    v_rest = in[1];
    v_thresh = in[2];
    v_reset = in[3];
    tau_m = in[4];
    refractory_ms = in[5];
    refractory_left = in[6];
    epsc = in[7];
    tau_syn = in[8];
}

}  // namespace vorn
