// The graph edits of Cortex. Each one changes the in-memory topology,
// validates the whole graph (undoing the change if it is invalid), rewrites
// topology.json and appends one event whose failure does not fail the edit.
// Every step that can allocate runs while the change can still be taken
// back, so running out of memory leaves the graph as it was.

#include <algorithm>
#include <type_traits>
#include <utility>

#include "core/format/event.hpp"
#include "core/store/cortex.hpp"
#include "core/store/id_source.hpp"

namespace vorn {
namespace {

// Undoing a change moves items back into place; a move that could throw
// would leave the graph half restored.
static_assert(std::is_nothrow_move_constructible_v<TopologyNode> &&
              std::is_nothrow_move_assignable_v<TopologyNode>);
static_assert(std::is_nothrow_move_constructible_v<TopologyEdge> &&
              std::is_nothrow_move_assignable_v<TopologyEdge>);

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

// Items taken out of a list together with their positions, so that they can
// be put back in their old order. All room is reserved up front: taking out
// and putting back allocate nothing.
template <typename T>
class TakenItems {
  public:
    // Room for count items; the only step that can run out of memory.
    explicit TakenItems(std::size_t count) { items_.reserve(count); }

    // Moves the items matching take out of list, compacting the rest in one
    // pass; at most the reserved count may match.
    template <typename Pred>
    void take_from(std::vector<T>& list, Pred take) noexcept {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (take(list[i]))
                items_.emplace_back(i, std::move(list[i]));
            else if (kept++ != i)
                list[kept - 1] = std::move(list[i]);
        }
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(kept), list.end());
    }

    // Puts every taken item back at its old position. The list still has the
    // capacity it had before take_from, so growing it allocates nothing.
    void put_back(std::vector<T>& list) noexcept {
        std::size_t src = list.size();
        list.resize(src + items_.size());
        std::size_t taken = items_.size();
        for (std::size_t dst = list.size(); dst-- > 0;) {
            if (taken > 0 && items_[taken - 1].first == dst)
                list[dst] = std::move(items_[--taken].second);
            else
                list[dst] = std::move(list[--src]);
        }
        items_.clear();
    }

    std::size_t size() const { return items_.size(); }

  private:
    std::vector<std::pair<std::size_t, T>> items_;  // old position, item
};

}  // namespace

template <typename Undo, typename MakeEvent>
std::expected<void, CortexError> Cortex::finish_edit(Undo&& undo, MakeEvent&& make_event) {
    try {
        // Serialising validates first; a refused graph is taken back out, as
        // is one too large to read back.
        auto bytes = serialize_topology(topology_);
        if (!bytes) {
            undo();
            return std::unexpected(std::move(bytes.error()));
        }
        auto committed = commit_topology(*bytes, make_event());
        if (!committed) {
            // A stale handle must not keep a change it could never write; a
            // disk failure keeps it in memory for the next save.
            if (committed.error().kind() == CortexError::Kind::StaleHandle)
                undo();
            return std::unexpected(std::move(committed.error()));
        }
        return {};
    } catch (...) {
        // Out of memory before topology.json was replaced (nothing allocates
        // after that).
        undo();
        throw;
    }
}

std::expected<Uuid, CortexError> Cortex::add_neuron(NeuronInput input) {
    auto id = id_or_mint(input.id);
    if (!id)
        return std::unexpected(id.error());
    auto& nodes = topology_.nodes;
    nodes.push_back(
        TopologyNode{*id, std::move(input.label), std::move(input.kind),
                     input.metadata ? std::move(*input.metadata) : JsonValue(JsonObject{}),
                     std::move(input.init_state)});
    auto done = finish_edit([&]() noexcept { nodes.pop_back(); },
                            [&] {
                                return EventRecord::of(NeuronAddEvent{*id, nodes.back().label});
                            });
    if (!done)
        return std::unexpected(done.error());
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
    auto done = finish_edit(
        [&]() noexcept { edges.pop_back(); },
        [&] {
            return EventRecord::of(SynapseAddEvent{*id, input.pre, input.post, input.init_weight});
        });
    if (!done)
        return std::unexpected(done.error());
    return *id;
}

std::expected<std::uint64_t, CortexError> Cortex::remove_neuron(Uuid id) {
    auto is_node = [&](const TopologyNode& n) noexcept { return n.id == id; };
    auto touches = [&](const TopologyEdge& e) noexcept { return e.pre == id || e.post == id; };
    auto& nodes = topology_.nodes;
    auto& edges = topology_.edges;
    const auto node_count =
        static_cast<std::size_t>(std::count_if(nodes.begin(), nodes.end(), is_node));
    if (node_count == 0)
        return 0;
    TakenItems<TopologyNode> gone_nodes(node_count);
    TakenItems<TopologyEdge> gone_edges(
        static_cast<std::size_t>(std::count_if(edges.begin(), edges.end(), touches)));
    // Single-pass compactions keep removal linear in the graph size.
    gone_nodes.take_from(nodes, is_node);
    gone_edges.take_from(edges, touches);
    const std::uint64_t cascaded = gone_edges.size();
    // Removing items cannot make a valid graph invalid; serialising checks
    // it all the same.
    auto done = finish_edit(
        [&]() noexcept {
            gone_edges.put_back(edges);
            gone_nodes.put_back(nodes);
        },
        [&] {
            return EventRecord::of(NeuronRemoveEvent{id, cascaded});
        });
    if (!done)
        return std::unexpected(done.error());
    return cascaded;
}

std::expected<bool, CortexError> Cortex::remove_synapse(Uuid id) {
    auto is_edge = [&](const TopologyEdge& e) noexcept { return e.id == id; };
    auto& edges = topology_.edges;
    const auto count = static_cast<std::size_t>(std::count_if(edges.begin(), edges.end(), is_edge));
    if (count == 0)
        return false;
    TakenItems<TopologyEdge> gone(count);
    gone.take_from(edges, is_edge);
    auto done = finish_edit([&]() noexcept { gone.put_back(edges); },
                            [&] { return EventRecord::of(SynapseRemoveEvent{id}); });
    if (!done)
        return std::unexpected(done.error());
    return true;
}

std::expected<SeedApplyCounts, CortexError> Cortex::apply_seed(Seed seed) {
    auto& nodes = topology_.nodes;
    auto& edges = topology_.edges;
    const std::size_t nodes_before = nodes.size();
    const std::size_t edges_before = edges.size();
    auto roll_back = [&]() noexcept {
        nodes.erase(nodes.begin() + static_cast<std::ptrdiff_t>(nodes_before), nodes.end());
        edges.erase(edges.begin() + static_cast<std::ptrdiff_t>(edges_before), edges.end());
    };

    try {
        reserve_more(nodes, seed.nodes.size());
        reserve_more(edges, seed.edges.size());
        for (SeedNode& s : seed.nodes) {
            nodes.push_back(TopologyNode{s.id, std::move(s.label), std::move(s.kind),
                                         std::move(s.metadata), std::nullopt});
        }
        for (SeedEdge& s : seed.edges) {
            edges.push_back(TopologyEdge{s.id, s.pre, s.post, std::move(s.kind), s.init_weight,
                                         s.delay_ms, JsonValue(JsonObject{})});
        }
    } catch (...) {
        roll_back();
        throw;
    }
    const SeedApplyCounts counts{nodes.size() - nodes_before, edges.size() - edges_before};
    auto done = finish_edit(roll_back, [&] {
        return EventRecord::of(SeedApplyEvent{counts.added_nodes, counts.added_edges});
    });
    if (!done)
        return std::unexpected(done.error());
    return counts;
}

}  // namespace vorn
