#pragma once
// SeedBuilder: the steps every generator shares (argument checks, the node
// block, edge making) around one random source and one growing Seed.

#include <cstdint>
#include <expected>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/seeds/seed.hpp"
#include "core/seeds/seed_error.hpp"
#include "core/seeds/seed_rng.hpp"

namespace vorn {

// The weight range check, then the delay check; nullopt when both pass.
std::optional<SeedError> check_seed_params(const SeedParams& params);

// True when p is finite and within [0, 1].
bool is_probability(float p);

// "n{index}", formatted in place; labels up to 15 characters need no heap block.
std::string node_label(std::uint64_t index);
// "L{layer}-n{index}".
std::string layer_node_label(std::uint64_t layer, std::uint64_t index);

class SeedBuilder {
  public:
    SeedBuilder(std::uint64_t seed, const SeedParams& params)
        : rng_(SeedRng::from_seed(seed)),
          params_(params),
          node_kind_(params.neuron),
          edge_kind_(params.synapse) {}

    void reserve(std::uint64_t nodes, std::uint64_t edges) {
        seed_.nodes.reserve(nodes);
        seed_.edges.reserve(edges);
    }

    // Appends a node: its identifier draw, the node template and the metadata.
    void add_node(std::string label, JsonValue metadata) {
        const Uuid id = rng_.next_uuid();
        seed_.nodes.emplace_back(id, std::move(label), node_kind_, std::move(metadata));
    }

    // Appends the edge between the nodes at positions pre and post: the
    // weight draw, then the identifier draw.
    void add_edge(std::size_t pre, std::size_t post) {
        const float weight = rng_.draw_weight(params_.weight_lo, params_.weight_hi);
        const Uuid id = rng_.next_uuid();
        seed_.edges.emplace_back(id, seed_.nodes[pre].id, seed_.nodes[post].id, edge_kind_, weight,
                                 params_.delay_ms);
    }

    // Appends nodes "n0" .. "n{count-1}" with empty metadata.
    void add_indexed_nodes(std::uint64_t count) {
        for (std::uint64_t i = 0; i < count; ++i)
            add_node(node_label(i), JsonValue(JsonObject{}));
    }

    SeedRng& rng() { return rng_; }
    std::size_t edge_count() const { return seed_.edges.size(); }
    Seed take() { return std::move(seed_); }

  private:
    SeedRng rng_;
    const SeedParams& params_;
    CompactOptional<NeuronSpec> node_kind_;   // copied into every node
    CompactOptional<SynapseSpec> edge_kind_;  // copied into every edge
    Seed seed_;
};

// Runs a generator body, turning an allocation failure into a TooLarge error
// that names the estimated bytes, so that no exception leaves the core.
template <typename Body>
std::expected<Seed, SeedError> guard_allocation(std::uint64_t estimated_bytes, Body&& body) {
    try {
        return std::forward<Body>(body)();
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    return std::unexpected(SeedError::too_large(SeedError::Quantity::Allocation, estimated_bytes));
}

}  // namespace vorn
