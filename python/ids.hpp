#pragma once
// Python str for an id, built by writing the canonical characters straight
// into a new compact ASCII string: it runs once per spike.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "core/util/uuid.hpp"

namespace vorn::py {

// A new str holding the canonical 36-character id, or nullptr.
inline PyObject* id_to_py(const Uuid& id) {
    PyObject* text = PyUnicode_New(36, 127);
    if (text == nullptr)
        return nullptr;
    id.write_to(reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(text)));
    return text;
}

}  // namespace vorn::py
