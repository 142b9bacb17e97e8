#include "core/engine/plastic_synapse.hpp"

#include <array>
#include <string>

#include "core/models/param_rule.hpp"

namespace vorn {
namespace {

using Config = PlasticSynapseConfig;

struct ConfigParam {
    std::string_view key;
    float Config::*field;
    F32Rule rule;
};

struct StateParam {
    std::string_view key;
    float PlasticState::*field;
    F32Rule rule;
};

constexpr F32Rule kBoundRule = F32Rule::in_range(0.0f, 1.0f);

// Every configuration field except the weight bounds, in declaration order.
constexpr std::array<ConfigParam, 14> kConfigParams{{
    {"g_syn", &Config::g_syn, F32Rule::in_range(0.0f, 10000.0f)},
    {"a_plus", &Config::a_plus, F32Rule::in_range(0.0f, 1.0f)},
    {"a_minus", &Config::a_minus, F32Rule::in_range(0.0f, 1.0f)},
    {"tau_plus_ms", &Config::tau_plus_ms, F32Rule::in_range(0.001f, 10000.0f)},
    {"tau_minus_ms", &Config::tau_minus_ms, F32Rule::in_range(0.001f, 10000.0f)},
    {"tau_eligibility_ms", &Config::tau_eligibility_ms, F32Rule::in_range(0.001f, 1000000.0f)},
    {"tau_tag_ms", &Config::tau_tag_ms, F32Rule::in_range(0.001f, 10000000.0f)},
    {"learning_rate", &Config::learning_rate, F32Rule::in_range(0.0f, 10.0f)},
    {"dopamine_threshold", &Config::dopamine_threshold, F32Rule::in_range(0.0f, 1.0f)},
    {"dopamine_gain", &Config::dopamine_gain, F32Rule::in_range(0.0f, 100.0f)},
    {"target_post_rate_hz", &Config::target_post_rate_hz, F32Rule::in_range(0.0f, 1000.0f)},
    {"homeostatic_rate", &Config::homeostatic_rate, F32Rule::in_range(0.0f, 10.0f)},
    {"tau_rate_ms", &Config::tau_rate_ms, F32Rule::in_range(0.001f, 1000000.0f)},
    {"post_consolidation_decay", &Config::post_consolidation_decay, F32Rule::in_range(0.0f, 1.0f)},
}};

// Settable state fields; "weight" has bounds of its own and "tag" is read-only.
constexpr std::array<StateParam, 4> kStateParams{{
    {"pre_trace", &PlasticState::pre_trace, F32Rule::in_range(0.0f, 1000000.0f)},
    {"post_trace", &PlasticState::post_trace, F32Rule::in_range(0.0f, 1000000.0f)},
    {"eligibility_trace", &PlasticState::eligibility_trace,
     F32Rule::in_range(-1000000.0f, 1000000.0f)},
    {"observed_post_rate_hz", &PlasticState::observed_post_rate_hz,
     F32Rule::in_range(0.0f, 100000.0f)},
}};

ParamError w_max_below_w_min() {
    return ParamError::out_of_range("w_max", "must be >= w_min");
}

}  // namespace

std::expected<void, ParamError> validate_plastic_config(const PlasticSynapseConfig& cfg) {
    if (auto ok = check_by_rule("w_min", cfg.w_min, kBoundRule); !ok) {
        return ok;
    }
    if (auto ok = check_by_rule("w_max", cfg.w_max, kBoundRule); !ok) {
        return ok;
    }
    if (cfg.w_max < cfg.w_min) {
        return std::unexpected(w_max_below_w_min());
    }
    for (const ConfigParam& p : kConfigParams) {
        if (auto ok = check_by_rule(p.key, cfg.*p.field, p.rule); !ok) {
            return ok;
        }
    }
    return {};
}

PlasticSynapse::PlasticSynapse(const Uuid& id, const Uuid& pre, const Uuid& post,
                               const PlasticSynapseConfig& cfg, float weight)
    : id_(id), pre_(pre), post_(post), cfg_(cfg) {
    s_.weight = clamp_weight(cfg_, weight);
}

JsonValue PlasticSynapse::snapshot() const {
    JsonObject o;
    o.reserve(25);
    o.insert_or_assign("id", JsonValue::string(id_.to_string()));
    o.insert_or_assign("pre_id", JsonValue::string(pre_.to_string()));
    o.insert_or_assign("post_id", JsonValue::string(post_.to_string()));
    o.insert_or_assign("weight", JsonValue::from_f32(s_.weight));
    o.insert_or_assign("tag", JsonValue::from_f32(s_.tag));
    o.insert_or_assign("w_min", JsonValue::from_f32(cfg_.w_min));
    o.insert_or_assign("w_max", JsonValue::from_f32(cfg_.w_max));
    for (const StateParam& p : kStateParams) {
        o.insert_or_assign(std::string(p.key), JsonValue::from_f32(s_.*p.field));
    }
    for (const ConfigParam& p : kConfigParams) {
        o.insert_or_assign(std::string(p.key), JsonValue::from_f32(cfg_.*p.field));
    }
    return JsonValue(std::move(o));
}

std::expected<JsonValue, ParamError> PlasticSynapse::set_param(std::string_view key,
                                                               const JsonValue& value) {
    const std::string k(key);
    if (key == "id" || key == "pre_id" || key == "post_id") {
        return std::unexpected(ParamError::not_settable(
            k, "identity/topology fields are immutable; use graph edit APIs"));
    }
    if (key == "weight") {
        auto f = coerce_by_rule(key, value, F32Rule::in_range(cfg_.w_min, cfg_.w_max));
        if (!f) {
            return std::unexpected(std::move(f.error()));
        }
        s_.weight = *f;
        return snapshot();
    }
    if (key == "w_min" || key == "w_max") {
        auto f = coerce_by_rule(key, value, kBoundRule);
        if (!f) {
            return std::unexpected(std::move(f.error()));
        }
        if (key == "w_min") {
            if (*f > cfg_.w_max) {
                return std::unexpected(ParamError::out_of_range(k, "must be <= w_max"));
            }
            cfg_.w_min = *f;
        } else {
            if (*f < cfg_.w_min) {
                return std::unexpected(w_max_below_w_min());
            }
            cfg_.w_max = *f;
        }
        s_.weight = clamp_weight(cfg_, s_.weight);
        return snapshot();
    }
    for (const StateParam& p : kStateParams) {
        if (key == p.key) {
            auto f = coerce_by_rule(key, value, p.rule);
            if (!f) {
                return std::unexpected(std::move(f.error()));
            }
            s_.*p.field = *f;
            return snapshot();
        }
    }
    for (const ConfigParam& p : kConfigParams) {
        if (key == p.key) {
            auto f = coerce_by_rule(key, value, p.rule);
            if (!f) {
                return std::unexpected(std::move(f.error()));
            }
            cfg_.*p.field = *f;
            return snapshot();
        }
    }
    return std::unexpected(ParamError::unknown(k));
}

}  // namespace vorn
