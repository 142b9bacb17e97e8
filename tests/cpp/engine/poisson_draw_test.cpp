#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "core/engine/poisson_inputs.hpp"

namespace vorn {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

// A finite rate of any size is accepted, so a tick's mean can exceed what a
// count holds (or overflow to infinity): the draw saturates instead of
// converting an out-of-range double.
TEST(PoissonDraw, HugeMeansSaturate) {
    for (std::uint64_t tick = 0; tick < 50; ++tick) {
        const std::uint64_t key = poisson_key(3, 0, 7, tick);
        EXPECT_EQ(poisson_draw(1e300, key), kMax);
        EXPECT_EQ(poisson_draw(std::numeric_limits<double>::infinity(), key), kMax);
        EXPECT_EQ(poisson_draw(0x1.0p64, key), kMax);
    }
}

// Just below the saturation point the count is still the draw itself, close
// to the mean (its standard deviation is 2^31.5, a relative 1e-9 of it).
TEST(PoissonDraw, LargeMeansStayDrawsNearTheMean) {
    const double lambda = 0x1.0p62;
    for (std::uint64_t tick = 0; tick < 50; ++tick) {
        const std::uint64_t k = poisson_draw(lambda, poisson_key(3, 0, 7, tick));
        EXPECT_LT(std::fabs(static_cast<double>(k) - lambda), 1e-6 * lambda);
    }
    EXPECT_EQ(poisson_draw(0.0, 1), 0u);
    EXPECT_EQ(poisson_draw(std::nan(""), 1), 0u);
}

}  // namespace
}  // namespace vorn
