#include "python/tick_loop.hpp"

#include <chrono>
#include <cstdio>
#include <new>
#include <string>

namespace vorn::py {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kSignalEvery = std::chrono::milliseconds(50);
constexpr auto kProgressEvery = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;

double now_s() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

}  // namespace

bool Progress::init(PyObject* spec, std::uint64_t total, float dt_ms) {
    total_ = total;
    dt_ms_ = dt_ms;
    start_s_ = now_s();
    if (spec == nullptr || spec == Py_None || spec == Py_False)
        return true;
    if (spec == Py_True) {
        PyObject* tqdm_module = PyImport_ImportModule("tqdm");
        if (tqdm_module == nullptr) {
            if (!PyErr_ExceptionMatches(PyExc_ImportError))
                return false;
            PyErr_Clear();
            mode_ = Mode::Plain;
            return true;
        }
        PyObject* tqdm = PyObject_GetAttrString(tqdm_module, "tqdm");
        Py_DECREF(tqdm_module);
        if (tqdm == nullptr)
            return false;
        PyObject* kwargs = Py_BuildValue("{s:K,s:s}", "total",
                                         static_cast<unsigned long long>(total), "unit", "tick");
        PyObject* empty = PyTuple_New(0);
        PyObject* bar = kwargs && empty ? PyObject_Call(tqdm, empty, kwargs) : nullptr;
        Py_XDECREF(empty);
        Py_XDECREF(kwargs);
        Py_DECREF(tqdm);
        if (bar == nullptr)
            return false;
        target_ = bar;
        mode_ = Mode::Tqdm;
        return true;
    }
    if (PyCallable_Check(spec)) {
        target_ = Py_NewRef(spec);
        mode_ = Mode::Callable;
        return true;
    }
    PyErr_Format(PyExc_TypeError, "progress must be a bool or a callable, got %T", spec);
    return false;
}

Progress::~Progress() {
    close();
    Py_XDECREF(target_);
}

bool Progress::report(std::uint64_t done) {
    switch (mode_) {
        case Mode::None:
            return true;
        case Mode::Callable: {
            PyObject* r =
                PyObject_CallFunction(target_, "KK", static_cast<unsigned long long>(done),
                                      static_cast<unsigned long long>(total_));
            Py_XDECREF(r);
            return r != nullptr;
        }
        case Mode::Tqdm: {
            PyObject* r = PyObject_CallMethod(target_, "update", "K",
                                              static_cast<unsigned long long>(done - reported_));
            Py_XDECREF(r);
            reported_ = done;
            return r != nullptr;
        }
        case Mode::Plain:
            return report_plain(done);
    }
    return true;
}

bool Progress::report_plain(std::uint64_t done) {
    const double elapsed = now_s() - start_s_;
    const double fraction =
        total_ == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total_);
    const int filled = static_cast<int>(fraction * kBarWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kBarWidth, '-');
    char line[256];
    std::snprintf(line, sizeof line,
                  "\r[%s] %3.0f%% %llu/%llu ticks  %.0f ticks/s  %.1f ms simulated", bar.c_str(),
                  100.0 * fraction, static_cast<unsigned long long>(done),
                  static_cast<unsigned long long>(total_),
                  elapsed > 0.0 ? static_cast<double>(done) / elapsed : 0.0,
                  static_cast<double>(done) * static_cast<double>(dt_ms_));
    PySys_WriteStderr("%s", line);
    reported_ = done;
    return true;
}

void Progress::close() {
    if (closed_ || mode_ == Mode::None)
        return;
    closed_ = true;
    PyObject* exc = PyErr_GetRaisedException();
    if (mode_ == Mode::Tqdm) {
        PyObject* r = PyObject_CallMethod(target_, "close", nullptr);
        Py_XDECREF(r);
        if (r == nullptr)
            PyErr_Clear();
    } else if (mode_ == Mode::Plain) {
        PySys_WriteStderr("\n");
    }
    PyErr_SetRaisedException(exc);
}

bool run_ticks(SimEngine& engine, float dt_ms, std::uint64_t n,
               const std::function<void()>& on_tick, Progress* progress, std::uint64_t& done) {
    done = 0;
    PyThreadState* state = PyEval_SaveThread();
    auto last_check = Clock::now();
    auto last_report = last_check;
    bool out_of_memory = false;
    while (done < n) {
        try {
            const std::uint64_t before = engine.ticks_done();
            try {
                engine.step(dt_ms);
            } catch (...) {
                done += engine.ticks_done() - before;
                throw;
            }
            ++done;
            on_tick();
        } catch (const std::bad_alloc&) {
            out_of_memory = true;
            break;
        }
        const auto now = Clock::now();
        const bool last = done == n;
        if (now - last_check < kSignalEvery && !last)
            continue;
        PyEval_RestoreThread(state);
        if (PyErr_CheckSignals() < 0)
            return false;
        if (progress != nullptr && progress->active() &&
            (now - last_report >= kProgressEvery || last)) {
            if (!progress->report(done))
                return false;
            last_report = now;
        }
        if (last)
            return true;
        state = PyEval_SaveThread();
        last_check = now;
    }
    PyEval_RestoreThread(state);
    if (out_of_memory) {
        PyErr_NoMemory();
        return false;
    }
    return true;
}

}  // namespace vorn::py
