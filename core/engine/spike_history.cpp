#include "core/engine/spike_history.hpp"

#include "core/engine/shard.hpp"

namespace vorn {

void SpikeHistory::push(std::uint64_t tick, float dt_ms, const std::vector<std::uint32_t>& spikes) {
    std::vector<std::uint32_t> copy;
    if (!spare_.empty()) {
        copy = std::move(spare_.back());
        spare_.pop_back();
    }
    copy.assign(spikes.begin(), spikes.end());
    ticks_.push_back({tick, dt_ms, std::move(copy)});
}

void SpikeHistory::trim(std::uint64_t now, float max_delay_ms) {
    while (!ticks_.empty()) {
        const TickSpikes& t = ticks_.front();
        const std::uint64_t d = delay_ticks(max_delay_ms, t.dt_ms);
        if (d != kNever && t.tick + d > now)
            break;
        spare_.push_back(std::move(ticks_.front().spikes));
        ticks_.pop_front();
    }
    if (spare_.size() > 4)
        spare_.resize(4);
}

const TickSpikes* SpikeHistory::find(std::uint64_t tick) const {
    if (ticks_.empty() || tick < ticks_.front().tick || tick > ticks_.back().tick)
        return nullptr;
    const TickSpikes& t = ticks_[tick - ticks_.front().tick];
    return t.tick == tick ? &t : nullptr;
}

}  // namespace vorn
