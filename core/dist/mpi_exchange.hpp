#pragma once
// MpiExchange: the Exchange of a distributed run over an MPI communicator,
// with MPI's collectives. Built only when MPI is present.

#include <mpi.h>

#include <cstdint>
#include <memory>

#include "core/engine/exchange.hpp"

namespace vorn {

// Opt-in timing of the spike exchange, for benchmarks: while on, each
// all_spikes call of any MpiExchange in this process adds the time it
// spends in its collectives (waiting for slower ranks included), by the
// steady clock and in thread CPU time, to one total. Off by default;
// turning it on zeroes the totals.
void time_spike_exchange(bool on);
struct SpikeExchangeTime {
    std::uint64_t ns = 0;
    std::uint64_t cpu_ns = 0;
    std::uint64_t calls = 0;
};
SpikeExchangeTime spike_exchange_time();

class MpiExchange final : public Exchange {
  public:
    // Duplicates comm, so that the engine's messages never meet the
    // caller's. MPI must be initialised.
    explicit MpiExchange(MPI_Comm comm);
    ~MpiExchange() override;
    MpiExchange(const MpiExchange&) = delete;
    MpiExchange& operator=(const MpiExchange&) = delete;

    int rank() const override { return rank_; }
    int size() const override { return size_; }
    void all_spikes(const std::vector<std::uint32_t>& mine,
                    std::vector<std::uint32_t>& all) override;
    void broadcast(std::string& bytes) override;
    std::vector<std::string> gather(const std::string& mine) override;
    std::uint64_t sum(std::uint64_t value) override;
    void any(std::vector<std::uint8_t>& flags) override;

  private:
    MPI_Comm comm_;
    int rank_ = 0;
    int size_ = 1;
    std::vector<int> counts_;
    std::vector<int> displs_;
};

}  // namespace vorn
