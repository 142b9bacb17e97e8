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
        if (b.entries.capacity() == 0 && !spare_.empty()) {
            b.entries.swap(spare_.back());
            spare_.pop_back();
        }
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
        spare_.push_back(std::move(b.entries));
        b.entries = {};
        b.used = false;
        --live_;
    }
    far_.erase(tick);
}

void DeliveryRing::clear() {
    for (Bucket& b : near_) {
        if (b.entries.capacity() > 0) {
            b.entries.clear();
            spare_.push_back(std::move(b.entries));
            b.entries = {};
        }
        b.used = false;
    }
    live_ = 0;
    far_.clear();
}

std::size_t DeliveryRing::capacity() const {
    std::size_t n = 0;
    for (const Bucket& b : near_)
        n += b.entries.capacity();
    for (const std::vector<Arrival>& v : spare_)
        n += v.capacity();
    for (const auto& [tick, entries] : far_)
        n += entries.capacity();
    return n;
}

}  // namespace vorn
