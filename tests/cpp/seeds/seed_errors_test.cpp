#include <gtest/gtest.h>

#include <limits>
#include <new>

#include "core/seeds/generators.hpp"
#include "core/seeds/seed_builder.hpp"

namespace vorn {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr std::uint64_t kMaxU64 = std::numeric_limits<std::uint64_t>::max();

std::string failure(const std::expected<Seed, SeedError>& result) {
    EXPECT_FALSE(result.has_value());
    return result.has_value() ? std::string("<no error>") : result.error().message();
}

SeedParams params(float lo, float hi, float delay_ms) {
    SeedParams p;
    p.weight_lo = lo;
    p.weight_hi = hi;
    p.delay_ms = delay_ms;
    return p;
}

const std::string kBadRange = "weight_range [0.7, 0.2] is not a valid subrange of [0.0, 1.0]";
const std::string kBadDelay = "delay_ms -1 is not finite or is negative";

TEST(SeedErrors, DisplayTextsAndBoundaries) {
    EXPECT_EQ(failure(ring(3, 1, 0, params(0.7f, 0.2f, 1))), kBadRange);
    EXPECT_EQ(failure(ring(3, 1, 0, params(kNaN, 2.0f, 1))),
              "weight_range [NaN, 2] is not a valid subrange of [0.0, 1.0]");
    EXPECT_EQ(failure(ring(3, 1, 0, params(0.4f, 0.6f, -1.0f))), kBadDelay);
    EXPECT_EQ(failure(ring(4, 2, 0, {})),
              "ring degree k=2 is too large for n=4 neurons (need 2k < n)");
    EXPECT_EQ(failure(random(3, 1.5f, 0, {})), "probability 'p'=1.5 must be in [0.0, 1.0]");
    EXPECT_EQ(failure(small_world(10, 2, 0, {}, kNaN)),
              "probability 'p_rewire'=NaN must be in [0.0, 1.0]");
    const std::uint64_t one[] = {3};
    EXPECT_EQ(failure(layered(one, 0, {})), "layered() requires at least 2 layers");
    const std::uint64_t gap[] = {2, 0, 1};
    EXPECT_EQ(failure(layered(gap, 0, {})), "layered() layer 1 has 0 neurons");

    // Closed ranges, and -0.0 counts as not negative.
    EXPECT_TRUE(ring(3, 1, 0, params(0.0f, 1.0f, -0.0f)).has_value());
    EXPECT_TRUE(ring(3, 1, 0, params(1.0f, 1.0f, 0.0f)).has_value());
    EXPECT_TRUE(random(3, 1.0f, 0, {}).has_value());
}

TEST(SeedErrors, ChecksRunInTheirOrder) {
    EXPECT_EQ(failure(random(3, 1.5f, 0, params(0.7f, 0.2f, -1.0f))), kBadRange);
    EXPECT_EQ(failure(random(3, 1.5f, 0, params(0.4f, 0.6f, -1.0f))), kBadDelay);
    EXPECT_EQ(failure(ring(4, 2, 0, params(0.4f, 0.6f, -1.0f))), kBadDelay);
    const std::uint64_t zero[] = {0};
    EXPECT_EQ(failure(layered(zero, 0, params(0.4f, 0.6f, -1.0f))), kBadDelay);
    EXPECT_EQ(failure(layered(zero, 0, {})), "layered() requires at least 2 layers");
    const std::uint64_t zeros[] = {0, 0};
    EXPECT_EQ(failure(layered(zeros, 0, {})), "layered() layer 0 has 0 neurons");
    // small_world checks p_rewire before anything of the ring.
    EXPECT_EQ(failure(small_world(0, 5, 0, params(0.7f, 0.2f, -1.0f), 2.0f)),
              "probability 'p_rewire'=2 must be in [0.0, 1.0]");
    EXPECT_EQ(failure(small_world(0, 5, 0, params(0.7f, 0.2f, -1.0f), 0.5f)), kBadRange);
    // Argument errors come before size limits.
    EXPECT_EQ(failure(random(1ULL << 32, 1.5f, 0, {})),
              "probability 'p'=1.5 must be in [0.0, 1.0]");
    EXPECT_EQ(failure(ring(1ULL << 63, 1ULL << 62, 0, {})),
              "ring degree k=4611686018427387904 is too large for n=9223372036854775808 neurons "
              "(need 2k < n)");
}

// Each of these would exhaust memory or run for years; all fail at once.
TEST(SeedErrors, OversizedRequestsFailBeforeGenerating) {
    const std::string nodes = "seed network too large: more than 4294967295 nodes";
    EXPECT_EQ(failure(random(1ULL << 32, 0.0f, 0, {})), nodes);
    EXPECT_EQ(failure(ring(1ULL << 63, 5, 0, {})), nodes);
    EXPECT_EQ(failure(ring(kMaxU64, (kMaxU64 - 1) / 2, 0, {})), nodes);
    EXPECT_EQ(failure(small_world(1ULL << 63, 5, 0, {}, 0.5f)), nodes);
    const std::uint64_t huge_layers[] = {1ULL << 31, 1ULL << 31, 1};
    EXPECT_EQ(failure(layered(huge_layers, 0, {})), nodes);
    const std::uint64_t wrapping_layers[] = {kMaxU64, 2};
    EXPECT_EQ(failure(layered(wrapping_layers, 0, {})), nodes);

    EXPECT_EQ(failure(random(1ULL << 21, 0.0f, 0, {})),
              "seed network too large: more than 1099511627776 connection draws");
    const std::string edges = "seed network too large: more than 4294967295 edges";
    EXPECT_EQ(failure(random(1'000'000, 1.0f, 0, {})), edges);
    EXPECT_EQ(failure(ring(1'000'000, 3000, 0, {})), edges);
    const std::uint64_t wide_layers[] = {100'000, 100'000};
    EXPECT_EQ(failure(layered(wide_layers, 0, {})), edges);

    const std::string bytes = "seed network too large: more than 68719476736 bytes";
    EXPECT_EQ(failure(ring(100'000'000, 10, 0, {})), bytes);
    EXPECT_EQ(failure(random(1'000'000, 0.002f, 0, {})), bytes);

    auto result =
        guard_allocation(1234, []() -> std::expected<Seed, SeedError> { throw std::bad_alloc(); });
    EXPECT_EQ(failure(result),
              "seed network too large: memory for an estimated 1234 bytes could not be allocated");
}

}  // namespace
}  // namespace vorn
