#include <algorithm>
#include <cmath>

#include "core/seeds/generators.hpp"
#include "core/seeds/seed_builder.hpp"
#include "core/seeds/seed_limits.hpp"

namespace vorn {
namespace {

// Room for the edge list: the expected count plus a margin of several
// standard deviations, so the list rarely grows during generation.
std::uint64_t expected_edge_capacity(std::uint64_t pairs, float p) {
    const double mean = static_cast<double>(pairs) * static_cast<double>(p);
    const double wanted = std::ceil(mean + 6.0 * std::sqrt(mean) + 16.0);
    if (wanted >= static_cast<double>(pairs))
        return pairs;
    return static_cast<std::uint64_t>(wanted);
}

// One decision draw per ordered pair (i, j), i != j, in row order.
std::expected<Seed, SeedError> generate(std::uint64_t n, float p, std::uint64_t seed,
                                        const SeedParams& params, std::uint64_t capacity) {
    SeedBuilder builder(seed, params);
    builder.reserve(n, capacity);
    builder.add_indexed_nodes(n);
    SeedRng& rng = builder.rng();
    for (std::uint64_t i = 0; i < n; ++i) {
        for (std::uint64_t j = 0; j < n; ++j) {
            if (j == i)
                continue;
            if (rng.unit_float() < p) {
                // Reachable only far beyond the expected count checked up front.
                if (builder.edge_count() == kMaxSeedEdges) {
                    return std::unexpected(
                        SeedError::too_large(SeedError::Quantity::Edges, kMaxSeedEdges));
                }
                builder.add_edge(i, j);
            }
        }
    }
    return builder.take();
}

}  // namespace

std::expected<Seed, SeedError> random(std::uint64_t n, float p, std::uint64_t seed,
                                      SeedParams params) {
    if (auto error = check_seed_params(params))
        return std::unexpected(std::move(*error));
    if (!is_probability(p))
        return std::unexpected(SeedError::probability("p", p));
    if (n > kMaxSeedNodes)
        return std::unexpected(SeedError::too_large(SeedError::Quantity::Nodes, kMaxSeedNodes));
    // n fits in 32 bits here, so the pair count fits in 64.
    const std::uint64_t pairs = n == 0 ? 0 : n * (n - 1);
    if (pairs > kMaxRandomDraws)
        return std::unexpected(SeedError::too_large(SeedError::Quantity::Draws, kMaxRandomDraws));
    const std::uint64_t capacity = expected_edge_capacity(pairs, p);
    if (auto error = check_seed_size(n, capacity, 0))
        return std::unexpected(std::move(*error));
    return guard_allocation(estimate_seed_bytes(n, capacity, 0),
                            [&] { return generate(n, p, seed, params, capacity); });
}

}  // namespace vorn
