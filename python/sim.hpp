#pragma once
// The Sim class: a Python object owning one SimEngine.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vorn::py {

// Readies the Sim type and adds it to module as "Sim". Returns 0, or -1 with
// an exception set.
int register_sim(PyObject* module);

}  // namespace vorn::py
