#include "core/engine/plastic_config_table.hpp"

#include <bit>

namespace vorn {

static_assert(sizeof(PlasticSynapseConfig) == 16 * sizeof(float), "config is sixteen floats");

std::size_t PlasticConfigTable::KeyHash::operator()(const Key& k) const noexcept {
    std::uint64_t h = 0x9e3779b97f4a7c15ULL;
    for (std::uint32_t x : k) {
        h = (h ^ x) * 0xff51afd7ed558ccdULL;
        h ^= h >> 29;
    }
    return static_cast<std::size_t>(h);
}

std::uint32_t PlasticConfigTable::acquire(const PlasticSynapseConfig& cfg) {
    auto [it, inserted] = index_.try_emplace(std::bit_cast<Key>(cfg), 0);
    if (!inserted) {
        ++refs_[it->second];
        return it->second;
    }
    std::uint32_t index;
    if (!free_.empty()) {
        index = free_.back();
        free_.pop_back();
        sets_[index] = cfg;
        refs_[index] = 1;
    } else {
        index = static_cast<std::uint32_t>(sets_.size());
        sets_.push_back(cfg);
        refs_.push_back(1);
    }
    it->second = index;
    return index;
}

void PlasticConfigTable::release(std::uint32_t index) {
    if (--refs_[index] == 0) {
        index_.erase(std::bit_cast<Key>(sets_[index]));
        free_.push_back(index);
    }
}

}  // namespace vorn
