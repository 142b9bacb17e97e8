#include "core/dist/mpi_exchange.hpp"

#include <time.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>

namespace vorn {
namespace {

std::atomic<bool> timing{false};
std::atomic<std::uint64_t> timed_ns{0};
std::atomic<std::uint64_t> timed_cpu_ns{0};
std::atomic<std::uint64_t> timed_calls{0};

std::uint64_t thread_cpu_ns() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<std::uint64_t>(t.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(t.tv_nsec);
}

// Adds the time from its making to its end to the totals, when timing.
class ExchangeTimer {
  public:
    ExchangeTimer() : on_(timing.load(std::memory_order_relaxed)) {
        if (on_) {
            start_ = std::chrono::steady_clock::now();
            start_cpu_ = thread_cpu_ns();
        }
    }
    ~ExchangeTimer() {
        if (!on_)
            return;
        const auto wall = std::chrono::steady_clock::now() - start_;
        timed_ns.fetch_add(static_cast<std::uint64_t>(
                               std::chrono::duration_cast<std::chrono::nanoseconds>(wall).count()),
                           std::memory_order_relaxed);
        timed_cpu_ns.fetch_add(thread_cpu_ns() - start_cpu_, std::memory_order_relaxed);
        timed_calls.fetch_add(1, std::memory_order_relaxed);
    }
    ExchangeTimer(const ExchangeTimer&) = delete;
    ExchangeTimer& operator=(const ExchangeTimer&) = delete;

  private:
    bool on_;
    std::chrono::steady_clock::time_point start_;
    std::uint64_t start_cpu_ = 0;
};

}  // namespace

void time_spike_exchange(bool on) {
    if (on) {
        timed_ns.store(0);
        timed_cpu_ns.store(0);
        timed_calls.store(0);
    }
    timing.store(on);
}

SpikeExchangeTime spike_exchange_time() {
    return {timed_ns.load(), timed_cpu_ns.load(), timed_calls.load()};
}

MpiExchange::MpiExchange(MPI_Comm comm) {
    MPI_Comm_dup(comm, &comm_);
    MPI_Comm_rank(comm_, &rank_);
    MPI_Comm_size(comm_, &size_);
    counts_.resize(static_cast<std::size_t>(size_));
    displs_.resize(static_cast<std::size_t>(size_));
}

MpiExchange::~MpiExchange() {
    int finalized = 0;
    MPI_Finalized(&finalized);
    if (!finalized)
        MPI_Comm_free(&comm_);
}

// One Allgather of the counts, one Allgatherv of the neurons: each rank's
// spikes lie in its own range, so the joined list ascends.
void MpiExchange::all_spikes(const std::vector<std::uint32_t>& mine,
                             std::vector<std::uint32_t>& all) {
    const ExchangeTimer timer;
    const int count = static_cast<int>(mine.size());
    MPI_Allgather(&count, 1, MPI_INT, counts_.data(), 1, MPI_INT, comm_);
    int total = 0;
    for (int r = 0; r < size_; ++r) {
        displs_[r] = total;
        total += counts_[r];
    }
    all.resize(static_cast<std::size_t>(total));
    MPI_Allgatherv(mine.data(), count, MPI_UINT32_T, all.data(), counts_.data(), displs_.data(),
                   MPI_UINT32_T, comm_);
}

void MpiExchange::broadcast(std::string& bytes) {
    unsigned long long size = bytes.size();
    MPI_Bcast(&size, 1, MPI_UNSIGNED_LONG_LONG, 0, comm_);
    bytes.resize(size);
    // In pieces below INT_MAX bytes, MPI's count limit.
    for (unsigned long long at = 0; at < size;) {
        const int n = static_cast<int>(std::min<unsigned long long>(size - at, INT_MAX / 2));
        MPI_Bcast(bytes.data() + at, n, MPI_BYTE, 0, comm_);
        at += static_cast<unsigned long long>(n);
    }
}

std::vector<std::string> MpiExchange::gather(const std::string& mine) {
    const unsigned long long size = mine.size();
    std::vector<unsigned long long> sizes(static_cast<std::size_t>(size_));
    MPI_Gather(&size, 1, MPI_UNSIGNED_LONG_LONG, sizes.data(), 1, MPI_UNSIGNED_LONG_LONG, 0, comm_);
    std::vector<std::string> out;
    if (rank_ == 0) {
        out.resize(static_cast<std::size_t>(size_));
        out[0] = mine;
        for (int r = 1; r < size_; ++r) {
            out[r].resize(sizes[r]);
            for (unsigned long long at = 0; at < sizes[r];) {
                const int n =
                    static_cast<int>(std::min<unsigned long long>(sizes[r] - at, INT_MAX / 2));
                MPI_Recv(out[r].data() + at, n, MPI_BYTE, r, 0, comm_, MPI_STATUS_IGNORE);
                at += static_cast<unsigned long long>(n);
            }
        }
    } else {
        for (unsigned long long at = 0; at < size;) {
            const int n = static_cast<int>(std::min<unsigned long long>(size - at, INT_MAX / 2));
            MPI_Send(mine.data() + at, n, MPI_BYTE, 0, 0, comm_);
            at += static_cast<unsigned long long>(n);
        }
    }
    return out;
}

std::uint64_t MpiExchange::sum(std::uint64_t value) {
    unsigned long long in = value;
    unsigned long long out = 0;
    MPI_Allreduce(&in, &out, 1, MPI_UNSIGNED_LONG_LONG, MPI_SUM, comm_);
    return out;
}

void MpiExchange::any(std::vector<std::uint8_t>& flags) {
    for (std::size_t at = 0; at < flags.size();) {
        const int n = static_cast<int>(std::min<std::size_t>(flags.size() - at, INT_MAX / 2));
        MPI_Allreduce(MPI_IN_PLACE, flags.data() + at, n, MPI_UINT8_T, MPI_BOR, comm_);
        at += static_cast<std::size_t>(n);
    }
}

}  // namespace vorn
