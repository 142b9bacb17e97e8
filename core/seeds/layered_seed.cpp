#include <vector>

#include "core/seeds/generators.hpp"
#include "core/seeds/seed_builder.hpp"
#include "core/seeds/seed_limits.hpp"

namespace vorn {
namespace {

// Heap bytes a layered node holds outside its record: two metadata members.
constexpr std::uint64_t kLayeredNodeHeapBytes = 2 * sizeof(JsonObject::Member);

JsonValue layer_metadata(std::uint64_t layer, std::uint64_t index) {
    JsonObject object;
    object.reserve(2);
    // Appended in ascending key order.
    object.append_sorted("index_in_layer", JsonValue::unsigned_int(index));
    object.append_sorted("layer", JsonValue::unsigned_int(layer));
    return JsonValue(std::move(object));
}

Seed generate(std::span<const std::uint64_t> layers, std::uint64_t seed, const SeedParams& params,
              std::uint64_t nodes, std::uint64_t edges) {
    SeedBuilder builder(seed, params);
    builder.reserve(nodes, edges);
    std::vector<std::uint64_t> first;  // position of each layer's first node
    first.reserve(layers.size());
    std::uint64_t position = 0;
    for (std::uint64_t l = 0; l < layers.size(); ++l) {
        first.push_back(position);
        for (std::uint64_t i = 0; i < layers[l]; ++i)
            builder.add_node(layer_node_label(l, i), layer_metadata(l, i));
        position += layers[l];
    }
    for (std::uint64_t l = 0; l + 1 < layers.size(); ++l) {
        for (std::uint64_t a = first[l]; a < first[l] + layers[l]; ++a) {
            for (std::uint64_t b = first[l + 1]; b < first[l + 1] + layers[l + 1]; ++b)
                builder.add_edge(a, b);
        }
    }
    return builder.take();
}

}  // namespace

std::expected<Seed, SeedError> layered(std::span<const std::uint64_t> layers, std::uint64_t seed,
                                       SeedParams params) {
    if (auto error = check_seed_params(params))
        return std::unexpected(std::move(*error));
    if (layers.size() < 2)
        return std::unexpected(SeedError::too_few_layers());
    for (std::uint64_t l = 0; l < layers.size(); ++l) {
        if (layers[l] == 0)
            return std::unexpected(SeedError::empty_layer(l));
    }
    // Once the node total is within 32 bits, the edge total (at most its square) fits in 64.
    std::uint64_t nodes = 0;
    for (std::uint64_t size : layers) {
        if (size > kMaxSeedNodes - nodes)
            return std::unexpected(SeedError::too_large(SeedError::Quantity::Nodes, kMaxSeedNodes));
        nodes += size;
    }
    std::uint64_t edges = 0;
    for (std::uint64_t l = 0; l + 1 < layers.size(); ++l)
        edges += layers[l] * layers[l + 1];
    if (auto error = check_seed_size(nodes, edges, kLayeredNodeHeapBytes))
        return std::unexpected(std::move(*error));
    return guard_allocation(estimate_seed_bytes(nodes, edges, kLayeredNodeHeapBytes),
                            [&] { return generate(layers, seed, params, nodes, edges); });
}

}  // namespace vorn
