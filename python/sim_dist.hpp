#pragma once
// Sim.distributed, Sim.gather_weights, Sim.gather and the rank and ranks
// properties: registered in the Sim type.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <vector>

#include "core/engine/exchange.hpp"

namespace vorn::py {

void add_dist_methods(std::vector<PyMethodDef>& table);

// The exchange over an mpi4py communicator, from vorn_py_mpi (imported
// now); nullptr with the exception set (ImportError saying what to
// install when the module is missing).
std::shared_ptr<Exchange> exchange_from(PyObject* comm);
PyObject* sim_get_rank(PyObject* self, void* closure);
PyObject* sim_get_ranks(PyObject* self, void* closure);

}  // namespace vorn::py
