// The graph edits of Cortex. Each one changes the in-memory topology,
// validates the whole graph (undoing the change if it is invalid), rewrites
// topology.json and appends one event whose failure does not fail the edit.

#include <algorithm>
#include <utility>

#include "core/format/event.hpp"
#include "core/store/cortex.hpp"
#include "core/store/event_log.hpp"
#include "core/store/id_source.hpp"
#include "core/store/topology_store.hpp"

namespace vorn {
namespace {

std::expected<Uuid, CortexError> id_or_mint(const std::optional<Uuid>& given) {
    if (given)
        return *given;
    return mint_id();
}

// Makes room for extra more items with geometric growth, so that repeated
// bulk inserts stay linear overall.
template <typename T>
void reserve_more(std::vector<T>& v, std::size_t extra) {
    std::size_t need = v.size() + extra;
    if (need > v.capacity())
        v.reserve(std::max(need, 2 * v.capacity()));
}

// Writes topology.json. When the writer refuses the graph itself (too large to
// read back) rather than failing on disk, undo takes the change back out as
// after a failed validation; after a disk failure the change stays in memory.
template <typename Undo>
std::expected<void, CortexError> write_or_undo(const std::string& root, const TopologyFile& t,
                                               Undo&& undo) {
    auto written = write_topology(root, t);
    if (!written && !written.error().is_os_error())
        undo();
    return written;
}

}  // namespace

std::expected<Uuid, CortexError> Cortex::add_neuron(NeuronInput input) {
    auto id = id_or_mint(input.id);
    if (!id)
        return std::unexpected(id.error());
    auto& nodes = topology_.nodes;
    nodes.push_back(
        TopologyNode{*id, std::move(input.label), std::move(input.kind),
                     input.metadata ? std::move(*input.metadata) : JsonValue(JsonObject{}),
                     std::move(input.init_state)});
    if (auto invalid = validate_topology(topology_)) {
        nodes.pop_back();
        return std::unexpected(std::move(*invalid));
    }
    if (auto r = write_or_undo(root_, topology_, [&] { nodes.pop_back(); }); !r)
        return std::unexpected(r.error());
    (void)append_event(root_, EventRecord::of(NeuronAddEvent{*id, nodes.back().label}));
    return *id;
}

std::expected<Uuid, CortexError> Cortex::add_synapse(SynapseInput input) {
    auto id = id_or_mint(input.id);
    if (!id)
        return std::unexpected(id.error());
    auto& edges = topology_.edges;
    edges.push_back(
        TopologyEdge{*id, input.pre, input.post, std::move(input.kind), input.init_weight,
                     input.delay_ms.value_or(1.0f),
                     input.metadata ? std::move(*input.metadata) : JsonValue(JsonObject{})});
    if (auto invalid = validate_topology(topology_)) {
        edges.pop_back();
        return std::unexpected(std::move(*invalid));
    }
    if (auto r = write_or_undo(root_, topology_, [&] { edges.pop_back(); }); !r)
        return std::unexpected(r.error());
    (void)append_event(
        root_, EventRecord::of(SynapseAddEvent{*id, input.pre, input.post, input.init_weight}));
    return *id;
}

std::expected<std::uint64_t, CortexError> Cortex::remove_neuron(Uuid id) {
    // Single-pass compactions keep removal linear in the graph size.
    if (std::erase_if(topology_.nodes, [&](const TopologyNode& n) { return n.id == id; }) == 0)
        return 0;
    std::uint64_t cascaded = std::erase_if(
        topology_.edges, [&](const TopologyEdge& e) { return e.pre == id || e.post == id; });
    // Removing items cannot make a valid graph invalid, so nothing is validated.
    if (auto r = write_topology(root_, topology_); !r)
        return std::unexpected(r.error());
    (void)append_event(root_, EventRecord::of(NeuronRemoveEvent{id, cascaded}));
    return cascaded;
}

std::expected<bool, CortexError> Cortex::remove_synapse(Uuid id) {
    if (std::erase_if(topology_.edges, [&](const TopologyEdge& e) { return e.id == id; }) == 0)
        return false;
    if (auto r = write_topology(root_, topology_); !r)
        return std::unexpected(r.error());
    (void)append_event(root_, EventRecord::of(SynapseRemoveEvent{id}));
    return true;
}

std::expected<SeedApplyCounts, CortexError> Cortex::apply_seed(Seed seed) {
    auto& nodes = topology_.nodes;
    auto& edges = topology_.edges;
    const std::size_t nodes_before = nodes.size();
    const std::size_t edges_before = edges.size();

    reserve_more(nodes, seed.nodes.size());
    for (SeedNode& s : seed.nodes) {
        nodes.push_back(TopologyNode{s.id, std::move(s.label), std::move(s.kind),
                                     std::move(s.metadata), std::nullopt});
    }
    reserve_more(edges, seed.edges.size());
    for (SeedEdge& s : seed.edges) {
        edges.push_back(TopologyEdge{s.id, s.pre, s.post, std::move(s.kind), s.init_weight,
                                     s.delay_ms, JsonValue(JsonObject{})});
    }

    auto roll_back = [&] {
        nodes.erase(nodes.begin() + static_cast<std::ptrdiff_t>(nodes_before), nodes.end());
        edges.erase(edges.begin() + static_cast<std::ptrdiff_t>(edges_before), edges.end());
    };
    if (auto invalid = validate_topology(topology_)) {
        roll_back();
        return std::unexpected(std::move(*invalid));
    }
    SeedApplyCounts counts{nodes.size() - nodes_before, edges.size() - edges_before};
    if (auto r = write_or_undo(root_, topology_, roll_back); !r)
        return std::unexpected(r.error());
    (void)append_event(root_,
                       EventRecord::of(SeedApplyEvent{counts.added_nodes, counts.added_edges}));
    return counts;
}

}  // namespace vorn
