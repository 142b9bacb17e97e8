#pragma once
// The byte grammar through which the Python-value fuzz target builds its
// values, shared with the program that writes its starting corpus. Each value
// starts with one tag byte; its payload follows.

#include <cstdint>

namespace vorn::fuzz {

enum class PyTag : std::uint8_t {
    None,       // no payload
    Bool,       // 1 byte: low bit
    Int64,      // 8 bytes, little-endian two's complement
    BigInt,     // 1 length byte n, then n bytes little-endian, signed
    Float,      // 8 bytes: the IEEE bits, little-endian (NaN and infinities included)
    Str,        // 1 length byte n, then n bytes decoded as UTF-8 with surrogates allowed
    Bytes,      // 1 length byte n, then n bytes
    List,       // 1 count byte n, then n values
    Tuple,      // 1 count byte n, then n values
    Dict,       // 1 count byte n, then n (key value, value) pairs
    Nest,       // 2 bytes: depth d, then the value wrapped in d single-item lists
    FloatLike,  // an object of a class with __float__ returning the Float payload that follows
    Count,
};

}  // namespace vorn::fuzz
