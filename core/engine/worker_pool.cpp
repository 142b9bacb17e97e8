#include "core/engine/worker_pool.hpp"

namespace vorn {
namespace {

// Rounds of polling before an idle thread sleeps: about 50 microseconds,
// enough to bridge the gap between the phases of consecutive ticks.
constexpr int kSpins = 20000;

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

WorkerPool::WorkerPool(std::size_t threads) {
    for (std::size_t id = 1; id < threads; ++id)
        workers_.emplace_back([this, id] { work(id); });
}

WorkerPool::~WorkerPool() {
    stop_.store(true);
    generation_.fetch_add(1);
    generation_.notify_all();
    for (std::thread& t : workers_)
        t.join();
}

void WorkerPool::run_share(std::size_t id) {
    const std::size_t step = threads();
    for (std::size_t i = id; i < tasks_; i += step) {
        try {
            call_(job_, i);
        } catch (...) {
            if (!failed_.exchange(true))
                error_ = std::current_exception();
        }
    }
}

void WorkerPool::dispatch(std::size_t n, void* job, Call call) {
    job_ = job;
    call_ = call;
    tasks_ = n;
    error_ = nullptr;
    failed_.store(false);
    if (workers_.empty() || n <= 1) {
        run_share(0);
    } else {
        remaining_.store(workers_.size());
        generation_.fetch_add(1, std::memory_order_release);
        generation_.notify_all();
        run_share(0);
        for (int i = 0; remaining_.load(std::memory_order_acquire) != 0; ++i) {
            if (i < kSpins) {
                relax();
            } else {
                const std::size_t left = remaining_.load(std::memory_order_acquire);
                if (left != 0)
                    remaining_.wait(left, std::memory_order_acquire);
            }
        }
    }
    if (error_)
        std::rethrow_exception(error_);
}

void WorkerPool::work(std::size_t id) {
    std::uint64_t seen = 0;
    for (;;) {
        std::uint64_t now = generation_.load(std::memory_order_acquire);
        for (int i = 0; now == seen; ++i) {
            if (i < kSpins) {
                relax();
            } else {
                generation_.wait(seen, std::memory_order_acquire);
            }
            now = generation_.load(std::memory_order_acquire);
        }
        seen = now;
        if (stop_.load())
            return;
        run_share(id);
        if (remaining_.fetch_sub(1, std::memory_order_acq_rel) == 1)
            remaining_.notify_one();
    }
}

}  // namespace vorn
