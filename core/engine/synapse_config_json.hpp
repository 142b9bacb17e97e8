#pragma once
// SynapseConfig from a kind name and a JSON object of parameters, as callers
// outside the core supply them.

#include <expected>
#include <optional>
#include <string_view>

#include "core/engine/synapse_config.hpp"
#include "core/engine/synapse_word.hpp"
#include "core/models/param_error.hpp"
#include "core/util/json_value.hpp"

namespace vorn {

// "stdp", "plastic-synapse" or "static"; nullopt for any other text.
std::optional<SynapseKind> synapse_kind_from_name(std::string_view name);

// The config of a kind; fields may be null for none. "stdp" takes any of
// w_min, w_max, g_syn, a_plus, a_minus, tau_plus, tau_minus over the
// defaults, each in the range set_param enforces, then w_min <= w_max;
// "static" takes at most g_syn in [0, 10000]; "plastic-synapse" exactly its
// sixteen fields (plastic_config_from_json). Errors: the first unknown key,
// then the first bad value in field order.
std::expected<SynapseConfig, ParamError> synapse_config_from_json(SynapseKind kind,
                                                                  const JsonObject* fields);

}  // namespace vorn
