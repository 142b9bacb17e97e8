#pragma once
// TopologyFile: a network's graph document ("topology.json"): default kinds,
// nodes and edges in insertion order, and an opaque metadata value.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/errors.hpp"
#include "core/format/json_input.hpp"
#include "core/format/kind_spec.hpp"
#include "core/util/json_value.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

// The default size limit for reading topology.json, and the fixed cap on the
// bytes handed to the parser whatever the limit says.
inline constexpr std::uint64_t kDefaultMaxTopologyBytes = 268'435'456;
inline constexpr std::uint64_t kTopologyByteCap = 268'435'456;

struct TopologyDefaults {
    NeuronSpec neuron;
    SynapseSpec synapse;
    friend bool operator==(const TopologyDefaults&, const TopologyDefaults&) = default;
};

struct TopologyNode {
    Uuid id;
    std::string label;
    std::optional<NeuronSpec> kind;  // absent: follows defaults.neuron
    JsonValue metadata = JsonValue(JsonObject{});
    std::optional<JsonValue> init_state;  // absent when missing or null
    friend bool operator==(const TopologyNode&, const TopologyNode&) = default;
};

struct TopologyEdge {
    Uuid id;
    Uuid pre;                         // source node
    Uuid post;                        // target node
    std::optional<SynapseSpec> kind;  // absent: follows defaults.synapse
    float init_weight = 0.0f;         // in [0, 1]
    float delay_ms = 1.0f;            // ms, >= 0
    JsonValue metadata = JsonValue(JsonObject{});
    friend bool operator==(const TopologyEdge&, const TopologyEdge&) = default;
};

struct TopologyFile {
    std::string format{"cortex.topology"};
    std::uint32_t version = 1;
    std::string cortex_type;
    TopologyDefaults defaults;
    std::vector<TopologyNode> nodes;
    std::vector<TopologyEdge> edges;
    JsonValue metadata = JsonValue(JsonObject{});

    // An empty graph of the current format and version.
    static TopologyFile new_empty(std::string cortex_type, TopologyDefaults defaults);

    friend bool operator==(const TopologyFile&, const TopologyFile&) = default;
};

// Reads the JSON of a topology document into a record without validating
// the graph. Returns the record or the first syntax or schema error.
std::expected<TopologyFile, JsonError> read_topology_json(JsonInput& input);

// The whole-graph checks, in their fixed order. Returns the first failure, if any.
std::optional<TopologyError> validate_topology(const TopologyFile& t);

// Applies the byte cap, reads and validates. Returns a valid record or the
// first error (TooLarge, Json, or a validation failure).
std::expected<TopologyFile, TopologyError> parse_topology(std::string_view bytes);

// Validates, then returns the pretty-printed document (no trailing newline);
// TooLarge when it would exceed kTopologyByteCap, which the reader refuses.
std::expected<std::string, TopologyError> serialize_topology(const TopologyFile& t);

}  // namespace vorn
