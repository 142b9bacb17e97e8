#include "python/monitors.hpp"

#include <mutex>
#include <new>
#include <vector>

#include "python/arrays.hpp"
#include "python/attrs.hpp"
#include "python/errors.hpp"

namespace vorn::py {
namespace {

struct SpikeMonitorObject {
    PyObject ob_base;
    std::shared_ptr<SpikeRecord> record;
};

struct StateMonitorObject {
    PyObject ob_base;
    std::shared_ptr<StateRecord> record;
    PyObject* node_ids;  // list of id strs
};

SpikeRecord& spikes(PyObject* self) {
    return *reinterpret_cast<SpikeMonitorObject*>(self)->record;
}
StateRecord& states(PyObject* self) {
    return *reinterpret_cast<StateMonitorObject*>(self)->record;
}

// A copy of a record's vector taken under its lock, then a numpy array of it.
template <class T>
PyObject* copy_out(std::mutex& lock, const std::vector<T>& data, const char* dtype,
                   std::size_t cols) {
    std::vector<T> copy;
    try {
        std::lock_guard<std::mutex> hold(lock);
        copy = data;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    const std::size_t rows = cols == 0 ? copy.size() : (copy.size() / cols);
    return new_array(dtype, rows, cols, copy.data(), sizeof(T));
}

// ---- SpikeMonitor -------------------------------------------------------

void spike_dealloc(PyObject* self) {
    reinterpret_cast<SpikeMonitorObject*>(self)->record.~shared_ptr();
    Py_TYPE(self)->tp_free(self);
}

PyObject* spike_index(PyObject* self, void*) {
    SpikeRecord& r = spikes(self);
    return copy_out(r.lock, r.index, "uint32", 0);
}

PyObject* spike_t_ms(PyObject* self, void*) {
    SpikeRecord& r = spikes(self);
    return copy_out(r.lock, r.t_ms, "float64", 0);
}

Py_ssize_t spike_len(PyObject* self) {
    SpikeRecord& r = spikes(self);
    std::lock_guard<std::mutex> hold(r.lock);
    return static_cast<Py_ssize_t>(r.index.size());
}

PyObject* spike_clear(PyObject* self, PyObject*) {
    SpikeRecord& r = spikes(self);
    std::lock_guard<std::mutex> hold(r.lock);
    std::vector<std::uint32_t>().swap(r.index);
    std::vector<double>().swap(r.t_ms);
    Py_RETURN_NONE;
}

PyObject* spike_repr(PyObject* self) {
    return PyUnicode_FromFormat("SpikeMonitor(n_spikes=%zd)", spike_len(self));
}

PyMethodDef kSpikeMethods[] = {
    {"clear", guarded<spike_clear>, METH_NOARGS,
     "clear($self)\n--\n\nForget every spike recorded so far; recording goes on."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kSpikeGetSet[] = {
    {"index", guarded<spike_index>, nullptr,
     "Neuron of each spike as its position in `Sim.list_nodes()` (numpy uint32).", nullptr},
    {"t_ms", guarded<spike_t_ms>, nullptr,
     "Time of each spike in ms (numpy float64), as `run` reports it.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PySequenceMethods kSpikeSequence = {.sq_length = guarded<spike_len>};

// clang-format off
PyTypeObject kSpikeMonitorType = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "vorn_py.SpikeMonitor",
    .tp_basicsize = sizeof(SpikeMonitorObject),
    .tp_itemsize = 0,
    .tp_dealloc = spike_dealloc,
    .tp_repr = guarded<spike_repr>,
    .tp_as_sequence = &kSpikeSequence,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = "Every spike of a Sim from the monitor's creation on, made by\n"
              "`Sim.spike_monitor()`. `index` and `t_ms` are numpy arrays with one\n"
              "entry per spike, in the order the spikes fired; `len(monitor)` counts\n"
              "them. The data stays readable after the Sim is gone.",
    .tp_methods = kSpikeMethods,
    .tp_getset = kSpikeGetSet,
    .tp_new = no_constructor,
};
// clang-format on

// ---- StateMonitor -------------------------------------------------------

void state_dealloc(PyObject* self) {
    auto* m = reinterpret_cast<StateMonitorObject*>(self);
    Py_XDECREF(m->node_ids);
    m->record.~shared_ptr();
    Py_TYPE(self)->tp_free(self);
}

PyObject* state_t_ms(PyObject* self, void*) {
    StateRecord& r = states(self);
    return copy_out(r.lock, r.t_ms, "float64", 0);
}

PyObject* state_values(PyObject* self, void*) {
    StateRecord& r = states(self);
    std::vector<float> copy;
    std::size_t rows = 0;
    try {
        std::lock_guard<std::mutex> hold(r.lock);
        copy = r.values;
        rows = r.t_ms.size();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    return new_array("float32", rows, r.neurons.size(), copy.data(), sizeof(float));
}

PyObject* state_nodes(PyObject* self, void*) {
    return PyList_GetSlice(reinterpret_cast<StateMonitorObject*>(self)->node_ids, 0,
                           PY_SSIZE_T_MAX);
}

PyObject* state_key(PyObject* self, void*) {
    const std::string& key = states(self).key;
    return PyUnicode_FromStringAndSize(key.data(), static_cast<Py_ssize_t>(key.size()));
}

Py_ssize_t state_len(PyObject* self) {
    StateRecord& r = states(self);
    std::lock_guard<std::mutex> hold(r.lock);
    return static_cast<Py_ssize_t>(r.t_ms.size());
}

PyObject* state_clear(PyObject* self, PyObject*) {
    StateRecord& r = states(self);
    std::lock_guard<std::mutex> hold(r.lock);
    std::vector<double>().swap(r.t_ms);
    std::vector<float>().swap(r.values);
    Py_RETURN_NONE;
}

PyObject* state_repr(PyObject* self) {
    StateRecord& r = states(self);
    return PyUnicode_FromFormat("StateMonitor(key=%s, n_nodes=%zu, n_samples=%zd)", r.key.c_str(),
                                r.neurons.size(), state_len(self));
}

PyMethodDef kStateMethods[] = {
    {"clear", guarded<state_clear>, METH_NOARGS,
     "clear($self)\n--\n\nForget every sample recorded so far; recording goes on."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kStateGetSet[] = {
    {"t_ms", guarded<state_t_ms>, nullptr, "Time of each sample in ms (numpy float64).", nullptr},
    {"values", guarded<state_values>, nullptr,
     "The samples (numpy float32, shape (samples, len(nodes))), a row per sample.", nullptr},
    {"nodes", guarded<state_nodes>, nullptr, "The recorded node ids, in column order.", nullptr},
    {"key", guarded<state_key>, nullptr, "The recorded parameter key.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PySequenceMethods kStateSequence = {.sq_length = guarded<state_len>};

// clang-format off
PyTypeObject kStateMonitorType = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "vorn_py.StateMonitor",
    .tp_basicsize = sizeof(StateMonitorObject),
    .tp_itemsize = 0,
    .tp_dealloc = state_dealloc,
    .tp_repr = guarded<state_repr>,
    .tp_as_sequence = &kStateSequence,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = "One numeric parameter of some neurons sampled after every `every`-th\n"
              "tick, made by `Sim.state_monitor()`. `t_ms` has one entry per sample,\n"
              "`values` one row per sample and one column per node; `len(monitor)`\n"
              "counts the samples. The data stays readable after the Sim is gone.",
    .tp_methods = kStateMethods,
    .tp_getset = kStateGetSet,
    .tp_new = no_constructor,
};
// clang-format on

}  // namespace

int register_monitors(PyObject* module) {
    if (PyType_Ready(&kSpikeMonitorType) < 0 || PyType_Ready(&kStateMonitorType) < 0)
        return -1;
    // Module attributes, but not part of __all__.
    if (PyModule_AddObjectRef(module, "SpikeMonitor",
                              reinterpret_cast<PyObject*>(&kSpikeMonitorType)) < 0)
        return -1;
    return PyModule_AddObjectRef(module, "StateMonitor",
                                 reinterpret_cast<PyObject*>(&kStateMonitorType));
}

PyObject* new_spike_monitor(std::shared_ptr<SpikeRecord> record) {
    PyObject* self = kSpikeMonitorType.tp_alloc(&kSpikeMonitorType, 0);
    if (self == nullptr)
        return nullptr;
    new (&reinterpret_cast<SpikeMonitorObject*>(self)->record)
        std::shared_ptr<SpikeRecord>(std::move(record));
    return self;
}

PyObject* new_state_monitor(std::shared_ptr<StateRecord> record, PyObject* node_ids) {
    PyObject* self = kStateMonitorType.tp_alloc(&kStateMonitorType, 0);
    if (self == nullptr)
        return nullptr;
    auto* m = reinterpret_cast<StateMonitorObject*>(self);
    new (&m->record) std::shared_ptr<StateRecord>(std::move(record));
    m->node_ids = Py_NewRef(node_ids);
    return self;
}

std::shared_ptr<SpikeRecord> spike_record_of(PyObject* obj) {
    if (!PyObject_TypeCheck(obj, &kSpikeMonitorType))
        return nullptr;
    return reinterpret_cast<SpikeMonitorObject*>(obj)->record;
}

std::shared_ptr<StateRecord> state_record_of(PyObject* obj) {
    if (!PyObject_TypeCheck(obj, &kStateMonitorType))
        return nullptr;
    return reinterpret_cast<StateMonitorObject*>(obj)->record;
}

}  // namespace vorn::py
