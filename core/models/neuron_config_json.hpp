#pragma once
// NeuronConfig from a model kind name and a JSON object holding exactly the
// model's configuration fields, as callers outside the core supply them.

#include <expected>
#include <optional>
#include <string_view>

#include "core/models/neuron_config.hpp"
#include "core/models/param_error.hpp"
#include "core/util/json_value.hpp"

namespace vorn {

enum class NeuronKind { Lif, Hh, Izhikevich, AdEx };

// "lif", "hh", "izhikevich" or "adex"; nullopt for any other text.
std::optional<NeuronKind> neuron_kind_from_name(std::string_view name);

// The config of that kind. Lif takes no fields, Hh its ten numbers plus
// "integrator" ("euler" or "rk4"), Izhikevich a, b, c, d, v_peak, AdEx
// c_m, g_l, e_l, v_t, delta_t, v_peak, v_reset, tau_w, a, b. Errors: an
// unknown key, a missing key, a value that is not a finite f32 (texts of
// coerce_finite_f32), and for Hh the ranges set_param enforces.
std::expected<NeuronConfig, ParamError> neuron_config_from_json(NeuronKind kind,
                                                                const JsonObject& fields);

}  // namespace vorn
