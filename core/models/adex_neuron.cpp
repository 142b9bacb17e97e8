#include "core/models/adex_neuron.hpp"

namespace vorn {

JsonValue AdExNeuron::snapshot() const {
    JsonObject cfg;
    cfg.insert_or_assign("c_m", JsonValue::from_f32(cfg_.c_m));
    cfg.insert_or_assign("g_l", JsonValue::from_f32(cfg_.g_l));
    cfg.insert_or_assign("e_l", JsonValue::from_f32(cfg_.e_l));
    cfg.insert_or_assign("v_t", JsonValue::from_f32(cfg_.v_t));
    cfg.insert_or_assign("delta_t", JsonValue::from_f32(cfg_.delta_t));
    cfg.insert_or_assign("v_peak", JsonValue::from_f32(cfg_.v_peak));
    cfg.insert_or_assign("v_reset", JsonValue::from_f32(cfg_.v_reset));
    cfg.insert_or_assign("tau_w", JsonValue::from_f32(cfg_.tau_w));
    cfg.insert_or_assign("a", JsonValue::from_f32(cfg_.a));
    cfg.insert_or_assign("b", JsonValue::from_f32(cfg_.b));
    JsonObject o;
    o.insert_or_assign("id", JsonValue::string(id_.to_string()));
    o.insert_or_assign("v", JsonValue::from_f32(v_));
    o.insert_or_assign("w", JsonValue::from_f32(w_));
    o.insert_or_assign("last_v", JsonValue::from_f32(last_v_));
    o.insert_or_assign("config", JsonValue(std::move(cfg)));
    return JsonValue(std::move(o));
}

const float* AdExNeuron::numeric_field(std::string_view key) const {
    if (key == "v")
        return &v_;
    if (key == "w")
        return &w_;
    if (key == "last_v")
        return &last_v_;
    return nullptr;
}

// Checkpoint order: c_m, g_l, e_l, v_t, delta_t, v_peak, v_reset, tau_w, a, b, v, w, last_v.
void AdExNeuron::save(float* out) const {
    out[0] = cfg_.c_m;
    out[1] = cfg_.g_l;
    out[2] = cfg_.e_l;
    out[3] = cfg_.v_t;
    out[4] = cfg_.delta_t;
    out[5] = cfg_.v_peak;
    out[6] = cfg_.v_reset;
    out[7] = cfg_.tau_w;
    out[8] = cfg_.a;
    out[9] = cfg_.b;
    out[10] = v_;
    out[11] = w_;
    out[12] = last_v_;
}

void AdExNeuron::load(const float* in) {
    cfg_.c_m = in[0];
    cfg_.g_l = in[1];
    cfg_.e_l = in[2];
    cfg_.v_t = in[3];
    cfg_.delta_t = in[4];
    cfg_.v_peak = in[5];
    cfg_.v_reset = in[6];
    cfg_.tau_w = in[7];
    cfg_.a = in[8];
    cfg_.b = in[9];
    v_ = in[10];
    w_ = in[11];
    last_v_ = in[12];
}

}  // namespace vorn
