#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>

#include "core/seeds/generators.hpp"
#include "core/seeds/seed_builder.hpp"
#include "core/seeds/seed_limits.hpp"

namespace vorn {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

std::string failure(const std::expected<Seed, SeedError>& result) {
    EXPECT_FALSE(result.has_value());
    return result.has_value() ? std::string("<no error>") : result.error().message();
}

SeedParams weights(float lo, float hi) {
    SeedParams p;
    p.weight_lo = lo;
    p.weight_hi = hi;
    return p;
}

SeedParams delay(float ms) {
    SeedParams p;
    p.delay_ms = ms;
    return p;
}

TEST(SeedErrors, DisplayTexts) {
    EXPECT_EQ(failure(ring(3, 1, 0, weights(0.7f, 0.2f))),
              "weight_range [0.7, 0.2] is not a valid subrange of [0.0, 1.0]");
    EXPECT_EQ(failure(ring(3, 1, 0, weights(-0.1f, 0.5f))),
              "weight_range [-0.1, 0.5] is not a valid subrange of [0.0, 1.0]");
    EXPECT_EQ(failure(ring(3, 1, 0, weights(0.0f, 2.0f))),
              "weight_range [0, 2] is not a valid subrange of [0.0, 1.0]");
    EXPECT_EQ(failure(ring(3, 1, 0, weights(kNaN, 0.5f))),
              "weight_range [NaN, 0.5] is not a valid subrange of [0.0, 1.0]");
    EXPECT_EQ(failure(ring(3, 1, 0, delay(-1.0f))), "delay_ms -1 is not finite or is negative");
    EXPECT_EQ(failure(ring(3, 1, 0, delay(kInf))), "delay_ms inf is not finite or is negative");
    EXPECT_EQ(failure(ring(3, 1, 0, delay(kNaN))), "delay_ms NaN is not finite or is negative");
    EXPECT_EQ(failure(ring(4, 2, 0, {})),
              "ring degree k=2 is too large for n=4 neurons (need 2k < n)");
    EXPECT_EQ(failure(ring(0, 0, 0, {})),
              "ring degree k=0 is too large for n=0 neurons (need 2k < n)");
    EXPECT_EQ(failure(random(3, 1.5f, 0, {})), "probability 'p'=1.5 must be in [0.0, 1.0]");
    EXPECT_EQ(failure(random(3, -kInf, 0, {})), "probability 'p'=-inf must be in [0.0, 1.0]");
    EXPECT_EQ(failure(small_world(10, 2, 0, {}, kNaN)),
              "probability 'p_rewire'=NaN must be in [0.0, 1.0]");
    const std::uint64_t one[] = {3};
    EXPECT_EQ(failure(layered(one, 0, {})), "layered() requires at least 2 layers");
    EXPECT_EQ(failure(layered({}, 0, {})), "layered() requires at least 2 layers");
    const std::uint64_t gap[] = {2, 0, 1};
    EXPECT_EQ(failure(layered(gap, 0, {})), "layered() layer 1 has 0 neurons");
}

TEST(SeedErrors, BoundaryValuesAreAccepted) {
    EXPECT_TRUE(ring(3, 1, 0, delay(-0.0f)).has_value());
    EXPECT_TRUE(ring(3, 1, 0, delay(0.0f)).has_value());
    EXPECT_TRUE(ring(3, 1, 0, weights(0.0f, 1.0f)).has_value());
    EXPECT_TRUE(ring(3, 1, 0, weights(1.0f, 1.0f)).has_value());
    EXPECT_TRUE(random(3, 0.0f, 0, {}).has_value());
    EXPECT_TRUE(random(3, 1.0f, 0, {}).has_value());
}

TEST(SeedErrors, ChecksRunInTheirOrder) {
    // Weight range, then delay, then the generator's own checks.
    SeedParams all_bad = weights(0.7f, 0.2f);
    all_bad.delay_ms = -1.0f;
    EXPECT_EQ(failure(random(3, 1.5f, 0, all_bad)),
              "weight_range [0.7, 0.2] is not a valid subrange of [0.0, 1.0]");
    EXPECT_EQ(failure(random(3, 1.5f, 0, delay(-1.0f))),
              "delay_ms -1 is not finite or is negative");
    EXPECT_EQ(failure(ring(4, 2, 0, delay(-1.0f))), "delay_ms -1 is not finite or is negative");
    const std::uint64_t none[] = {0};
    EXPECT_EQ(failure(layered(none, 0, delay(-1.0f))), "delay_ms -1 is not finite or is negative");
    EXPECT_EQ(failure(layered(none, 0, {})), "layered() requires at least 2 layers");
    const std::uint64_t zeros[] = {0, 0};
    EXPECT_EQ(failure(layered(zeros, 0, {})), "layered() layer 0 has 0 neurons");
    // small_world checks p_rewire before anything of the ring.
    EXPECT_EQ(failure(small_world(0, 5, 0, weights(0.7f, 0.2f), 2.0f)),
              "probability 'p_rewire'=2 must be in [0.0, 1.0]");
    EXPECT_EQ(failure(small_world(0, 5, 0, weights(0.7f, 0.2f), 0.5f)),
              "weight_range [0.7, 0.2] is not a valid subrange of [0.0, 1.0]");
    EXPECT_EQ(failure(small_world(4, 2, 0, {}, 0.5f)),
              "ring degree k=2 is too large for n=4 neurons (need 2k < n)");
    // Argument errors come before size limits.
    EXPECT_EQ(failure(random(1ULL << 32, 1.5f, 0, {})),
              "probability 'p'=1.5 must be in [0.0, 1.0]");
    EXPECT_EQ(failure(ring(1ULL << 63, 1ULL << 62, 0, {})),
              "ring degree k=4611686018427387904 is too large for n=9223372036854775808 neurons "
              "(need 2k < n)");
}

// Oversized requests fail at once, before any allocation or draw.
TEST(SeedErrors, OversizedRequestsFailBeforeGenerating) {
    const std::uint64_t max_u64 = std::numeric_limits<std::uint64_t>::max();
    const std::string nodes = "seed network too large: more than 4294967295 nodes";
    const std::string edges = "seed network too large: more than 4294967295 edges";
    EXPECT_EQ(failure(random(1ULL << 32, 0.0f, 0, {})), nodes);
    EXPECT_EQ(failure(ring(1ULL << 63, 5, 0, {})), nodes);
    EXPECT_EQ(failure(ring(max_u64, (max_u64 - 1) / 2, 0, {})), nodes);
    EXPECT_EQ(failure(small_world(1ULL << 63, 5, 0, {}, 0.5f)), nodes);
    const std::uint64_t huge_layers[] = {1ULL << 31, 1ULL << 31, 1};
    EXPECT_EQ(failure(layered(huge_layers, 0, {})), nodes);
    const std::uint64_t wrapping_layers[] = {max_u64, 2};
    EXPECT_EQ(failure(layered(wrapping_layers, 0, {})), nodes);

    EXPECT_EQ(failure(random(1ULL << 21, 0.0f, 0, {})),
              "seed network too large: more than 1099511627776 connection draws");
    EXPECT_EQ(failure(random(1'000'000, 1.0f, 0, {})), edges);
    EXPECT_EQ(failure(ring(1'000'000, 3000, 0, {})), edges);
    const std::uint64_t wide_layers[] = {100'000, 100'000};
    EXPECT_EQ(failure(layered(wide_layers, 0, {})), edges);

    const std::string bytes = "seed network too large: more than 68719476736 bytes";
    EXPECT_EQ(failure(ring(100'000'000, 10, 0, {})), bytes);
    EXPECT_EQ(failure(random(1'000'000, 0.002f, 0, {})), bytes);
}

TEST(SeedErrors, AllocationFailureBecomesAnError) {
    auto result =
        guard_allocation(1234, []() -> std::expected<Seed, SeedError> { throw std::bad_alloc(); });
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind, SeedError::Kind::TooLarge);
    EXPECT_EQ(result.error().message(), "seed network too large: could not allocate 1234 bytes");
}

}  // namespace
}  // namespace vorn
