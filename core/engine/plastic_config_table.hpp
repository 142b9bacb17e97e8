#pragma once
// PlasticConfigTable: the distinct plastic-synapse configurations in use,
// each stored once and reference-counted, so that a synapse carries a small
// index instead of sixteen floats and the tick reads less memory.

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "core/engine/synapse_config.hpp"

namespace vorn {

class PlasticConfigTable {
  public:
    // Index of an equal (bitwise) configuration, adding one if absent;
    // takes a reference.
    std::uint32_t acquire(const PlasticSynapseConfig& cfg);
    // Drops a reference; a configuration nobody uses is recycled.
    void release(std::uint32_t index);

    const PlasticSynapseConfig& operator[](std::uint32_t index) const { return sets_[index]; }
    // Slots in use or recycled; indices are below this.
    std::size_t slots() const { return sets_.size(); }

  private:
    using Key = std::array<std::uint32_t, sizeof(PlasticSynapseConfig) / sizeof(float)>;
    struct KeyHash {
        std::size_t operator()(const Key& k) const noexcept;
    };

    std::vector<PlasticSynapseConfig> sets_;
    std::vector<std::uint32_t> refs_;
    std::vector<std::uint32_t> free_;
    std::unordered_map<Key, std::uint32_t, KeyHash> index_;
};

}  // namespace vorn
