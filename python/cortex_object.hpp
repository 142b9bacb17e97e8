#pragma once
// Layout of a Cortex object, shared by the files that implement its methods.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

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

// Graph edits (cortex_edits.cpp). Each returns a new reference, or nullptr
// with the exception set.
PyObject* cortex_add_neuron(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* cortex_add_synapse(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* cortex_remove_neuron(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* cortex_remove_synapse(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* cortex_apply_seed(PyObject* self, PyObject* args, PyObject* kwargs);

// Weights methods (cortex_weights.cpp). Each returns a new reference, or
// nullptr with the exception set.
PyObject* cortex_persist_weights(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* cortex_persist_weights_raw(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* cortex_load_weights(PyObject* self, PyObject* unused);

// Saving a Sim's state into the folder (sim_state.cpp).
PyObject* cortex_save_state(PyObject* self, PyObject* args, PyObject* kwargs);
inline constexpr const char kCortexSaveStateDoc[] =
    "save_state($self, sim)\n--\n\n"
    "Write a checkpoint of `sim` into the folder as state/latest.cstate,\n"
    "atomically. `Sim.from_cortex(cortex, state=True)` resumes from it. The\n"
    "Sim's neurons and synapses must be the folder's nodes and edges, in\n"
    "order, else ValueError.";

}  // namespace vorn::py
