#pragma once
// StdpParamTable: the distinct (w_min, w_max, g_syn, a_plus, a_minus) sets in
// use, each stored once and reference-counted, so that a synapse carries a
// small index instead of five floats and the tick reads less memory.

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace vorn {

struct StdpParams {
    float w_min;
    float w_max;
    float g_syn;
    float a_plus;
    float a_minus;
};

class StdpParamTable {
  public:
    // Index of an equal (bitwise) set, adding one if absent; takes a reference.
    std::uint32_t acquire(const StdpParams& p);
    // Drops a reference; a set nobody uses is recycled.
    void release(std::uint32_t index);

    const StdpParams& operator[](std::uint32_t index) const { return sets_[index]; }
    std::size_t live() const { return index_.size(); }

  private:
    using Key = std::array<std::uint32_t, 5>;
    struct KeyHash {
        std::size_t operator()(const Key& k) const noexcept;
    };
    static Key key_of(const StdpParams& p);

    std::vector<StdpParams> sets_;
    std::vector<std::uint32_t> refs_;
    std::vector<std::uint32_t> free_;
    std::unordered_map<Key, std::uint32_t, KeyHash> index_;
};

}  // namespace vorn
