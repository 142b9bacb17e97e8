#pragma once
// SpikeHistory: the spikes of the recent ticks that may still arrive somewhere
// under synaptic delays, with each tick's step length (a spike's delay in
// ticks depends on the step of the tick that fired it).

#include <cstdint>
#include <deque>
#include <vector>

namespace vorn {

struct TickSpikes {
    std::uint64_t tick;                 // number of the tick, the first being 1
    float dt_ms;                        // its step, ms
    std::vector<std::uint32_t> spikes;  // neurons that spiked, ascending
};

class SpikeHistory {
  public:
    // Appends a tick (reusing the storage of dropped ones).
    void push(std::uint64_t tick, float dt_ms, const std::vector<std::uint32_t>& spikes);
    // Drops ticks whose spikes can no longer arrive after tick `now` when
    // no delay exceeds max_delay_ms.
    void trim(std::uint64_t now, float max_delay_ms);
    void clear() { ticks_.clear(); }

    const std::deque<TickSpikes>& ticks() const { return ticks_; }
    // The spikes of tick `tick`, or nullptr if it is not kept.
    const TickSpikes* find(std::uint64_t tick) const;

  private:
    std::deque<TickSpikes> ticks_;
    std::vector<std::vector<std::uint32_t>> spare_;
};

}  // namespace vorn
