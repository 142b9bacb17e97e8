#pragma once
// A choice between two floats made by masking bits instead of branching, for
// hot loops whose condition follows spikes and so defeats branch prediction.
// Either value is returned bit for bit (NaN payloads and signed zeros too).

#include <bit>
#include <cstdint>

namespace vorn {

inline float select_bits(bool condition, float if_true, float if_false) {
    const std::uint32_t mask = 0u - static_cast<std::uint32_t>(condition);
    return std::bit_cast<float>((std::bit_cast<std::uint32_t>(if_true) & mask) |
                                (std::bit_cast<std::uint32_t>(if_false) & ~mask));
}

}  // namespace vorn
