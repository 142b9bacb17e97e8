#include "core/engine/worker_pool.hpp"

namespace vorn {
namespace {

// Polls before an idle worker sleeps: a few tens of microseconds, enough to
// bridge the serial part between the phases of a tick.
constexpr int kSpins = 1000;

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

constexpr std::uint64_t word(std::uint64_t generation, std::uint64_t count, std::uint64_t next) {
    return (generation << (2 * 20)) | (count << 20) | next;
}

}  // namespace

WorkerPool::WorkerPool(std::size_t threads) : owner_(getpid()) {
    // Each worker starts from the generation of now, so that it also sees
    // a batch (or the stop) published before it first runs.
    const std::uint32_t start = generation_.load();
    for (std::size_t id = 1; id < threads; ++id)
        workers_.emplace_back([this, start] { work(start); });
}

WorkerPool::~WorkerPool() {
    stop_.store(true);
    generation_.fetch_add(1);
    generation_.notify_all();
    for (std::thread& t : workers_)
        t.join();
}

void WorkerPool::run_tasks(std::uint64_t generation) {
    std::uint64_t c = claim_.load(std::memory_order_acquire);
    for (;;) {
        const std::uint64_t count = (c >> kCountBits) & kCountMask;
        const std::uint64_t next = c & kCountMask;
        if ((c >> (2 * kCountBits)) != generation || next >= count)
            return;
        if (!claim_.compare_exchange_weak(c, c + 1, std::memory_order_acq_rel,
                                          std::memory_order_acquire))
            continue;
        // A claimed task of this batch keeps the caller waiting, so job_
        // and call_ are this batch's.
        try {
            call_(job_, next);
        } catch (...) {
            if (!failed_.exchange(true))
                error_ = std::current_exception();
        }
        done_.fetch_add(1, std::memory_order_acq_rel);
        c = claim_.load(std::memory_order_acquire);
    }
}

void WorkerPool::dispatch(std::size_t n, void* job, Call call) {
    job_ = job;
    call_ = call;
    error_ = nullptr;
    failed_.store(false);
    if (workers_.empty() || n <= 1) {
        for (std::size_t i = 0; i < n; ++i)
            call(job, i);
        return;
    }
    done_.store(0, std::memory_order_relaxed);
    const std::uint64_t generation = ((claim_.load() >> (2 * kCountBits)) + 1) & 0xffffff;
    claim_.store(word(generation, n, 0), std::memory_order_release);
    generation_.fetch_add(1, std::memory_order_release);
    generation_.notify_all();
    run_tasks(generation);
    while (done_.load(std::memory_order_acquire) != n)
        relax();
    if (error_)
        std::rethrow_exception(error_);
}

void WorkerPool::work(std::uint32_t seen) {
    for (;;) {
        std::uint32_t now = generation_.load(std::memory_order_acquire);
        for (int i = 0; now == seen; ++i) {
            if (i < kSpins)
                relax();
            else
                generation_.wait(seen, std::memory_order_acquire);
            now = generation_.load(std::memory_order_acquire);
        }
        seen = now;
        if (stop_.load())
            return;
        run_tasks(claim_.load(std::memory_order_acquire) >> (2 * kCountBits));
    }
}

}  // namespace vorn
