#include "core/engine/delivery_ring.hpp"

#include <gtest/gtest.h>

#include <cstdint>

namespace vorn {
namespace {

// A long run with delays of 1 to 20 ticks: every entry arrives on its tick,
// and the storage held stays that of the ticks in flight, however many
// ticks pass (each bucket comes round once per few thousand ticks).
TEST(DeliveryRing, LongRunDeliversEveryEntryInBoundedStorage) {
    constexpr std::uint64_t kTicks = 10000;
    constexpr std::uint32_t kMaxDelay = 20;
    constexpr std::uint32_t kPerDelay = 50;
    DeliveryRing ring;
    std::uint64_t delivered = 0;
    std::uint64_t scheduled = 0;
    for (std::uint64_t tick = 0; tick < kTicks; ++tick) {
        if (const std::vector<Arrival>* due = ring.find(tick)) {
            for (const Arrival& a : *due) {
                EXPECT_EQ(a.from + a.to, tick);
                ++delivered;
            }
        }
        ring.release(tick);
        for (std::uint32_t d = 1; d <= kMaxDelay; ++d) {
            for (std::uint32_t k = 0; k < kPerDelay; ++k)
                ring.at(tick + d).push_back({0, static_cast<std::uint32_t>(tick), d});
            scheduled += kPerDelay;
        }
    }
    EXPECT_EQ(delivered + std::uint64_t{kMaxDelay} * (kMaxDelay + 1) / 2 * kPerDelay, scheduled);
    // At most kMaxDelay + 1 buckets in use at once, each at most twice its
    // kMaxDelay * kPerDelay entries after growth.
    EXPECT_LE(ring.capacity(), std::size_t{kMaxDelay + 2} * 2 * kMaxDelay * kPerDelay);
}

}  // namespace
}  // namespace vorn
