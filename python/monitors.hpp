#pragma once
// SpikeMonitor and StateMonitor: Python views of the engine's records. A
// monitor shares its record with the engine and keeps it after the Sim is
// gone; reading copies the data out under the record's lock.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>

#include "core/engine/recording.hpp"

namespace vorn::py {

// Readies both types and adds them to module. Returns 0, or -1 with an
// exception set.
int register_monitors(PyObject* module);

// New monitor objects for records the engine fills; nullptr with the
// exception set on failure. node_ids is the list of the recorded ids.
PyObject* new_spike_monitor(std::shared_ptr<SpikeRecord> record);
PyObject* new_state_monitor(std::shared_ptr<StateRecord> record, PyObject* node_ids);

// The record behind a monitor object, or null when obj is not one of that type.
std::shared_ptr<SpikeRecord> spike_record_of(PyObject* obj);
std::shared_ptr<StateRecord> state_record_of(PyObject* obj);

}  // namespace vorn::py
