// The exact serialised form of a topology: members in document order,
// optional members omitted when absent or (for metadata) an empty object.

#include <algorithm>
#include <cstdint>

#include "core/format/json_writer.hpp"
#include "core/format/topology.hpp"

namespace vorn {
namespace {

bool is_empty_object(const JsonValue& v) {
    return v.is_object() && v.as_object().empty();
}

template <typename Spec>
void write_spec(JsonWriter& w, const Spec& spec) {
    w.begin_object();
    w.key("kind");
    w.string(spec.kind);
    if (spec.config) {
        w.key("config");
        w.value(*spec.config);
    }
    w.end_object();
}

void write_node(JsonWriter& w, const TopologyNode& n) {
    w.begin_object();
    w.key("id");
    w.uuid(n.id);
    w.key("label");
    w.string(n.label);
    if (n.kind) {
        w.key("kind");
        write_spec(w, *n.kind);
    }
    if (!is_empty_object(n.metadata)) {
        w.key("metadata");
        w.value(n.metadata);
    }
    if (n.init_state) {
        w.key("init_state");
        w.value(*n.init_state);
    }
    w.end_object();
}

void write_edge(JsonWriter& w, const TopologyEdge& e) {
    w.begin_object();
    w.key("id");
    w.uuid(e.id);
    w.key("pre");
    w.uuid(e.pre);
    w.key("post");
    w.uuid(e.post);
    if (e.kind) {
        w.key("kind");
        write_spec(w, *e.kind);
    }
    w.key("init_weight");
    w.f32(e.init_weight);
    w.key("delay_ms");
    w.f32(e.delay_ms);
    if (!is_empty_object(e.metadata)) {
        w.key("metadata");
        w.value(e.metadata);
    }
    w.end_object();
}

}  // namespace

std::expected<std::string, TopologyError> serialize_topology(const TopologyFile& t) {
    if (auto err = validate_topology(t))
        return std::unexpected(std::move(*err));
    std::string out;
    // A plain edge takes about 260 bytes, a plain node about 100. Nothing
    // beyond the cap is kept, so neither is room for it.
    out.reserve(std::min<std::uint64_t>(512 + t.nodes.size() * 112 + t.edges.size() * 272,
                                        kTopologyByteCap + 1));
    JsonWriter w(out, true);
    w.begin_object();
    w.key("format");
    w.string(t.format);
    w.key("version");
    w.unsigned_int(t.version);
    w.key("cortex_type");
    w.string(t.cortex_type);
    w.key("defaults");
    w.begin_object();
    w.key("neuron");
    write_spec(w, t.defaults.neuron);
    w.key("synapse");
    write_spec(w, t.defaults.synapse);
    w.end_object();
    w.key("nodes");
    w.begin_array();
    for (const TopologyNode& n : t.nodes) {
        if (out.size() > kTopologyByteCap)
            break;
        write_node(w, n);
    }
    w.end_array();
    w.key("edges");
    w.begin_array();
    for (const TopologyEdge& e : t.edges) {
        if (out.size() > kTopologyByteCap)
            break;
        write_edge(w, e);
    }
    w.end_array();
    if (!is_empty_object(t.metadata)) {
        w.key("metadata");
        w.value(t.metadata);
    }
    w.end_object();
    if (w.error())
        return std::unexpected(TopologyError::json_error(*w.error()));
    // The reader refuses more than the cap, so a larger file could never be
    // opened again. Past the cap the items were skipped: the size is a lower bound.
    if (out.size() > kTopologyByteCap)
        return std::unexpected(TopologyError::too_large(out.size(), kTopologyByteCap));
    return out;
}

}  // namespace vorn
