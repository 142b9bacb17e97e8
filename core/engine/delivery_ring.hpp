#pragma once
// DeliveryRing: spikes in flight under synaptic delays, by arrival tick. An
// entry names a pre neuron and one of its delay groups in a shard: the
// synapses that deliver that pre's spike on that tick.

#include <cstdint>
#include <map>
#include <vector>

namespace vorn {

struct Arrival {
    std::uint32_t pre;    // global neuron index
    std::uint32_t group;  // delay group in the shard, or kWholeRow
    static constexpr std::uint32_t kWholeRow = 0xffffffffu;
};

class DeliveryRing {
  public:
    // The entries arriving on tick `tick`, appended in any order.
    std::vector<Arrival>& at(std::uint64_t tick);
    // The entries of `tick` if any were scheduled, else nullptr.
    const std::vector<Arrival>* find(std::uint64_t tick) const;
    // Drops the entries of `tick` (after they were delivered).
    void release(std::uint64_t tick);
    bool empty() const { return live_ == 0 && far_.empty(); }
    void clear();
    // Entries the ring holds storage for: bounded by the entries of the
    // ticks in flight at once, not by how many ticks have passed.
    std::size_t capacity() const;

    // Every scheduled entry with its arrival tick, in tick order.
    template <class Visit>
    void for_each(Visit visit) const {
        std::map<std::uint64_t, const std::vector<Arrival>*> order;
        for (const Bucket& b : near_) {
            if (b.used)
                order.emplace(b.tick, &b.entries);
        }
        for (const auto& [tick, entries] : far_)
            order.emplace(tick, &entries);
        for (const auto& [tick, entries] : order) {
            for (const Arrival& a : *entries)
                visit(tick, a);
        }
    }

  private:
    // Ticks are kept in a ring of buckets while they fit, beyond in a map.
    static constexpr std::size_t kNearTicks = 4096;
    struct Bucket {
        std::uint64_t tick = 0;
        bool used = false;
        std::vector<Arrival> entries;
    };
    std::vector<Bucket> near_ = std::vector<Bucket>(kNearTicks);
    std::map<std::uint64_t, std::vector<Arrival>> far_;
    std::size_t live_ = 0;  // used buckets in near_
    // Storage of released buckets, handed to the next bucket taken into
    // use: a bucket is used once per kNearTicks ticks, so storage kept in
    // each would grow with the run and be cold whenever it is written.
    std::vector<std::vector<Arrival>> spare_;
};

}  // namespace vorn
