#include "core/engine/synapse_config_json.hpp"

#include <array>

#include "core/engine/plastic_config_json.hpp"
#include "core/models/coerce.hpp"

namespace vorn {
namespace {

struct RangedField {
    std::string_view key;
    float StdpConfig::*field;
    float lo;
    float hi;
};

constexpr std::array<RangedField, 7> kStdpFields{{
    {"w_min", &StdpConfig::w_min, 0.0f, 1.0f},
    {"w_max", &StdpConfig::w_max, 0.0f, 1.0f},
    {"g_syn", &StdpConfig::g_syn, 0.0f, 10000.0f},
    {"a_plus", &StdpConfig::a_plus, 0.0f, 1.0f},
    {"a_minus", &StdpConfig::a_minus, 0.0f, 1.0f},
    {"tau_plus", &StdpConfig::tau_plus, 0.001f, 10000.0f},
    {"tau_minus", &StdpConfig::tau_minus, 0.001f, 10000.0f},
}};

std::expected<StdpConfig, ParamError> stdp_config(const JsonObject* fields) {
    StdpConfig c;
    if (fields == nullptr)
        return c;
    for (const auto& [key, value] : *fields) {
        bool known = false;
        for (const RangedField& f : kStdpFields)
            known = known || f.key == key;
        if (!known)
            return std::unexpected(ParamError::unknown(key));
    }
    for (const RangedField& f : kStdpFields) {
        const JsonValue* value = fields->find(f.key);
        if (value == nullptr)
            continue;
        auto v = coerce_f32_in_range(f.key, *value, f.lo, f.hi);
        if (!v)
            return std::unexpected(std::move(v.error()));
        c.*f.field = *v;
    }
    if (c.w_max < c.w_min)
        return std::unexpected(ParamError::out_of_range("w_max", "must be >= w_min"));
    return c;
}

std::expected<StaticConfig, ParamError> static_config(const JsonObject* fields) {
    StaticConfig c;
    if (fields == nullptr)
        return c;
    for (const auto& [key, value] : *fields) {
        if (key != "g_syn")
            return std::unexpected(ParamError::unknown(key));
        auto v = coerce_f32_in_range("g_syn", value, 0.0f, 10000.0f);
        if (!v)
            return std::unexpected(std::move(v.error()));
        c.g_syn = *v;
    }
    return c;
}

}  // namespace

std::optional<SynapseKind> synapse_kind_from_name(std::string_view name) {
    if (name == "stdp")
        return SynapseKind::Stdp;
    if (name == "plastic-synapse")
        return SynapseKind::Plastic;
    if (name == "static")
        return SynapseKind::Static;
    return std::nullopt;
}

std::expected<SynapseConfig, ParamError> synapse_config_from_json(SynapseKind kind,
                                                                  const JsonObject* fields) {
    switch (kind) {
        case SynapseKind::Stdp: {
            auto c = stdp_config(fields);
            if (!c)
                return std::unexpected(std::move(c.error()));
            return SynapseConfig{*c};
        }
        case SynapseKind::Static: {
            auto c = static_config(fields);
            if (!c)
                return std::unexpected(std::move(c.error()));
            return SynapseConfig{*c};
        }
        case SynapseKind::Plastic:
            break;
    }
    static const JsonObject kEmpty;
    auto c = plastic_config_from_json(fields == nullptr ? kEmpty : *fields);
    if (!c)
        return std::unexpected(std::move(c.error()));
    return SynapseConfig{*c};
}

}  // namespace vorn
