#pragma once
// Exponential decay factors of the tick: exp(-dt / tau) in single precision,
// and a memo that evaluates it once per distinct tau within one tick.

#include <bit>
#include <cmath>
#include <cstdint>

namespace vorn {

inline float decay_factor(float dt_ms, float tau_ms) {
    return std::exp(-dt_ms / tau_ms);
}

// Remembers the last (tau, factor) pair for a fixed dt. Items of one kind
// nearly always share tau, so a walk over them calls expf about once; the
// factor is bit-identical to calling decay_factor per item.
class DecayMemo {
  public:
    explicit DecayMemo(float dt_ms) : dt_ms_(dt_ms) {}

    float operator()(float tau_ms) {
        std::uint32_t bits = std::bit_cast<std::uint32_t>(tau_ms);
        if (!valid_ || bits != tau_bits_) {
            valid_ = true;
            tau_bits_ = bits;
            factor_ = decay_factor(dt_ms_, tau_ms);
        }
        return factor_;
    }

  private:
    float dt_ms_;
    bool valid_ = false;
    std::uint32_t tau_bits_ = 0;
    float factor_ = 0.0f;
};

}  // namespace vorn
