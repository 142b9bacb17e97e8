#include "core/engine/delivery_ring.hpp"

namespace vorn {

std::vector<Arrival>& DeliveryRing::at(std::uint64_t tick) {
    if (!far_.empty()) {
        auto it = far_.find(tick);
        if (it != far_.end())
            return it->second;
    }
    Bucket& b = near_[tick % kNearTicks];
    if (!b.used) {
        b.used = true;
        b.tick = tick;
        ++live_;
    }
    if (b.tick == tick)
        return b.entries;
    return far_[tick];
}

const std::vector<Arrival>* DeliveryRing::find(std::uint64_t tick) const {
    const Bucket& b = near_[tick % kNearTicks];
    if (b.used && b.tick == tick)
        return &b.entries;
    auto it = far_.find(tick);
    return it == far_.end() ? nullptr : &it->second;
}

void DeliveryRing::release(std::uint64_t tick) {
    Bucket& b = near_[tick % kNearTicks];
    if (b.used && b.tick == tick) {
        b.entries.clear();
        b.used = false;
        --live_;
    }
    far_.erase(tick);
}

void DeliveryRing::clear() {
    for (Bucket& b : near_) {
        b.entries.clear();
        b.used = false;
    }
    live_ = 0;
    far_.clear();
}

}  // namespace vorn
