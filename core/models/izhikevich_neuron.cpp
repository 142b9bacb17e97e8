#include "core/models/izhikevich_neuron.hpp"

namespace vorn {

JsonValue IzhikevichNeuron::snapshot() const {
    JsonObject cfg;
    cfg.insert_or_assign("a", JsonValue::from_f32(cfg_.a));
    cfg.insert_or_assign("b", JsonValue::from_f32(cfg_.b));
    cfg.insert_or_assign("c", JsonValue::from_f32(cfg_.c));
    cfg.insert_or_assign("d", JsonValue::from_f32(cfg_.d));
    cfg.insert_or_assign("v_peak", JsonValue::from_f32(cfg_.v_peak));
    JsonObject o;
    o.insert_or_assign("id", JsonValue::string(id_.to_string()));
    o.insert_or_assign("v", JsonValue::from_f32(v_));
    o.insert_or_assign("u", JsonValue::from_f32(u_));
    o.insert_or_assign("last_v", JsonValue::from_f32(last_v_));
    o.insert_or_assign("config", JsonValue(std::move(cfg)));
    return JsonValue(std::move(o));
}

const float* IzhikevichNeuron::numeric_field(std::string_view key) const {
    if (key == "v")
        return &v_;
    if (key == "u")
        return &u_;
    if (key == "last_v")
        return &last_v_;
    return nullptr;
}

// Checkpoint order: a, b, c, d, v_peak, v, u, last_v.
void IzhikevichNeuron::save(float* out) const {
    out[0] = cfg_.a;
    out[1] = cfg_.b;
    out[2] = cfg_.c;
    out[3] = cfg_.d;
    out[4] = cfg_.v_peak;
    out[5] = v_;
    out[6] = u_;
    out[7] = last_v_;
}

void IzhikevichNeuron::load(const float* in) {
    cfg_.a = in[0];
    cfg_.b = in[1];
    cfg_.c = in[2];
    cfg_.d = in[3];
    cfg_.v_peak = in[4];
    v_ = in[5];
    u_ = in[6];
    last_v_ = in[7];
}

}  // namespace vorn
