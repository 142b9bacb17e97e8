#pragma once
// Exchange: what the processes of one distributed simulation share, the
// narrow seam a transport (MPI) implements. Every rank runs the same
// building calls and ticks; each keeps the shards of its range of neurons,
// and once per tick the ranks swap the neurons that spiked. Without an
// exchange an engine runs alone. All calls are collective: every rank
// makes them, in the same order.

#include <cstdint>
#include <string>
#include <vector>

namespace vorn {

class Exchange {
  public:
    virtual ~Exchange() = default;

    virtual int rank() const = 0;
    virtual int size() const = 0;

    // Every rank's spiking neurons (ascending global indices, each rank's
    // own range) joined in rank order into all, on every rank.
    virtual void all_spikes(const std::vector<std::uint32_t>& mine,
                            std::vector<std::uint32_t>& all) = 0;
    // Rank 0's bytes, on every rank.
    virtual void broadcast(std::string& bytes) = 0;
    // Every rank's bytes, in rank order, on rank 0; empty elsewhere.
    virtual std::vector<std::string> gather(const std::string& mine) = 0;
    // The sum over ranks, on every rank.
    virtual std::uint64_t sum(std::uint64_t value) = 0;
    // Element by element, the OR over ranks of flags of equal length.
    virtual void any(std::vector<std::uint8_t>& flags) = 0;
};

}  // namespace vorn
