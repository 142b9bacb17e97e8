#pragma once
// Sim methods beyond the default network: neurons of any model, plastic
// synapses and the modulator channels. Registered in the Sim method table.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <vector>

namespace vorn::py {

// Appends the methods' table entries.
void add_model_methods(std::vector<PyMethodDef>& table);

}  // namespace vorn::py
