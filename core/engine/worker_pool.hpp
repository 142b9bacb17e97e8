#pragma once
// WorkerPool: a few persistent threads that run the shards of each tick
// phase with the calling thread, so that no thread is started per tick.
// Idle workers spin briefly, then sleep until the next phase.

#include <atomic>
#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

namespace vorn {

class WorkerPool {
  public:
    // A pool that runs `threads` tasks at once: threads - 1 workers plus
    // the caller. 0 and 1 mean no workers.
    explicit WorkerPool(std::size_t threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    std::size_t threads() const { return workers_.size() + 1; }

    // Runs job(i) for every i in [0, n): task i on thread i % threads(),
    // the caller being thread 0. Returns when all have finished; an
    // exception thrown by a task is rethrown here (the first one).
    template <class Job>
    void run(std::size_t n, Job& job) {
        dispatch(n, &job, [](void* j, std::size_t i) { (*static_cast<Job*>(j))(i); });
    }

  private:
    using Call = void (*)(void*, std::size_t);
    void dispatch(std::size_t n, void* job, Call call);
    void work(std::size_t id);
    void run_share(std::size_t id);

    std::vector<std::thread> workers_;
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<std::size_t> remaining_{0};
    std::atomic<bool> stop_{false};
    void* job_ = nullptr;
    Call call_ = nullptr;
    std::size_t tasks_ = 0;
    std::exception_ptr error_;
    std::atomic<bool> failed_{false};
};

}  // namespace vorn
