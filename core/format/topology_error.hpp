#pragma once
// TopologyError: why a topology document was refused (size, JSON, or the
// first failed check of whole-graph validation).

#include <cstdint>
#include <string>

#include "core/format/json_error.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

struct TopologyError {
    enum class Kind {
        TooLarge,
        Json,
        FormatTagMismatch,
        UnsupportedVersion,
        CortexTypeSlug,
        NeuronKindSlug,
        SynapseKindSlug,
        DuplicateNodeId,
        DuplicateEdgeId,
        DuplicateTriple,
        MissingNode,
        SelfLoop,
        InitWeightOutOfRange,
        BadDelay,
        CortexTypeMismatch,
        DefaultNeuronKindMismatch,
    };

    Kind kind = Kind::Json;
    JsonError json;           // Json
    std::string text;         // the offending tag or kind text
    std::string other_text;   // the metadata's cortex_type, or the cortex_type a kind must match
    Uuid id;                  // node id, or the edge id of edge checks
    Uuid node;                // MissingNode: the referenced node
    float value = 0.0f;       // init_weight or delay_ms (ms)
    std::uint64_t size = 0;   // TooLarge: bytes; UnsupportedVersion: found
    std::uint64_t limit = 0;  // TooLarge: bytes; UnsupportedVersion: max

    static TopologyError too_large(std::uint64_t size, std::uint64_t limit);
    static TopologyError json_error(JsonError e);
    static TopologyError format_tag_mismatch(std::string found);
    static TopologyError unsupported_version(std::uint32_t found, std::uint32_t max);
    static TopologyError cortex_type_slug(std::string text);
    static TopologyError neuron_kind_slug(std::string text);
    static TopologyError synapse_kind_slug(std::string text);
    static TopologyError duplicate_node_id(Uuid id);
    static TopologyError duplicate_edge_id(Uuid id);
    static TopologyError duplicate_triple(Uuid edge);
    static TopologyError missing_node(Uuid edge, Uuid node);
    static TopologyError self_loop(Uuid edge);
    static TopologyError init_weight_out_of_range(Uuid edge, float value);
    static TopologyError bad_delay(Uuid edge, float value);
    // A folder whose two documents name different cortex types.
    static TopologyError cortex_type_mismatch(std::string topology_type, std::string metadata_type);
    // A new network whose default neuron kind does not suit its cortex_type.
    static TopologyError default_kind_mismatch(std::string kind, std::string cortex_type);

    std::string message() const;

    friend bool operator==(const TopologyError&, const TopologyError&) = default;
};

}  // namespace vorn
