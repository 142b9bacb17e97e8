#pragma once
// Running many ticks from Python: the ticks run without the interpreter
// lock, which is taken back about every 50 ms to check for signals (Ctrl-C
// raises KeyboardInterrupt within a tick of that) and about every 100 ms to
// report progress. Ticks done stay done whatever stops the loop.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <functional>

#include "core/engine/sim_engine.hpp"

namespace vorn::py {

// Where progress goes: nothing, a callable taking (done, total), or a bar
// on stderr (tqdm's when it is installed, else a plain one-line bar).
class Progress {
  public:
    // `spec` is the progress argument: False/None, True, or a callable.
    // Returns false with an exception set for other values.
    bool init(PyObject* spec, std::uint64_t total, float dt_ms);
    ~Progress();
    Progress() = default;
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    bool active() const { return mode_ != Mode::None; }
    // With the lock held; false with the exception set (the loop stops).
    bool report(std::uint64_t done);
    // Ends the bar (after success or failure); keeps a pending exception.
    void close();

  private:
    enum class Mode { None, Callable, Tqdm, Plain };
    bool report_plain(std::uint64_t done);

    Mode mode_ = Mode::None;
    PyObject* target_ = nullptr;  // the callable or the tqdm bar
    std::uint64_t total_ = 0;
    std::uint64_t reported_ = 0;
    float dt_ms_ = 0.0f;
    double start_s_ = 0.0;
    bool closed_ = false;
};

// Runs n ticks of dt_ms on engine with the lock released; after each tick,
// on_tick() runs (without the lock; it may throw std::bad_alloc). Called
// and returning with the lock held. False with the exception set when a
// signal handler raised, progress failed or memory ran out; `done` counts
// the ticks done.
bool run_ticks(SimEngine& engine, float dt_ms, std::uint64_t n,
               const std::function<void()>& on_tick, Progress* progress, std::uint64_t& done);

}  // namespace vorn::py
