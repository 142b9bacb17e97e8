#pragma once
// Python objects for results handed back by the classes: ids, id lists,
// spike lists and parameter maps. Each returns a new reference, or nullptr
// with the exception set.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>
#include <vector>

#include "core/engine/sim_engine.hpp"
#include "core/util/json_value.hpp"
#include "core/util/uuid.hpp"

namespace vorn::py {

// The canonical 36-character id, written straight into a new compact ASCII
// str: this runs once per spike.
inline PyObject* id_to_py(const Uuid& id) {
    PyObject* text = PyUnicode_New(36, 127);
    if (text == nullptr)
        return nullptr;
    id.write_to(reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(text)));
    return text;
}

// A list of id strings in the given order.
PyObject* ids_to_list(const std::vector<Uuid>& ids);

// A list of (id_str, t_ms) tuples in the order of spikes. id_strings caches
// one str per neuron index (owned references, null until first needed), so a
// neuron that spikes again reuses its id object instead of building a new one.
PyObject* spikes_to_list(const std::vector<SpikeEvent>& spikes, std::vector<PyObject*>& id_strings);

// A dict {id_str: params_dict} inserted in the given order; a repeated id
// keeps its first position and takes the later value.
PyObject* params_to_dict(const std::vector<std::pair<Uuid, JsonValue>>& entries);

}  // namespace vorn::py
