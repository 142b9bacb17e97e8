#pragma once
// Sim methods for experiments at scale (neurons and edges from arrays,
// static synapses, noise, weights and delays as arrays, monitors, advance)
// and the threads property. Registered in the Sim type.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <vector>

namespace vorn::py {

// Appends the methods' table entries.
void add_bulk_methods(std::vector<PyMethodDef>& table);

PyObject* sim_get_threads(PyObject* self, void* closure);
int sim_set_threads(PyObject* self, PyObject* value, void* closure);

// The thread count a new Sim starts with: VORN_THREADS when set, else the
// cores this process may run on. nullopt with ValueError set for a
// VORN_THREADS that is not a count in [1, 1024].
std::optional<std::size_t> default_threads();

}  // namespace vorn::py
