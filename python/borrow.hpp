#pragma once
// Per-object borrow state: many shared (reading) users or one exclusive
// (writing) user at a time. Under the interpreter lock a conflict can only come
// from re-entry (Python code run during a method), so it fails at once with
// RuntimeError instead of waiting.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vorn::py {

class BorrowFlag {
  public:
    bool try_shared() {
        if (state_ == kExclusive)
            return false;
        ++state_;
        return true;
    }
    bool try_exclusive() {
        if (state_ != 0)
            return false;
        state_ = kExclusive;
        return true;
    }
    void release_shared() { --state_; }
    void release_exclusive() { state_ = 0; }

  private:
    static constexpr long kExclusive = -1;
    long state_ = 0;  // 0 free, > 0 number of shared users, kExclusive
};

// RAII borrow of one object. Check it with `if (!guard) return nullptr;`: a
// guard that failed has set RuntimeError and releases nothing.
class BorrowGuard {
  public:
    enum class Mode { Shared, Exclusive };

    BorrowGuard(BorrowFlag& flag, Mode mode) : flag_(&flag), mode_(mode) {
        if (mode == Mode::Shared) {
            held_ = flag.try_shared();
            if (!held_)
                PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
        } else {
            held_ = flag.try_exclusive();
            if (!held_)
                PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
        }
    }
    ~BorrowGuard() {
        if (!held_)
            return;
        if (mode_ == Mode::Shared)
            flag_->release_shared();
        else
            flag_->release_exclusive();
    }
    BorrowGuard(const BorrowGuard&) = delete;
    BorrowGuard& operator=(const BorrowGuard&) = delete;

    explicit operator bool() const { return held_; }

  private:
    BorrowFlag* flag_;
    Mode mode_;
    bool held_ = false;
};

inline BorrowGuard borrow_shared(BorrowFlag& flag) {
    return BorrowGuard(flag, BorrowGuard::Mode::Shared);
}
inline BorrowGuard borrow_exclusive(BorrowFlag& flag) {
    return BorrowGuard(flag, BorrowGuard::Mode::Exclusive);
}

}  // namespace vorn::py
