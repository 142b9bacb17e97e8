#pragma once
// The seeds submodule: the Seed class, the four generator functions and
// their short aliases.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vorn::py {

// Builds the "seeds" submodule and adds it to module under the submodule's
// own name. Returns 0, or -1 with an exception set.
int register_seeds(PyObject* module);

}  // namespace vorn::py
