#pragma once
// Sim.from_cortex, Sim.save_state and Sim.load_state: registered in the Sim
// type. Cortex.save_state is declared with the Cortex methods.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <vector>

namespace vorn::py {

// Appends the methods' table entries.
void add_state_methods(std::vector<PyMethodDef>& table);

}  // namespace vorn::py
