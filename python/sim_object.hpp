#pragma once
// The memory layout of a vorn_py.Sim object, shared by the files that
// implement its methods.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <vector>

#include "core/engine/sim_engine.hpp"
#include "python/borrow.hpp"
#include "python/errors.hpp"

namespace vorn::py {

struct SimObject {
    PyObject ob_base;
    SimEngine engine;
    BorrowFlag borrow;
    // Id strs of spiking neurons by dense index, shared by every spike tuple.
    std::vector<PyObject*> id_strings;
};

inline SimObject* as_sim(PyObject* self) {
    return reinterpret_cast<SimObject*>(self);
}

// A fresh version-4 id from the operating system's random source, or nullopt
// with RuntimeError set: a failing source is a fault of the environment,
// raised the same way as by Cortex.
inline std::optional<Uuid> mint_id() {
    auto fresh = Uuid::random_v4();
    if (!fresh) {
        raise_random_source_error(fresh.error());
        return std::nullopt;
    }
    return *fresh;
}

}  // namespace vorn::py
