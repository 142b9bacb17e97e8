#pragma once
// SeedRng: the deterministic random source of the seed generators, a
// xoshiro256++ state filled from a PCG32 sequence, plus the derived draws.

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "core/util/uuid.hpp"

namespace vorn {

class SeedRng {
  public:
    using State = std::array<std::uint64_t, 4>;

    // Fills the state from eight PCG32 words started at seed, then as from_state.
    static SeedRng from_seed(std::uint64_t seed);
    // Uses the given words, except that the all-zero state, from which
    // xoshiro never leaves, is replaced by the SplitMix64 expansion of 0.
    static SeedRng from_state(const State& s);

    // The four state words s0..s3.
    const State& state() const { return s_; }

    // One xoshiro256++ step.
    std::uint64_t next_u64() {
        const std::uint64_t result = std::rotl(s_[0] + s_[3], 23) + s_[0];
        const std::uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = std::rotl(s_[3], 45);
        return result;
    }

    // An exact value in [0, 1) with 24 significant bits; one step.
    float unit_float() { return static_cast<float>(next_u64() >> 40) * 0x1p-24f; }

    // (high 32 bits of one step) mod m; m must not be zero.
    std::uint64_t index_below(std::uint64_t m) { return (next_u64() >> 32) % m; }

    // A version-4 id from two steps, each written little-endian.
    Uuid next_uuid() {
        const std::uint64_t first = next_u64();
        const std::uint64_t second = next_u64();
        Uuid id;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(id.bytes.data(), &first, 8);
            std::memcpy(id.bytes.data() + 8, &second, 8);
        } else {
            for (int i = 0; i < 8; ++i) {
                id.bytes[i] = static_cast<std::uint8_t>(first >> (8 * i));
                id.bytes[8 + i] = static_cast<std::uint8_t>(second >> (8 * i));
            }
        }
        id.bytes[6] = static_cast<std::uint8_t>((id.bytes[6] & 0x0F) | 0x40);
        id.bytes[8] = static_cast<std::uint8_t>((id.bytes[8] & 0x3F) | 0x80);
        return id;
    }

    // An initial weight: lo + (hi - lo) * u with every operation rounded to
    // single precision, clamped to [0, 1]. Makes no draw unless hi > lo.
    float draw_weight(float lo, float hi) {
        float w = lo;
        if (hi > lo) {
            const float u = unit_float();
            const float span = hi - lo;
            const float scaled = span * u;
            w = lo + scaled;
        }
        if (w < 0.0f)
            return 0.0f;
        if (w > 1.0f)
            return 1.0f;
        return w;
    }

  private:
    explicit SeedRng(const State& s) : s_(s) {}

    State s_;
};

}  // namespace vorn
