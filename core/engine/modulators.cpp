#include "core/engine/modulators.hpp"

#include <algorithm>
#include <cmath>

#include "core/models/decay.hpp"

namespace vorn {

void Modulators::set_base_level(std::size_t channel, float level) {
    if (channel < base_.size())
        base_[channel] = level;
}

std::array<float, 4> Modulators::advance(float dt_ms) {
    for (ModulatorPulse& p : pulses_)
        p.amount = p.tau_ms > 0.0f ? p.amount * decay_factor(dt_ms, p.tau_ms) : 0.0f;
    // A pulse without a positive time constant, or decayed to the floor or
    // below (NaN included), is gone.
    std::erase_if(pulses_, [](const ModulatorPulse& p) {
        return !(p.tau_ms > 0.0f) || !(std::fabs(p.amount) > kMinAmount);
    });
    levels_ = base_;
    for (const ModulatorPulse& p : pulses_) {
        levels_[std::min<std::size_t>(p.channel, 3)] += p.amount;
    }
    return levels_;
}

}  // namespace vorn
