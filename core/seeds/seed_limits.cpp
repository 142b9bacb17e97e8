#include "core/seeds/seed_limits.hpp"

#include "core/seeds/seed.hpp"

namespace vorn {

std::uint64_t estimate_seed_bytes(std::uint64_t nodes, std::uint64_t edges,
                                  std::uint64_t node_heap_bytes) {
    // Only called with counts within kMaxSeedNodes and kMaxSeedEdges, so no
    // product below can overflow.
    return nodes * (sizeof(SeedNode) + node_heap_bytes) + edges * sizeof(SeedEdge);
}

std::optional<SeedError> check_seed_size(std::uint64_t nodes, std::uint64_t edges,
                                         std::uint64_t node_heap_bytes) {
    if (nodes > kMaxSeedNodes)
        return SeedError::too_large(SeedError::Quantity::Nodes, kMaxSeedNodes);
    if (edges > kMaxSeedEdges)
        return SeedError::too_large(SeedError::Quantity::Edges, kMaxSeedEdges);
    if (estimate_seed_bytes(nodes, edges, node_heap_bytes) > kMaxSeedBytes)
        return SeedError::too_large(SeedError::Quantity::Bytes, kMaxSeedBytes);
    return std::nullopt;
}

}  // namespace vorn
