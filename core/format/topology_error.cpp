#include "core/format/topology_error.hpp"

#include "core/format/folder_layout.hpp"
#include "core/util/float_format.hpp"

namespace vorn {
namespace {

TopologyError make(TopologyError::Kind kind) {
    TopologyError e;
    e.kind = kind;
    return e;
}

TopologyError with_text(TopologyError::Kind kind, std::string text) {
    TopologyError e = make(kind);
    e.text = std::move(text);
    return e;
}

TopologyError with_id(TopologyError::Kind kind, Uuid id) {
    TopologyError e = make(kind);
    e.id = id;
    return e;
}

}  // namespace

TopologyError TopologyError::too_large(std::uint64_t size, std::uint64_t limit) {
    TopologyError e = make(Kind::TooLarge);
    e.size = size;
    e.limit = limit;
    return e;
}
TopologyError TopologyError::json_error(JsonError j) {
    TopologyError e = make(Kind::Json);
    e.json = std::move(j);
    return e;
}
TopologyError TopologyError::format_tag_mismatch(std::string found) {
    return with_text(Kind::FormatTagMismatch, std::move(found));
}
TopologyError TopologyError::unsupported_version(std::uint32_t found, std::uint32_t max) {
    TopologyError e = make(Kind::UnsupportedVersion);
    e.size = found;
    e.limit = max;
    return e;
}
TopologyError TopologyError::cortex_type_slug(std::string text) {
    return with_text(Kind::CortexTypeSlug, std::move(text));
}
TopologyError TopologyError::neuron_kind_slug(std::string text) {
    return with_text(Kind::NeuronKindSlug, std::move(text));
}
TopologyError TopologyError::synapse_kind_slug(std::string text) {
    return with_text(Kind::SynapseKindSlug, std::move(text));
}
TopologyError TopologyError::duplicate_node_id(Uuid id) {
    return with_id(Kind::DuplicateNodeId, id);
}
TopologyError TopologyError::duplicate_edge_id(Uuid id) {
    return with_id(Kind::DuplicateEdgeId, id);
}
TopologyError TopologyError::duplicate_triple(Uuid edge) {
    return with_id(Kind::DuplicateTriple, edge);
}
TopologyError TopologyError::missing_node(Uuid edge, Uuid node) {
    TopologyError e = with_id(Kind::MissingNode, edge);
    e.node = node;
    return e;
}
TopologyError TopologyError::self_loop(Uuid edge) {
    return with_id(Kind::SelfLoop, edge);
}
TopologyError TopologyError::init_weight_out_of_range(Uuid edge, float value) {
    TopologyError e = with_id(Kind::InitWeightOutOfRange, edge);
    e.value = value;
    return e;
}
TopologyError TopologyError::bad_delay(Uuid edge, float value) {
    TopologyError e = with_id(Kind::BadDelay, edge);
    e.value = value;
    return e;
}

TopologyError TopologyError::cortex_type_mismatch(std::string topology_type,
                                                  std::string metadata_type) {
    TopologyError e = with_text(Kind::CortexTypeMismatch, std::move(topology_type));
    e.other_text = std::move(metadata_type);
    return e;
}
TopologyError TopologyError::default_kind_mismatch(std::string kind, std::string cortex_type) {
    TopologyError e = with_text(Kind::DefaultNeuronKindMismatch, std::move(kind));
    e.other_text = std::move(cortex_type);
    return e;
}

std::string TopologyError::message() const {
    switch (kind) {
        case Kind::TooLarge:
            return "topology file too large: " + std::to_string(size) + " bytes exceeds limit of " +
                   std::to_string(limit);
        case Kind::Json:
            return "topology JSON parse error: " + json.message();
        case Kind::FormatTagMismatch:
            return "topology format tag '" + text + "' is not '" + std::string(kTopologyFormatTag) +
                   "'";
        case Kind::UnsupportedVersion:
            return "topology version " + std::to_string(size) + " is not supported (max " +
                   std::to_string(limit) + ")";
        case Kind::CortexTypeSlug:
            return "cortex_type '" + text + "' is not a valid kebab-case slug";
        case Kind::NeuronKindSlug:
            return "neuron kind '" + text + "' is not a valid kebab-case slug";
        case Kind::SynapseKindSlug:
            return "synapse kind '" + text + "' is not a valid kebab-case slug";
        case Kind::DuplicateNodeId:
            return "duplicate node id " + id.to_string();
        case Kind::DuplicateEdgeId:
            return "duplicate edge id " + id.to_string();
        case Kind::DuplicateTriple:
            return "edge " + id.to_string() + " duplicates an existing (pre, post, kind) triple";
        case Kind::MissingNode:
            return "edge " + id.to_string() + " references missing node " + node.to_string();
        case Kind::SelfLoop:
            return "edge " + id.to_string() + " is a self-loop (pre == post)";
        case Kind::InitWeightOutOfRange:
            return "edge " + id.to_string() + " init_weight " + format_float(value) +
                   " is not finite or outside [0.0, 1.0]";
        case Kind::BadDelay:
            return "edge " + id.to_string() + " delay_ms " + format_float(value) +
                   " is not finite or is negative";
        case Kind::CortexTypeMismatch:
            return "topology says '" + text + "' but metadata says '" + other_text + "'";
        case Kind::DefaultNeuronKindMismatch:
            return "defaults.neuron.kind '" + text + "' does not match cortex_type '" + other_text +
                   "'";
    }
    return {};
}

}  // namespace vorn
