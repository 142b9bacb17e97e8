#pragma once
// NeuronSpec and SynapseSpec: a kind slug with an optional opaque JSON config.

#include <optional>
#include <string>

#include "core/util/json_value.hpp"

namespace vorn {

struct NeuronSpec {
    std::string kind;
    std::optional<JsonValue> config;  // absent when not given or null
    friend bool operator==(const NeuronSpec&, const NeuronSpec&) = default;
};

struct SynapseSpec {
    std::string kind;
    std::optional<JsonValue> config;
    friend bool operator==(const SynapseSpec&, const SynapseSpec&) = default;
};

}  // namespace vorn
