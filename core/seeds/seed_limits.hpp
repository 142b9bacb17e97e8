#pragma once
// Upper bounds on one generator call, checked after the argument checks and
// before anything is allocated, so that an oversized request fails with a
// SeedError instead of exhausting memory or running for years.

#include <cstdint>
#include <optional>

#include "core/seeds/seed_error.hpp"

namespace vorn {

inline constexpr std::uint64_t kMaxSeedNodes = 0xFFFF'FFFFULL;
inline constexpr std::uint64_t kMaxSeedEdges = 0xFFFF'FFFFULL;
// Estimated memory of the node and edge lists.
inline constexpr std::uint64_t kMaxSeedBytes = 1ULL << 36;
// Decision draws of `random`, n(n - 1): about three hours at 100 million draws a second.
inline constexpr std::uint64_t kMaxRandomDraws = 1ULL << 40;

// The estimated bytes of a seed with these counts; node_heap_bytes is what
// each node holds outside its record (long labels, metadata members).
std::uint64_t estimate_seed_bytes(std::uint64_t nodes, std::uint64_t edges,
                                  std::uint64_t node_heap_bytes);

// Nullopt when nodes, edges and their estimated bytes are all within the limits;
// otherwise the TooLarge error for the first limit exceeded.
std::optional<SeedError> check_seed_size(std::uint64_t nodes, std::uint64_t edges,
                                         std::uint64_t node_heap_bytes);

}  // namespace vorn
