#include "core/seeds/generators.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <set>
#include <vector>

#include "core/seeds/seed_rng.hpp"

namespace vorn {
namespace {

using Pairs = std::vector<std::pair<std::size_t, std::size_t>>;

Seed make(std::expected<Seed, SeedError> result) {
    EXPECT_TRUE(result.has_value()) << result.error().message();
    return result.has_value() ? std::move(*result) : Seed{};
}

std::size_t position(const Seed& seed, const Uuid& id) {
    std::size_t i = 0;
    while (i < seed.nodes.size() && seed.nodes[i].id != id)
        ++i;
    return i;
}

// (pre, post) node positions of every edge, in list order.
Pairs endpoints(const Seed& seed) {
    Pairs out;
    for (const SeedEdge& e : seed.edges)
        out.emplace_back(position(seed, e.pre), position(seed, e.post));
    return out;
}

std::uint32_t bits(float f) {
    return std::bit_cast<std::uint32_t>(f);
}

TEST(Generators, SeedZeroKnownAnswers) {
    const std::uint64_t layers[] = {1, 1};
    for (const Seed& seed : {make(random(2, 0.5f, 0, {})), make(ring(3, 1, 0, {})),
                             make(small_world(3, 1, 0, {}, 0.5f)), make(layered(layers, 0, {}))}) {
        EXPECT_EQ(seed.nodes[0].id.to_string(), "8c189668-c9e4-4372-b7bf-31e02d7f6b70");
        if (seed.nodes[0].label == "n0") {
            EXPECT_EQ(seed.nodes[1].id.to_string(), "120e0d18-a16e-49fa-b363-2e8066975076");
        } else {
            EXPECT_EQ(seed.nodes[0].label, "L0-n0");
        }
    }
    const Seed two = make(random(2, 1.0f, 0, {}));
    EXPECT_EQ(endpoints(two), (Pairs{{0, 1}, {1, 0}}));
    EXPECT_EQ(bits(two.edges[0].init_weight), 0x3F16ADD5u);
    EXPECT_EQ(two.edges[0].id.to_string(), "e05fa3f7-c2d5-4096-a5c2-578f11cbd474");
    EXPECT_EQ(bits(two.edges[1].init_weight), 0x3F10533Eu);
    EXPECT_EQ(two.edges[1].id.to_string(), "8719dd3a-1d1b-4c3d-9091-3c29392af4f9");
    EXPECT_EQ(two.edges[1].delay_ms, 1.0f);
    EXPECT_FALSE(two.edges[1].kind.has_value());
    EXPECT_EQ(two.nodes[1].metadata, JsonValue(JsonObject{}));
}

// Pinned once from this implementation; a change to the draw order or the
// arithmetic of any generator shows up here.
TEST(Generators, GoldenValuesForNonZeroSeeds) {
    const Seed rnd = make(random(5, 0.3f, 42, {}));
    EXPECT_EQ(endpoints(rnd), (Pairs{{0, 1}, {1, 0}, {2, 4}, {3, 0}, {3, 2}, {4, 3}}));
    EXPECT_EQ(rnd.nodes[0].id.to_string(), "adbe9f94-42ba-4b28-ae3f-8ed4e50ce34d");
    EXPECT_EQ(rnd.edges[5].id.to_string(), "fb5fc543-605f-4e38-843f-287f47dc606d");
    EXPECT_EQ(bits(rnd.edges[5].init_weight), 0x3F0945C1u);

    const Seed rg = make(ring(6, 2, 7, {}));
    EXPECT_EQ(rg.nodes[0].id.to_string(), "e55264ec-2674-44f8-b1a9-8119ac525f50");
    EXPECT_EQ(rg.edges[7].id.to_string(), "837a56eb-b88e-4af1-ba9b-e1308ba45176");
    EXPECT_EQ(bits(rg.edges[7].init_weight), 0x3EFE5006u);

    // Rewired targets of the 40 edges. The third edge's first draw lands on
    // n9, which n0 already reaches, so it is drawn again (giving n5); every
    // later draw follows from there.
    const Seed sw = make(small_world(10, 2, 99, {}, 0.3f));
    const std::vector<std::size_t> posts = {1, 9, 5, 8, 5, 0, 3, 9, 3, 1, 4, 6, 4, 2,
                                            5, 9, 5, 3, 8, 2, 6, 4, 7, 0, 7, 5, 8, 4,
                                            0, 6, 9, 5, 5, 7, 1, 6, 0, 8, 1, 7};
    const Pairs sw_pairs = endpoints(sw);
    ASSERT_EQ(sw_pairs.size(), posts.size());
    for (std::size_t e = 0; e < posts.size(); ++e)
        EXPECT_EQ(sw_pairs[e], std::make_pair(e / 4, posts[e])) << e;
    EXPECT_EQ(sw.edges[2].id.to_string(), "fc7f8a1a-8a1b-4d5b-86e7-248896596a2f");

    const std::uint64_t layers[] = {2, 3, 2};
    const Seed ly = make(layered(layers, 2024, {}));
    EXPECT_EQ(ly.nodes[0].id.to_string(), "b4bac071-8ea7-484e-bfcd-04ae64473294");
    EXPECT_EQ(ly.edges[11].id.to_string(), "1347f9ec-8a99-4957-8e36-36f0d7fc16da");
    EXPECT_EQ(bits(ly.edges[11].init_weight), 0x3EEA97BCu);
}

TEST(Generators, RingAndRandomStructure) {
    const std::size_t n = 7;
    const std::size_t k = 3;
    const Seed rg = make(ring(n, k, 3, {}));
    Pairs expected;
    for (std::size_t i = 0; i < n; ++i) {
        EXPECT_EQ(rg.nodes[i].label, "n" + std::to_string(i));
        for (std::size_t j = 1; j <= k; ++j) {
            expected.emplace_back(i, (i + j) % n);
            expected.emplace_back(i, (i + n - j) % n);
        }
    }
    EXPECT_EQ(endpoints(rg), expected);
    const Seed bare = make(ring(4, 0, 0, {}));
    EXPECT_EQ(bare.nodes.size(), 4u);
    EXPECT_TRUE(bare.edges.empty());

    // p = 1 connects every ordered pair in row order; p = 0 none, same nodes.
    const Seed all = make(random(n, 1.0f, 11, {}));
    expected.clear();
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            if (i != j)
                expected.emplace_back(i, j);
        }
    }
    EXPECT_EQ(endpoints(all), expected);
    const Seed none = make(random(n, 0.0f, 11, {}));
    EXPECT_TRUE(none.edges.empty());
    EXPECT_EQ(none.nodes, all.nodes);
}

