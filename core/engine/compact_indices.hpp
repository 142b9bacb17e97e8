#pragma once
// CompactIndices: an array of neuron indices stored in 16 bits each when
// every index fits (networks of up to 65,536 neurons, or shards that small),
// else in 32. Half the bytes per synapse for the indices a shard keeps per
// position; the width test in each access is the same for a whole walk.

#include <cstdint>

#include "core/engine/big_vector.hpp"

namespace vorn {

class CompactIndices {
  public:
    static constexpr std::uint32_t kNarrowLimit = 1u << 16;

    // count entries of 0, narrow when every value will be below kNarrowLimit.
    void assign(std::size_t count, bool narrow) {
        narrow_ = narrow;
        HugeVector<std::uint16_t>().swap(n16_);
        HugeVector<std::uint32_t>().swap(n32_);
        if (narrow)
            n16_.assign(count, 0);
        else
            n32_.assign(count, 0);
    }
    std::size_t size() const { return narrow_ ? n16_.size() : n32_.size(); }
    bool narrow() const { return narrow_; }

    std::uint32_t operator[](std::size_t i) const { return narrow_ ? n16_[i] : n32_[i]; }
    void set(std::size_t i, std::uint32_t v) {
        if (narrow_)
            n16_[i] = static_cast<std::uint16_t>(v);
        else
            n32_[i] = v;
    }
    // The entries as an array of their width (only the one of narrow()).
    const std::uint16_t* data16() const { return n16_.data(); }
    const std::uint32_t* data32() const { return n32_.data(); }

    // Asks for the cache lines of entries [i, i + count).
    void prefetch(std::size_t i, std::size_t count) const {
        const char* p = narrow_ ? reinterpret_cast<const char*>(n16_.data() + i)
                                : reinterpret_cast<const char*>(n32_.data() + i);
        const char* end = p + count * (narrow_ ? 2 : 4);
        for (; p < end; p += 64)
            __builtin_prefetch(p);
    }

  private:
    bool narrow_ = false;
    HugeVector<std::uint16_t> n16_;
    HugeVector<std::uint32_t> n32_;
};

}  // namespace vorn
