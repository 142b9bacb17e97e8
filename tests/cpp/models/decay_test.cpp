#include "core/models/decay.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

namespace vorn {
namespace {

// Taus revisited in a shuffled order, more distinct ones than the cache
// keeps, and two that differ only in the last bit: every answer must be the
// bits of a direct evaluation.
TEST(DecayCache, AgreesWithDirectEvaluationWhateverTheOrder) {
    const float dt = 0.25f;
    DecayCache cache(dt);
    const float near = std::bit_cast<float>(std::bit_cast<std::uint32_t>(20.0f) + 1);
    const float taus[] = {20.0f, near, 5.0f, 20.0f, 1.0f, 2.0f, 3.0f,  4.0f,  6.0f,
                          7.0f,  8.0f, 9.0f, 10.0f, near, 5.0f, 11.0f, 20.0f, 9.0f};
    for (int round = 0; round < 2; ++round) {
        for (float tau : taus) {
            EXPECT_EQ(std::bit_cast<std::uint32_t>(cache(tau)),
                      std::bit_cast<std::uint32_t>(decay_factor(dt, tau)))
                << tau;
        }
    }
}

}  // namespace
}  // namespace vorn
