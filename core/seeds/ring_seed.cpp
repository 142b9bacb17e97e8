#include "core/seeds/generators.hpp"
#include "core/seeds/seed_builder.hpp"
#include "core/seeds/seed_limits.hpp"

namespace vorn {
namespace {

// The second source of small_world is seeded this far from the ring's.
constexpr std::uint64_t kRewireSeedOffset = 0x5A5A5A5A5A5A5A5AULL;

Seed generate_ring(std::uint64_t n, std::uint64_t k, std::uint64_t seed, const SeedParams& params) {
    SeedBuilder builder(seed, params);
    builder.reserve(n, 2 * n * k);
    builder.add_indexed_nodes(n);
    if (k == 0)
        return builder.take();
    for (std::uint64_t i = 0; i < n; ++i) {
        // (i + j) mod n and (i + n - j) mod n without a division: j < n / 2.
        for (std::uint64_t j = 1; j <= k; ++j) {
            const std::uint64_t next = i + j;
            builder.add_edge(i, next >= n ? next - n : next);
            builder.add_edge(i, i >= j ? i - j : i + n - j);
        }
    }
    return builder.take();
}

// Redraws the target of each edge with probability p_rewire until it differs
// from the edge's source; everything else about the edge is kept.
void rewire(Seed& seed, std::uint64_t rng_seed, float p_rewire) {
    SeedRng rng = SeedRng::from_seed(rng_seed + kRewireSeedOffset);
    const auto& nodes = seed.nodes;
    const std::uint64_t n = nodes.size();
    for (SeedEdge& edge : seed.edges) {
        if (!(rng.unit_float() < p_rewire))
            continue;
        std::uint64_t index;
        do {
            index = rng.index_below(n);
        } while (nodes[index].id == edge.pre);
        edge.post = nodes[index].id;
    }
}

}  // namespace

std::expected<Seed, SeedError> ring(std::uint64_t n, std::uint64_t k, std::uint64_t seed,
                                    SeedParams params) {
    if (auto error = check_seed_params(params))
        return std::unexpected(std::move(*error));
    // k <= n / 2 with 2k < n, written so that 2k cannot overflow.
    if (n == 0 || k > (n - 1) / 2)
        return std::unexpected(SeedError::ring_degree(n, k));
    if (n > kMaxSeedNodes)
        return std::unexpected(SeedError::too_large(SeedError::Quantity::Nodes, kMaxSeedNodes));
    // 2k < n <= 2^32 - 1, so 2nk < n^2 fits in 64 bits.
    const std::uint64_t edges = 2 * n * k;
    if (auto error = check_seed_size(n, edges, 0))
        return std::unexpected(std::move(*error));
    return guard_allocation(estimate_seed_bytes(n, edges, 0),
                            [&] { return generate_ring(n, k, seed, params); });
}

std::expected<Seed, SeedError> small_world(std::uint64_t n, std::uint64_t k, std::uint64_t seed,
                                           SeedParams params, float p_rewire) {
    if (!is_probability(p_rewire))
        return std::unexpected(SeedError::probability("p_rewire", p_rewire));
    auto result = ring(n, k, seed, std::move(params));
    if (result.has_value())
        rewire(*result, seed, p_rewire);
    return result;
}

}  // namespace vorn
