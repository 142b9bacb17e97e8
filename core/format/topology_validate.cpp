// Whole-graph validation of a topology, linear in its size: node ids, edge
// ids and (pre, post, effective kind) triples go through sets sized once.

#include <cmath>
#include <functional>
#include <vector>

#include "core/format/index_set.hpp"
#include "core/format/slug.hpp"
#include "core/format/topology.hpp"

namespace vorn {
namespace {

std::uint64_t mix(std::uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

// Equality on the two 64-bit halves, cheaper than a byte comparison call.
bool same_id(const Uuid& a, const Uuid& b) {
    return a.hi() == b.hi() && a.lo() == b.lo();
}

std::uint64_t id_hash(const Uuid& id) {
    return mix(id.hi() ^ mix(id.lo()));
}

std::optional<TopologyError> check_header(const TopologyFile& t) {
    if (t.format != "cortex.topology")
        return TopologyError::format_tag_mismatch(t.format);
    if (t.version != 1)
        return TopologyError::unsupported_version(t.version, 1);
    if (!is_slug(t.cortex_type))
        return TopologyError::cortex_type_slug(t.cortex_type);
    if (!is_slug(t.defaults.neuron.kind))
        return TopologyError::neuron_kind_slug(t.defaults.neuron.kind);
    if (!is_slug(t.defaults.synapse.kind))
        return TopologyError::synapse_kind_slug(t.defaults.synapse.kind);
    return std::nullopt;
}

}  // namespace

std::optional<TopologyError> validate_topology(const TopologyFile& t) {
    if (auto err = check_header(t))
        return err;

    const auto& nodes = t.nodes;
    // A dense copy of the node ids keeps the lookups of every edge's ends in cache.
    std::vector<Uuid> ids;
    ids.reserve(nodes.size());
    IndexSet node_ids(nodes.size());
    for (std::uint32_t i = 0; i < nodes.size(); ++i) {
        const TopologyNode& n = nodes[i];
        ids.push_back(n.id);
        auto same = [&](std::uint32_t j) { return same_id(ids[j], n.id); };
        if (node_ids.insert(id_hash(n.id), i, same) != IndexSet::kAbsent)
            return TopologyError::duplicate_node_id(n.id);
        if (n.kind && !is_slug(n.kind->kind))
            return TopologyError::neuron_kind_slug(n.kind->kind);
    }
    auto has_node = [&](const Uuid& id) {
        return node_ids.contains(id_hash(id), [&](std::uint32_t j) { return same_id(ids[j], id); });
    };

    const auto& edges = t.edges;
    const std::string& default_kind = t.defaults.synapse.kind;
    const std::uint64_t default_kind_hash = std::hash<std::string_view>{}(default_kind);
    auto kind_of = [&](const TopologyEdge& e) -> const std::string& {
        return e.kind ? e.kind->kind : default_kind;
    };
    auto triple_hash = [&](const TopologyEdge& e) {
        std::uint64_t kind_hash =
            e.kind ? std::hash<std::string_view>{}(e.kind->kind) : default_kind_hash;
        return mix(id_hash(e.pre) ^ mix(id_hash(e.post) + kind_hash));
    };
    IndexSet edge_ids(edges.size());
    IndexSet triples(edges.size());
    // The sets are far larger than the caches: start loading the slots of an
    // edge a few iterations before it is checked.
    constexpr std::uint32_t kAhead = 8;
    for (std::uint32_t i = 0; i < edges.size(); ++i) {
        if (i + kAhead < edges.size()) {
            const TopologyEdge& later = edges[i + kAhead];
            edge_ids.prefetch(id_hash(later.id));
            triples.prefetch(triple_hash(later));
        }
        const TopologyEdge& e = edges[i];
        auto same_edge_id = [&](std::uint32_t j) { return same_id(edges[j].id, e.id); };
        if (edge_ids.insert(id_hash(e.id), i, same_edge_id) != IndexSet::kAbsent)
            return TopologyError::duplicate_edge_id(e.id);
        if (same_id(e.pre, e.post))
            return TopologyError::self_loop(e.id);
        if (!has_node(e.pre))
            return TopologyError::missing_node(e.id, e.pre);
        if (!has_node(e.post))
            return TopologyError::missing_node(e.id, e.post);
        // Comparisons are false for NaN, so NaN fails both range checks.
        if (!(e.init_weight >= 0.0f && e.init_weight <= 1.0f))
            return TopologyError::init_weight_out_of_range(e.id, e.init_weight);
        if (!(std::isfinite(e.delay_ms) && e.delay_ms >= 0.0f))
            return TopologyError::bad_delay(e.id, e.delay_ms);
        if (e.kind && !is_slug(e.kind->kind))
            return TopologyError::synapse_kind_slug(e.kind->kind);
        const std::string& kind = kind_of(e);
        std::uint64_t kind_hash = e.kind ? std::hash<std::string_view>{}(kind) : default_kind_hash;
        std::uint64_t h = mix(id_hash(e.pre) ^ mix(id_hash(e.post) + kind_hash));
        auto same_triple = [&](std::uint32_t j) {
            const TopologyEdge& o = edges[j];
            return same_id(o.pre, e.pre) && same_id(o.post, e.post) && kind_of(o) == kind;
        };
        if (triples.insert(h, i, same_triple) != IndexSet::kAbsent)
            return TopologyError::duplicate_triple(e.id);
    }
    return std::nullopt;
}

}  // namespace vorn
