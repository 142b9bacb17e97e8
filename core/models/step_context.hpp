#pragma once
// StepContext: what every neuron receives on each tick.

#include <array>

namespace vorn {

struct StepContext {
    std::array<float, 4> levels{};  // modulator channel levels of this tick
    double t_ms = 0.0;              // simulated time after this tick's advance, ms
    float dt_ms = 0.0f;             // step length, ms
    float level0 = 0.0f;            // channel-0 level again
};

}  // namespace vorn
