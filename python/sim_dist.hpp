#pragma once
// Sim.distributed, Sim.gather_weights, Sim.gather and the rank and ranks
// properties: registered in the Sim type.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <vector>

namespace vorn::py {

void add_dist_methods(std::vector<PyMethodDef>& table);
PyObject* sim_get_rank(PyObject* self, void* closure);
PyObject* sim_get_ranks(PyObject* self, void* closure);

}  // namespace vorn::py
