#include <vector>

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

// Redraws the target of each edge with probability p_rewire until it is
// neither the edge's source nor the target of another edge from that source,
// so that no pair repeats; everything else about the edge is kept. A draw
// that lands on the edge's own old target is accepted. Until a draw is
// refused for a repeat, the draws are those of a redraw on self-loops alone.
//
// The ring lists the 2k edges of each source together, and rewiring keeps
// sources, so the targets taken are tracked one source block at a time.
// Each redraw succeeds with probability at least (n - 2k) / n.
void rewire(Seed& seed, std::uint64_t rng_seed, float p_rewire, std::uint64_t k) {
    SeedRng rng = SeedRng::from_seed(rng_seed + kRewireSeedOffset);
    const auto& nodes = seed.nodes;
    const std::uint64_t n = nodes.size();
    if (k == 0)
        return;
    const std::uint64_t per_source = 2 * k;
    std::vector<bool> taken(n, false);  // targets of the current source, and the source
    std::vector<std::uint64_t> targets(per_source);
    for (std::uint64_t source = 0; source < n; ++source) {
        SeedEdge* block = seed.edges.data() + source * per_source;
        // The ring's targets of this source, in edge order: i + j, i - j.
        for (std::uint64_t j = 1; j <= k; ++j) {
            targets[2 * (j - 1)] = (source + j) % n;
            targets[2 * (j - 1) + 1] = (source + n - j) % n;
        }
        taken[source] = true;
        for (std::uint64_t t : targets)
            taken[t] = true;
        for (std::uint64_t e = 0; e < per_source; ++e) {
            if (!(rng.unit_float() < p_rewire))
                continue;
            taken[targets[e]] = false;
            std::uint64_t index;
            do {
                index = rng.index_below(n);
            } while (taken[index]);
            taken[index] = true;
            targets[e] = index;
            block[e].post = nodes[index].id;
        }
        taken[source] = false;
        for (std::uint64_t t : targets)
            taken[t] = false;
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
    if (!result.has_value())
        return result;
    // The bookkeeping takes n bits and 2k words beside the seed.
    return guard_allocation(estimate_seed_bytes(n, 2 * n * k, 0), [&] {
        rewire(*result, seed, p_rewire, k);
        return std::move(*result);
    });
}

}  // namespace vorn
