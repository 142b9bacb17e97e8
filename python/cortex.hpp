#pragma once
// The Cortex class: a Python object owning one open network folder.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vorn::py {

// Readies the Cortex type and adds it to module as "Cortex". Returns 0, or
// -1 with an exception set.
int register_cortex(PyObject* module);

// The Cortex type, for instance checks.
PyTypeObject* cortex_type();

}  // namespace vorn::py
