#include "core/engine/stdp_synapse.hpp"

#include "core/models/coerce.hpp"

namespace vorn {

StdpSynapse::StdpSynapse(const Uuid& id, const Uuid& pre, const Uuid& post, float weight)
    : id_(id), pre_id_(pre), post_id_(post), weight_(clamp_weight(weight, 0.0f, 1.0f)) {}

StdpSynapse::StdpSynapse(const Uuid& id, const Uuid& pre, const Uuid& post,
                         const StdpConfig& config, float weight)
    : w_min(config.w_min),
      w_max(config.w_max),
      g_syn(config.g_syn),
      a_plus(config.a_plus),
      a_minus(config.a_minus),
      tau_plus(config.tau_plus),
      tau_minus(config.tau_minus),
      id_(id),
      pre_id_(pre),
      post_id_(post),
      weight_(clamp_weight(weight, config.w_min, config.w_max)) {}

void StdpSynapse::update(const SynapseStepContext& ctx) {
    pre_trace = pre_trace * decay_factor(ctx.ctx.dt_ms, tau_plus);
    post_trace = post_trace * decay_factor(ctx.ctx.dt_ms, tau_minus);
    // Depression first: a pre spike follows earlier post spikes.
    if (ctx.pre_spiked) {
        pre_trace = pre_trace + 1.0f;
        weight_ = clamp_weight(weight_ - a_minus * post_trace, w_min, w_max);
    }
    // Potentiation sees this tick's pre increment, so a coincident pair
    // counts as pre-before-post.
    if (ctx.post_spiked) {
        post_trace = post_trace + 1.0f;
        weight_ = clamp_weight(weight_ + a_plus * pre_trace, w_min, w_max);
    }
}

JsonValue StdpSynapse::snapshot() const {
    JsonObject o;
    o.reserve(13);
    o.insert_or_assign("id", JsonValue::string(id_.to_string()));
    o.insert_or_assign("pre_id", JsonValue::string(pre_id_.to_string()));
    o.insert_or_assign("post_id", JsonValue::string(post_id_.to_string()));
    o.insert_or_assign("weight", JsonValue::from_f32(weight_));
    o.insert_or_assign("w_min", JsonValue::from_f32(w_min));
    o.insert_or_assign("w_max", JsonValue::from_f32(w_max));
    o.insert_or_assign("g_syn", JsonValue::from_f32(g_syn));
    o.insert_or_assign("a_plus", JsonValue::from_f32(a_plus));
    o.insert_or_assign("a_minus", JsonValue::from_f32(a_minus));
    o.insert_or_assign("tau_plus", JsonValue::from_f32(tau_plus));
    o.insert_or_assign("tau_minus", JsonValue::from_f32(tau_minus));
    o.insert_or_assign("pre_trace", JsonValue::from_f32(pre_trace));
    o.insert_or_assign("post_trace", JsonValue::from_f32(post_trace));
    return JsonValue(std::move(o));
}

std::expected<JsonValue, ParamError> StdpSynapse::set_param(std::string_view key,
                                                            const JsonValue& value) {
    if (key == "id" || key == "pre_id" || key == "post_id") {
        return std::unexpected(ParamError::not_settable(
            std::string(key), "identity/topology fields are immutable; use graph edit APIs"));
    }
    if (key == "weight") {
        auto f = coerce_f32_in_range(key, value, w_min, w_max);
        if (!f)
            return std::unexpected(std::move(f.error()));
        weight_ = *f;
        return snapshot();
    }
    if (key == "w_min" || key == "w_max") {
        auto f = coerce_f32_in_range(key, value, 0.0f, 1.0f);
        if (!f)
            return std::unexpected(std::move(f.error()));
        if (key == "w_min") {
            if (*f > w_max)
                return std::unexpected(ParamError::out_of_range("w_min", "must be <= w_max"));
            w_min = *f;
        } else {
            if (*f < w_min)
                return std::unexpected(ParamError::out_of_range("w_max", "must be >= w_min"));
            w_max = *f;
        }
        weight_ = clamp_weight(weight_, w_min, w_max);
        return snapshot();
    }

    struct Range {
        const char* key;
        float StdpSynapse::*field;
        float lo;
        float hi;
    };
    static constexpr Range kRanges[] = {
        {"g_syn", &StdpSynapse::g_syn, 0.0f, 10000.0f},
        {"a_plus", &StdpSynapse::a_plus, 0.0f, 1.0f},
        {"a_minus", &StdpSynapse::a_minus, 0.0f, 1.0f},
        {"tau_plus", &StdpSynapse::tau_plus, 0.001f, 10000.0f},
        {"tau_minus", &StdpSynapse::tau_minus, 0.001f, 10000.0f},
        {"pre_trace", &StdpSynapse::pre_trace, 0.0f, 1000000.0f},
        {"post_trace", &StdpSynapse::post_trace, 0.0f, 1000000.0f},
    };
    for (const Range& r : kRanges) {
        if (key == r.key) {
            auto f = coerce_f32_in_range(key, value, r.lo, r.hi);
            if (!f)
                return std::unexpected(std::move(f.error()));
            this->*r.field = *f;
            return snapshot();
        }
    }
    return std::unexpected(ParamError::unknown(std::string(key)));
}

}  // namespace vorn
