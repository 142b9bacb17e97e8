#pragma once
// The Seed class: a Python object holding at most one generated seed network
// until Cortex.apply_seed moves it out.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>

#include "core/seeds/seed.hpp"
#include "python/borrow.hpp"

namespace vorn::py {

struct PySeed {
    PyObject ob_base;
    std::optional<Seed> record;  // present until applied, then empty for good
    BorrowFlag borrow;
};

// The Seed type object; ready once register_seed_type has succeeded.
PyTypeObject* seed_type();

// True when obj is a Seed (or a subclass instance).
bool is_seed(PyObject* obj);

// A new Seed object holding record, or nullptr with the exception set.
PyObject* new_seed(Seed&& record);

// Readies the Seed type and adds it to module as "Seed". Returns 0, or -1
// with an exception set.
int register_seed_type(PyObject* module);

}  // namespace vorn::py
