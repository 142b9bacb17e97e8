#pragma once
// PlasticSynapseConfig from a JSON object holding exactly its sixteen fields.

#include <expected>

#include "core/engine/synapse_config.hpp"
#include "core/models/param_error.hpp"
#include "core/util/json_value.hpp"

namespace vorn {

// Errors: an unknown key, a missing key, a value that is not a finite f32,
// then the ranges of the synapse's set_param and w_min <= w_max
// (validate_plastic_config).
std::expected<PlasticSynapseConfig, ParamError> plastic_config_from_json(const JsonObject& fields);

}  // namespace vorn
