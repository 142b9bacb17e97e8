#pragma once
// InternTable: the distinct parameter records of one synapse kind in use, each
// stored once and reference-counted, so that a synapse carries a small index
// instead of its floats and the tick reads less memory. Records are compared
// bitwise.

#include <array>
#include <bit>
#include <cstdint>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace vorn {

template <typename Record>
class InternTable {
    static_assert(std::is_trivially_copyable_v<Record> && sizeof(Record) % 4 == 0,
                  "records are plain groups of 32-bit fields");

  public:
    // Index of an equal record, adding one if absent; takes a reference.
    std::uint32_t acquire(const Record& record) {
        auto [it, inserted] = index_.try_emplace(std::bit_cast<Key>(record), 0);
        if (!inserted) {
            ++refs_[it->second];
            return it->second;
        }
        std::uint32_t index;
        if (!free_.empty()) {
            index = free_.back();
            free_.pop_back();
            records_[index] = record;
            refs_[index] = 1;
        } else {
            index = static_cast<std::uint32_t>(records_.size());
            records_.push_back(record);
            refs_.push_back(1);
        }
        it->second = index;
        return index;
    }

    // Takes `count` more references to a record in use.
    void add_refs(std::uint32_t index, std::uint32_t count) { refs_[index] += count; }

    // Drops a reference; a record nobody uses is recycled.
    void release(std::uint32_t index) {
        if (--refs_[index] == 0) {
            index_.erase(std::bit_cast<Key>(records_[index]));
            free_.push_back(index);
        }
    }

    const Record& operator[](std::uint32_t index) const { return records_[index]; }
    // Slots in use or recycled; indices are below this.
    std::size_t slots() const { return records_.size(); }
    // Distinct records in use.
    std::size_t live() const { return index_.size(); }

  private:
    using Key = std::array<std::uint32_t, sizeof(Record) / 4>;
    struct KeyHash {
        std::size_t operator()(const Key& k) const noexcept {
            std::uint64_t h = 0x9e3779b97f4a7c15ULL;
            for (std::uint32_t x : k) {
                h = (h ^ x) * 0xff51afd7ed558ccdULL;
                h ^= h >> 29;
            }
            return static_cast<std::size_t>(h);
        }
    };

    std::vector<Record> records_;
    std::vector<std::uint32_t> refs_;
    std::vector<std::uint32_t> free_;
    std::unordered_map<Key, std::uint32_t, KeyHash> index_;
};

}  // namespace vorn
