#pragma once
// Modulators: the four modulator channels, each a base level plus decaying
// pulses, and the levels they give on each tick.

#include <array>
#include <vector>

#include "core/engine/sim_engine.hpp"

namespace vorn {

class Modulators {
  public:
    static constexpr float kMinAmount = 0.000001f;  // pulses at or below vanish

    // Channels 0 to 3; other channels are ignored.
    void set_base_level(std::size_t channel, float level);
    void add_pulse(const ModulatorPulse& pulse) { pulses_.push_back(pulse); }

    // Decays the pulses by one step of dt_ms, drops the vanished ones (list
    // order kept) and returns the channel levels of this tick.
    std::array<float, 4> advance(float dt_ms);

    // Levels of the most recent advance (zeros before the first).
    const std::array<float, 4>& levels() const { return levels_; }
    const std::array<float, 4>& base_levels() const { return base_; }
    const std::vector<ModulatorPulse>& pulses() const { return pulses_; }
    // Restores a saved state.
    void restore(const std::array<float, 4>& base, const std::array<float, 4>& levels,
                 std::vector<ModulatorPulse> pulses) {
        base_ = base;
        levels_ = levels;
        pulses_ = std::move(pulses);
    }

  private:
    std::vector<ModulatorPulse> pulses_;
    std::array<float, 4> base_{};
    std::array<float, 4> levels_{};
};

}  // namespace vorn
