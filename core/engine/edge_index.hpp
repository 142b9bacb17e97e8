#pragma once
// EdgeIndex: the first synapse slot of each edge id, in an open-addressing
// table of 32-bit slots (about 4.5 bytes per synapse) that compares against
// the engine's id array instead of storing keys.

#include <cstdint>
#include <optional>

#include "core/engine/big_vector.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

class EdgeIndex {
  public:
    // Indexes slots [0, count) of ids; an id seen before keeps its first slot.
    void build(const Uuid* ids, std::uint32_t count);
    // Adds slot (the next one) unless its id is indexed already; ids must
    // hold every slot up to and including it.
    void add(const Uuid* ids, std::uint32_t slot);
    // Makes room for `count` slots so that adding up to them cannot fail.
    void reserve(const Uuid* ids, std::size_t count);
    std::optional<std::uint32_t> find(const Uuid* ids, const Uuid& id) const;
    bool built() const { return !table_.empty(); }
    void clear() {
        BigVector<std::uint32_t>().swap(table_);
        count_ = 0;
    }

  private:
    static constexpr std::uint32_t kEmpty = 0;  // entries hold slot + 1
    std::size_t home(const Uuid& id) const {
        const unsigned __int128 h = UuidHash{}(id);
        return static_cast<std::size_t>((h * table_.size()) >> 64);
    }
    void resize(const Uuid* ids, std::size_t capacity);
    void insert(const Uuid* ids, std::uint32_t slot);

    BigVector<std::uint32_t> table_;
    std::size_t count_ = 0;
};

}  // namespace vorn
