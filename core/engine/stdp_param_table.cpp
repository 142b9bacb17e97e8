#include "core/engine/stdp_param_table.hpp"

#include <bit>

namespace vorn {

std::size_t StdpParamTable::KeyHash::operator()(const Key& k) const noexcept {
    std::uint64_t h = 0x9e3779b97f4a7c15ULL;
    for (std::uint32_t x : k) {
        h = (h ^ x) * 0xff51afd7ed558ccdULL;
        h ^= h >> 29;
    }
    return static_cast<std::size_t>(h);
}

StdpParamTable::Key StdpParamTable::key_of(const StdpParams& p) {
    return {std::bit_cast<std::uint32_t>(p.w_min), std::bit_cast<std::uint32_t>(p.w_max),
            std::bit_cast<std::uint32_t>(p.g_syn), std::bit_cast<std::uint32_t>(p.a_plus),
            std::bit_cast<std::uint32_t>(p.a_minus)};
}

std::uint32_t StdpParamTable::acquire(const StdpParams& p) {
    auto [it, inserted] = index_.try_emplace(key_of(p), 0);
    if (!inserted) {
        ++refs_[it->second];
        return it->second;
    }
    std::uint32_t index;
    if (!free_.empty()) {
        index = free_.back();
        free_.pop_back();
        sets_[index] = p;
        refs_[index] = 1;
    } else {
        index = static_cast<std::uint32_t>(sets_.size());
        sets_.push_back(p);
        refs_.push_back(1);
    }
    it->second = index;
    return index;
}

void StdpParamTable::release(std::uint32_t index) {
    if (--refs_[index] == 0) {
        index_.erase(key_of(sets_[index]));
        free_.push_back(index);
    }
}

}  // namespace vorn
