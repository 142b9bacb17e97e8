#pragma once
// The Sim class: a Python object owning one SimEngine.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "core/engine/sim_engine.hpp"

namespace vorn::py {

// Readies the Sim type and adds it to module as "Sim". Returns 0, or -1 with
// an exception set.
int register_sim(PyObject* module);

// The Sim type, and a new Sim of `type` owning engine (threads set to the
// default); nullptr with the exception set.
PyTypeObject* sim_type();
PyObject* new_sim(PyTypeObject* type, SimEngine engine);

}  // namespace vorn::py