TEST(Generators, SmallWorldRewiresOnlyTargets) {
    const Seed base = make(ring(12, 2, 5, {}));
    EXPECT_EQ(make(small_world(12, 2, 5, {}, 0.0f)), base);

    const Seed rewired = make(small_world(12, 2, 5, {}, 1.0f));
    EXPECT_EQ(rewired.nodes, base.nodes);
    ASSERT_EQ(rewired.edges.size(), base.edges.size());
    std::size_t moved = 0;
    for (std::size_t e = 0; e < base.edges.size(); ++e) {
        const SeedEdge& before = base.edges[e];
        const SeedEdge& after = rewired.edges[e];
        EXPECT_EQ(after.id, before.id);
        EXPECT_EQ(after.pre, before.pre);
        EXPECT_EQ(bits(after.init_weight), bits(before.init_weight));
        EXPECT_NE(after.post, after.pre);
        EXPECT_LT(position(rewired, after.post), rewired.nodes.size());
        moved += after.post != before.post;
    }
    EXPECT_GT(moved, base.edges.size() / 2);
}

// The rewiring as it was before repeats were avoided: a target is drawn
// again only when it is the edge's own source. Also tells whether a draw
// ever landed on a pair that another edge held at that moment.
struct OldRewiring {
    std::vector<Uuid> posts;
    bool hit_a_repeat = false;
};

OldRewiring self_loop_only_rewiring(const Seed& ring_seed, std::uint64_t seed, float p) {
    SeedRng rng = SeedRng::from_seed(seed + 0x5A5A5A5A5A5A5A5AULL);
    OldRewiring old;
    for (const SeedEdge& edge : ring_seed.edges)
        old.posts.push_back(edge.post);
    for (std::size_t e = 0; e < old.posts.size(); ++e) {
        if (!(rng.unit_float() < p))
            continue;
        const Uuid& pre = ring_seed.edges[e].pre;
        std::uint64_t index;
        do {
            index = rng.index_below(ring_seed.nodes.size());
        } while (ring_seed.nodes[index].id == pre);
        const Uuid& post = ring_seed.nodes[index].id;
        for (std::size_t other = 0; other < old.posts.size(); ++other) {
            if (other != e && ring_seed.edges[other].pre == pre && old.posts[other] == post)
                old.hit_a_repeat = true;
        }
        old.posts[e] = post;
    }
    return old;
}

