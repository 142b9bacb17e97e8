#include "core/engine/plastic_config_json.hpp"

#include "core/engine/plastic_synapse.hpp"
#include "core/models/config_fields.hpp"

namespace vorn {
namespace {

using Config = PlasticSynapseConfig;

constexpr std::array<F32Field<Config>, 16> kFields{{
    {"w_min", &Config::w_min},
    {"w_max", &Config::w_max},
    {"g_syn", &Config::g_syn},
    {"a_plus", &Config::a_plus},
    {"a_minus", &Config::a_minus},
    {"tau_plus_ms", &Config::tau_plus_ms},
    {"tau_minus_ms", &Config::tau_minus_ms},
    {"tau_eligibility_ms", &Config::tau_eligibility_ms},
    {"tau_tag_ms", &Config::tau_tag_ms},
    {"learning_rate", &Config::learning_rate},
    {"dopamine_threshold", &Config::dopamine_threshold},
    {"dopamine_gain", &Config::dopamine_gain},
    {"target_post_rate_hz", &Config::target_post_rate_hz},
    {"homeostatic_rate", &Config::homeostatic_rate},
    {"tau_rate_ms", &Config::tau_rate_ms},
    {"post_consolidation_decay", &Config::post_consolidation_decay},
}};

}  // namespace

std::expected<PlasticSynapseConfig, ParamError> plastic_config_from_json(const JsonObject& fields) {
    constexpr auto kKeys = field_keys(kFields);
    if (auto ok = check_exact_keys(fields, kKeys); !ok) {
        return std::unexpected(std::move(ok.error()));
    }
    Config cfg{};
    if (auto ok = read_f32_fields(fields, kFields, cfg); !ok) {
        return std::unexpected(std::move(ok.error()));
    }
    if (auto ok = validate_plastic_config(cfg); !ok) {
        return std::unexpected(std::move(ok.error()));
    }
    return cfg;
}

}  // namespace vorn
