#pragma once
// Layout of a Cortex object, shared by the files that implement its methods.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <vector>

#include "core/store/cortex.hpp"
#include "python/borrow.hpp"

namespace vorn::py {

struct CortexObject {
    PyObject ob_base;
    Cortex handle;  // constructed in place once open or create succeeded
    BorrowFlag borrow;
};

inline CortexObject* as_cortex(PyObject* self) {
    return reinterpret_cast<CortexObject*>(self);
}

// The Cortex methods defined outside cortex.cpp; each appends its methods'
// table entries.
// Graph edits and applying a seed (cortex_edits.cpp).
void add_edit_methods(std::vector<PyMethodDef>& table);
// Weights in and out of the folder (cortex_weights.cpp).
void add_weight_methods(std::vector<PyMethodDef>& table);
// Saving a Sim's state into the folder (sim_state.cpp).
void add_cortex_state_methods(std::vector<PyMethodDef>& table);

}  // namespace vorn::py
