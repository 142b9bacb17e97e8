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

// Consecutive spikes of one tick share one float object.
PyObject* spikes_to_list(const std::vector<SpikeEvent>& spikes) {
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
        PyObject* id = tuple == nullptr ? nullptr : id_to_py(spikes[i].id);
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