TEST(Generators, SmallWorldNeverRepeatsAPairAndKeepsEveryOutputThatDidNot) {
    int unchanged = 0;
    int redrawn = 0;
    for (std::uint64_t seed = 0; seed < 300; ++seed) {
        const std::uint64_t n = 8 + seed % 23;
        const std::uint64_t k = 1 + seed % 3;
        const float p = 0.05f * static_cast<float>(1 + seed % 20);
        const Seed sw = make(small_world(n, k, seed, {}, p));
        std::set<std::pair<Uuid, Uuid>> pairs;
        std::vector<Uuid> posts;
        for (const SeedEdge& e : sw.edges) {
            ASSERT_NE(e.pre, e.post) << seed;
            ASSERT_TRUE(pairs.emplace(e.pre, e.post).second) << seed;
            posts.push_back(e.post);
        }
        // Where the old rewiring never landed on a taken pair, its output
        // is kept exactly.
        const OldRewiring old = self_loop_only_rewiring(make(ring(n, k, seed, {})), seed, p);
        if (old.hit_a_repeat) {
            ++redrawn;
        } else {
            EXPECT_EQ(posts, old.posts) << seed;
            ++unchanged;
        }
    }
    // Both kinds of seed really occurred.
    EXPECT_GT(unchanged, 30);
    EXPECT_GT(redrawn, 30);
}

// With n = 2k + 1 every node already reaches all others, so the only free
// target of a rewired edge is its old one: the ring comes back unchanged.
TEST(Generators, SmallWorldWithNoFreeTargetKeepsTheRing) {
    const Seed base = make(ring(7, 3, 2, {}));
    const Seed sw = make(small_world(7, 3, 2, {}, 1.0f));
    EXPECT_EQ(sw, base);
}

TEST(Generators, LayeredLabelsMetadataAndEdgeOrder) {
    const std::uint64_t layers[] = {2, 3};
    const Seed seed = make(layered(layers, 4, {}));
    const std::vector<std::string> labels = {"L0-n0", "L0-n1", "L1-n0", "L1-n1", "L1-n2"};
    ASSERT_EQ(seed.nodes.size(), labels.size());
    for (std::size_t i = 0; i < labels.size(); ++i) {
        EXPECT_EQ(seed.nodes[i].label, labels[i]);
        JsonObject meta;
        meta.insert_or_assign("layer", JsonValue::unsigned_int(i < 2 ? 0 : 1));
        meta.insert_or_assign("index_in_layer", JsonValue::unsigned_int(i < 2 ? i : i - 2));
        EXPECT_EQ(seed.nodes[i].metadata, JsonValue(meta)) << i;
    }
    EXPECT_EQ(endpoints(seed), (Pairs{{0, 2}, {0, 3}, {0, 4}, {1, 2}, {1, 3}, {1, 4}}));

    const std::uint64_t three[] = {2, 5, 1};
    const Seed deeper = make(layered(three, 0, {}));
    EXPECT_EQ(deeper.nodes.size(), 8u);
    EXPECT_EQ(deeper.edges.size(), 15u);
}

TEST(Generators, ParamsReachEveryNodeAndEdge) {
    SeedParams params;
    params.neuron = NeuronSpec{"hh", JsonValue::string("fast")};
    params.synapse = SynapseSpec{"plastic-synapse", std::nullopt};
    params.weight_lo = 0.1f;
    params.weight_hi = 0.2f;
    params.delay_ms = 2.5f;
    const std::uint64_t layers[] = {3, 4};
    for (const Seed& seed :
         {make(random(8, 0.5f, 1, params)), make(ring(8, 2, 1, params)),
          make(small_world(8, 2, 1, params, 0.5f)), make(layered(layers, 1, params))}) {
        ASSERT_FALSE(seed.edges.empty());
        for (const SeedNode& node : seed.nodes)
            EXPECT_EQ(static_cast<std::optional<NeuronSpec>>(node.kind), params.neuron);
        for (const SeedEdge& edge : seed.edges) {
            EXPECT_EQ(static_cast<std::optional<SynapseSpec>>(edge.kind), params.synapse);
            EXPECT_EQ(edge.delay_ms, 2.5f);
            EXPECT_GE(edge.init_weight, 0.1f);
            EXPECT_LE(edge.init_weight, 0.2f);
        }
    }

    // Equal bounds give the fixed weight and, with no weight draws, other edge ids.
    SeedParams fixed;
    fixed.weight_lo = fixed.weight_hi = 0.5f;
    const Seed drawn = make(ring(5, 1, 9, {}));
    const Seed same = make(ring(5, 1, 9, fixed));
    EXPECT_EQ(same.nodes, drawn.nodes);
    for (std::size_t e = 0; e < same.edges.size(); ++e) {
        EXPECT_EQ(same.edges[e].init_weight, 0.5f);
        EXPECT_NE(same.edges[e].id, drawn.edges[e].id);
    }
}

}  // namespace
}  // namespace vorn
