#pragma once
// WorkerPool: a few persistent threads that run the shards of each tick
// phase with the calling thread, so that no thread is started per tick.
// Tasks are claimed one at a time by whoever is free, the caller included:
// a worker that the operating system has not scheduled yet never holds the
// caller up, since the caller then runs the tasks itself. Idle workers spin
// briefly, then sleep until the next phase.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

#include <unistd.h>

namespace vorn {

class WorkerPool {
  public:
    // A pool that runs up to `threads` tasks at once: threads - 1 workers
    // plus the caller. 0 and 1 mean no workers.
    explicit WorkerPool(std::size_t threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    std::size_t threads() const { return workers_.size() + 1; }
    // The process that started the workers (after a fork, the child has
    // none of them).
    pid_t owner() const { return owner_; }

    // Runs job(i) for every i in [0, n), in any order and on any of the
    // threads. Returns when all have finished; an exception thrown by a task
    // is rethrown here (the first one).
    template <class Job>
    void run(std::size_t n, Job& job) {
        dispatch(n, &job, [](void* j, std::size_t i) { (*static_cast<Job*>(j))(i); });
    }

  private:
    using Call = void (*)(void*, std::size_t);
    void dispatch(std::size_t n, void* job, Call call);
    void work(std::uint32_t seen);
    // Claims and runs tasks of the batch `generation` until none is left.
    void run_tasks(std::uint64_t generation);

    // The batch being run: generation (high 24 bits), task count (20 bits)
    // and next unclaimed task (low 20 bits) in one word, so that a claim
    // can never take a task of another batch.
    static constexpr int kCountBits = 20;
    static constexpr std::uint64_t kCountMask = (std::uint64_t{1} << kCountBits) - 1;
    std::atomic<std::uint64_t> claim_{0};
    std::atomic<std::uint32_t> generation_{0};  // what sleeping workers wait on
    std::atomic<std::size_t> done_{0};
    std::atomic<bool> stop_{false};
    void* job_ = nullptr;
    Call call_ = nullptr;
    std::exception_ptr error_;
    std::atomic<bool> failed_{false};
    std::vector<std::thread> workers_;
    pid_t owner_;
};

}  // namespace vorn
