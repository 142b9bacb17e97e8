#pragma once
// DeliveryRing: spikes in flight under synaptic delays, by arrival tick. An
// entry is a run of positions in a shard (a pre neuron's row or one of its
// delay groups): the synapses that deliver that pre's spike on that tick.

#include <cstdint>
#include <map>
#include <vector>

namespace vorn {

struct Arrival {
    std::uint32_t pre;   // global neuron index
    std::uint32_t from;  // first position
    std::uint32_t to;    // one past the last position
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
