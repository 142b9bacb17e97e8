#pragma once
// Exponential decay factors of the tick: exp(-dt / tau) in single precision,
// and memos that evaluate it once per distinct tau within one tick.

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
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

// Remembers up to kWays (tau, factor) pairs for a fixed dt, checking the
// last one used first: items whose taus alternate among a few values still
// call expf once per distinct tau. Beyond kWays values it computes directly.
class DecayCache {
  public:
    explicit DecayCache(float dt_ms) : dt_ms_(dt_ms) {}

    float operator()(float tau_ms) {
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(tau_ms);
        if (count_ > 0 && tau_bits_[last_] == bits)
            return factor_[last_];
        for (std::size_t i = 0; i < count_; ++i) {
            if (tau_bits_[i] == bits) {
                last_ = i;
                return factor_[i];
            }
        }
        const float factor = decay_factor(dt_ms_, tau_ms);
        if (count_ < kWays) {
            tau_bits_[count_] = bits;
            factor_[count_] = factor;
            last_ = count_++;
        }
        return factor;
    }

  private:
    static constexpr std::size_t kWays = 8;

    float dt_ms_;
    std::size_t count_ = 0;
    std::size_t last_ = 0;
    std::array<std::uint32_t, kWays> tau_bits_{};
    std::array<float, kWays> factor_{};
};

}  // namespace vorn
