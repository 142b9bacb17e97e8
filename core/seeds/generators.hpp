#pragma once
// The four seed generators. Each returns a complete seed or one SeedError,
// detected before any number is drawn; the same arguments always give the
// same seed, identifiers included.

#include <cstdint>
#include <expected>
#include <span>

#include "core/seeds/seed.hpp"
#include "core/seeds/seed_error.hpp"

namespace vorn {

// n nodes; every ordered pair of distinct nodes is connected with probability p.
std::expected<Seed, SeedError> random(std::uint64_t n, float p, std::uint64_t seed,
                                      SeedParams params);

// n nodes on a ring, each connected to its k nearest neighbours on either
// side (2nk edges); requires 2k < n.
std::expected<Seed, SeedError> ring(std::uint64_t n, std::uint64_t k, std::uint64_t seed,
                                    SeedParams params);

// The ring of the same arguments with each edge's target redrawn with
// probability p_rewire; p_rewire = 0 gives exactly the ring.
std::expected<Seed, SeedError> small_world(std::uint64_t n, std::uint64_t k, std::uint64_t seed,
                                           SeedParams params, float p_rewire);

// Layers of the given sizes, each node connected to every node of the next layer.
std::expected<Seed, SeedError> layered(std::span<const std::uint64_t> layers, std::uint64_t seed,
                                       SeedParams params);

}  // namespace vorn
