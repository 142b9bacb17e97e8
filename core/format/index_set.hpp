#pragma once
// IndexSet: an open-addressing hash set of indices into an array the caller
// owns. Each slot keeps 32 bits of the item's hash beside the index, so most
// probes are settled without touching the items. Sized once, up front.

#include <cstdint>
#include <vector>

namespace vorn {

class IndexSet {
  public:
    // Room for expected items at a load factor of at most one half.
    explicit IndexSet(std::size_t expected) {
        std::size_t cap = 16;
        while (cap < expected * 2)
            cap *= 2;
        slots_.assign(cap, 0);
        mask_ = cap - 1;
    }

    static constexpr std::uint32_t kAbsent = 0xFFFFFFFFu;

    // Inserts index unless an item equal to it is present (same_as(j) true
    // for a stored j). Returns the index found, or kAbsent after inserting.
    template <typename SameAs>
    std::uint32_t insert(std::uint64_t hash, std::uint32_t index, SameAs same_as) {
        std::uint64_t tag = hash >> 32;
        for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
            std::uint64_t slot = slots_[i];
            if (slot == 0) {
                slots_[i] = tag << 32 | (std::uint64_t{index} + 1);
                return kAbsent;
            }
            std::uint32_t stored = static_cast<std::uint32_t>(slot) - 1;
            if ((slot >> 32) == tag && same_as(stored))
                return stored;
        }
    }

    // Starts loading the slot a later insert or lookup of hash will probe first.
    void prefetch(std::uint64_t hash) const { __builtin_prefetch(&slots_[hash & mask_]); }

    // Whether an item matching same_as is stored under this hash.
    template <typename SameAs>
    bool contains(std::uint64_t hash, SameAs same_as) const {
        std::uint64_t tag = hash >> 32;
        for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
            std::uint64_t slot = slots_[i];
            if (slot == 0)
                return false;
            if ((slot >> 32) == tag && same_as(static_cast<std::uint32_t>(slot) - 1))
                return true;
        }
    }

  private:
    std::vector<std::uint64_t> slots_;  // 0: empty; else tag << 32 | (index + 1)
    std::size_t mask_ = 0;
};

}  // namespace vorn
