#include "core/models/neuron_config_json.hpp"

#include "core/models/config_fields.hpp"
#include "core/models/hh_neuron.hpp"

namespace vorn {
namespace {

constexpr std::array<F32Field<HhConfig>, 10> kHhFields{{
    {"c_m", &HhConfig::c_m},
    {"g_na", &HhConfig::g_na},
    {"g_k", &HhConfig::g_k},
    {"g_l", &HhConfig::g_l},
    {"e_na", &HhConfig::e_na},
    {"e_k", &HhConfig::e_k},
    {"e_l", &HhConfig::e_l},
    {"v_rest", &HhConfig::v_rest},
    {"v_spike_thresh", &HhConfig::v_spike_thresh},
    {"refractory_ms", &HhConfig::refractory_ms},
}};
constexpr std::string_view kIntegratorKey = "integrator";

constexpr std::array<F32Field<IzhikevichConfig>, 5> kIzhikevichFields{{
    {"a", &IzhikevichConfig::a},
    {"b", &IzhikevichConfig::b},
    {"c", &IzhikevichConfig::c},
    {"d", &IzhikevichConfig::d},
    {"v_peak", &IzhikevichConfig::v_peak},
}};

constexpr std::array<F32Field<AdExConfig>, 10> kAdExFields{{
    {"c_m", &AdExConfig::c_m},
    {"g_l", &AdExConfig::g_l},
    {"e_l", &AdExConfig::e_l},
    {"v_t", &AdExConfig::v_t},
    {"delta_t", &AdExConfig::delta_t},
    {"v_peak", &AdExConfig::v_peak},
    {"v_reset", &AdExConfig::v_reset},
    {"tau_w", &AdExConfig::tau_w},
    {"a", &AdExConfig::a},
    {"b", &AdExConfig::b},
}};

// A model whose fields are all numbers: exact keys, then finite values.
template <class Config, std::size_t N>
std::expected<NeuronConfig, ParamError> read_numeric(const JsonObject& fields,
                                                     const std::array<F32Field<Config>, N>& table) {
    const auto keys = field_keys(table);
    Config cfg{};
    if (auto ok = check_exact_keys(fields, keys); !ok) {
        return std::unexpected(std::move(ok.error()));
    }
    if (auto ok = read_f32_fields(fields, table, cfg); !ok) {
        return std::unexpected(std::move(ok.error()));
    }
    return cfg;
}

std::expected<NeuronConfig, ParamError> read_hh(const JsonObject& fields) {
    std::array<std::string_view, kHhFields.size() + 1> keys{};
    for (std::size_t i = 0; i < kHhFields.size(); ++i) {
        keys[i] = kHhFields[i].key;
    }
    keys.back() = kIntegratorKey;
    if (auto ok = check_exact_keys(fields, keys); !ok) {
        return std::unexpected(std::move(ok.error()));
    }
    HhConfig cfg{};
    if (auto ok = read_f32_fields(fields, kHhFields, cfg); !ok) {
        return std::unexpected(std::move(ok.error()));
    }
    auto integrator = coerce_integrator(*fields.find(kIntegratorKey));
    if (!integrator) {
        return std::unexpected(std::move(integrator.error()));
    }
    cfg.integrator = *integrator;
    if (auto ok = validate_hh_config(cfg); !ok) {
        return std::unexpected(std::move(ok.error()));
    }
    return cfg;
}

}  // namespace

std::optional<NeuronKind> neuron_kind_from_name(std::string_view name) {
    if (name == "lif")
        return NeuronKind::Lif;
    if (name == "hh")
        return NeuronKind::Hh;
    if (name == "izhikevich")
        return NeuronKind::Izhikevich;
    if (name == "adex")
        return NeuronKind::AdEx;
    return std::nullopt;
}

std::expected<NeuronConfig, ParamError> neuron_config_from_json(NeuronKind kind,
                                                                const JsonObject& fields) {
    switch (kind) {
        case NeuronKind::Lif:
            if (auto ok = check_exact_keys(fields, {}); !ok) {
                return std::unexpected(std::move(ok.error()));
            }
            return LifConfig{};
        case NeuronKind::Hh:
            return read_hh(fields);
        case NeuronKind::Izhikevich:
            return read_numeric(fields, kIzhikevichFields);
        case NeuronKind::AdEx:
            return read_numeric(fields, kAdExFields);
    }
    return std::unexpected(ParamError::unknown("kind"));
}

}  // namespace vorn
