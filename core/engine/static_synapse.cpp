#include "core/engine/static_synapse.hpp"

#include "core/models/coerce.hpp"

namespace vorn {

JsonValue StaticSynapse::snapshot() const {
    JsonObject o;
    o.reserve(5);
    o.insert_or_assign("id", JsonValue::string(id_.to_string()));
    o.insert_or_assign("pre_id", JsonValue::string(pre_id_.to_string()));
    o.insert_or_assign("post_id", JsonValue::string(post_id_.to_string()));
    o.insert_or_assign("weight", JsonValue::from_f32(weight_));
    o.insert_or_assign("g_syn", JsonValue::from_f32(g_syn));
    return JsonValue(std::move(o));
}

std::expected<JsonValue, ParamError> StaticSynapse::set_param(std::string_view key,
                                                              const JsonValue& value) {
    if (key == "id" || key == "pre_id" || key == "post_id") {
        return std::unexpected(ParamError::not_settable(
            std::string(key), "identity/topology fields are immutable; use graph edit APIs"));
    }
    if (key == "weight") {
        auto f = coerce_finite_f32(key, value);
        if (!f)
            return std::unexpected(std::move(f.error()));
        weight_ = *f;
        return snapshot();
    }
    if (key == "g_syn") {
        auto f = coerce_f32_in_range(key, value, 0.0f, 10000.0f);
        if (!f)
            return std::unexpected(std::move(f.error()));
        g_syn = *f;
        return snapshot();
    }
    return std::unexpected(ParamError::unknown(std::string(key)));
}

}  // namespace vorn
