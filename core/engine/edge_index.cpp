#include "core/engine/edge_index.hpp"

#include <algorithm>

namespace vorn {
namespace {

// Tables are sized for this load; they grow by half once it passes 0.9.
constexpr double kLoad = 0.85;
constexpr double kMaxLoad = 0.9;

std::size_t capacity_for(std::size_t count) {
    return static_cast<std::size_t>(static_cast<double>(count) / kLoad) + 16;
}

}  // namespace

void EdgeIndex::build(const Uuid* ids, std::uint32_t count) {
    table_.assign(capacity_for(count), kEmpty);
    count_ = 0;
    for (std::uint32_t s = 0; s < count; ++s)
        insert(ids, s);
}

void EdgeIndex::add(const Uuid* ids, std::uint32_t slot) {
    if (static_cast<double>(count_ + 1) > kMaxLoad * static_cast<double>(table_.size()))
        resize(ids, capacity_for(count_ + count_ / 2 + 1));
    insert(ids, slot);
}

void EdgeIndex::reserve(const Uuid* ids, std::size_t count) {
    if (static_cast<double>(count) > kMaxLoad * static_cast<double>(table_.size()))
        resize(ids, capacity_for(std::max(count, count_ + count_ / 2 + 1)));
}

void EdgeIndex::insert(const Uuid* ids, std::uint32_t slot) {
    const std::size_t n = table_.size();
    for (std::size_t i = home(ids[slot]);; i = i + 1 == n ? 0 : i + 1) {
        const std::uint32_t e = table_[i];
        if (e == kEmpty) {
            table_[i] = slot + 1;
            ++count_;
            return;
        }
        if (ids[e - 1] == ids[slot])
            return;
    }
}

void EdgeIndex::resize(const Uuid* ids, std::size_t capacity) {
    BigVector<std::uint32_t> old(capacity, kEmpty);
    old.swap(table_);
    count_ = 0;
    for (std::uint32_t e : old) {
        if (e != kEmpty)
            insert(ids, e - 1);
    }
}

std::optional<std::uint32_t> EdgeIndex::find(const Uuid* ids, const Uuid& id) const {
    const std::size_t n = table_.size();
    if (n == 0)
        return std::nullopt;
    for (std::size_t i = home(id);; i = i + 1 == n ? 0 : i + 1) {
        const std::uint32_t e = table_[i];
        if (e == kEmpty)
            return std::nullopt;
        if (ids[e - 1] == id)
            return e - 1;
    }
}

}  // namespace vorn
