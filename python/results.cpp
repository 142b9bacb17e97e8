#include "python/results.hpp"

#include <bit>
#include <cstdint>

#include "python/convert.hpp"

namespace vorn::py {

PyObject* ids_to_list(const std::vector<Uuid>& ids) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(ids.size()));
    if (list == nullptr)
        return nullptr;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        PyObject* id = id_to_py(ids[i]);
        if (id == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), id);
    }
    return list;
}

namespace {

// A new reference to the cached id str of the spike's neuron.
PyObject* spike_id(const SpikeEvent& spike, std::vector<PyObject*>& id_strings) {
    if (spike.neuron >= id_strings.size())
        id_strings.resize(spike.neuron + std::size_t{1}, nullptr);
    PyObject*& cached = id_strings[spike.neuron];
    if (cached == nullptr)
        cached = id_to_py(spike.id);
    return cached == nullptr ? nullptr : Py_NewRef(cached);
}

// Pauses the cyclic garbage collector for its lifetime. Every tuple
// allocation counts towards the collection thresholds, even once untracked,
// and each young-generation pass walks the whole half-built list: for a run
// with a million spikes that made building the list quadratic in practice.
// No Python code runs while the list is built, so nothing else is affected.
class GcPause {
  public:
    GcPause() : was_enabled_(PyGC_Disable()) {}
    ~GcPause() {
        if (was_enabled_)
            PyGC_Enable();
    }
    GcPause(const GcPause&) = delete;
    GcPause& operator=(const GcPause&) = delete;

  private:
    int was_enabled_;
};

}  // namespace

// Consecutive spikes of one tick share one float object.
PyObject* spikes_to_list(const std::vector<SpikeEvent>& spikes,
                         std::vector<PyObject*>& id_strings) {
    GcPause pause;
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(spikes.size()));
    if (list == nullptr)
        return nullptr;
    PyObject* time = nullptr;
    std::uint64_t time_bits = 0;
    for (std::size_t i = 0; i < spikes.size(); ++i) {
        std::uint64_t bits = std::bit_cast<std::uint64_t>(spikes[i].t_ms);
        if (time == nullptr || bits != time_bits) {
            Py_XDECREF(time);
            time = PyFloat_FromDouble(spikes[i].t_ms);
            time_bits = bits;
        }
        PyObject* tuple = time == nullptr ? nullptr : PyTuple_New(2);
        PyObject* id = tuple == nullptr ? nullptr : spike_id(spikes[i], id_strings);
        if (id == nullptr) {
            Py_XDECREF(tuple);
            Py_XDECREF(time);
            Py_DECREF(list);
            return nullptr;
        }
        PyTuple_SET_ITEM(tuple, 0, id);
        PyTuple_SET_ITEM(tuple, 1, Py_NewRef(time));
        // A tuple of a str and a float can never be part of a cycle; left
        // tracked, a run's million spike tuples would make every garbage
        // collection pass walk them all.
        PyObject_GC_UnTrack(tuple);
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), tuple);
    }
    Py_XDECREF(time);
    return list;
}

// A new dict {id_str: params_dict} in the order given, or nullptr.
PyObject* params_to_dict(const std::vector<std::pair<Uuid, JsonValue>>& entries) {
    PyObject* dict = PyDict_New();
    if (dict == nullptr)
        return nullptr;
    for (const auto& [id, params] : entries) {
        PyObject* key = id_to_py(id);
        PyObject* value = key == nullptr ? nullptr : json_to_py(params);
        int rc = value == nullptr ? -1 : PyDict_SetItem(dict, key, value);
        Py_XDECREF(key);
        Py_XDECREF(value);
        if (rc < 0) {
            Py_DECREF(dict);
            return nullptr;
        }
    }
    return dict;
}

}  // namespace vorn::py
