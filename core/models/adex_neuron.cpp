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

}  // namespace vorn
