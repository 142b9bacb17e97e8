#pragma once
// Conversion between Python objects and JsonValue (parameter values and
// parameter objects).

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "core/util/json_value.hpp"

namespace vorn::py {

inline constexpr const char kNotFiniteMessage[] = "float value must be finite";
inline constexpr const char kNotJsonMessage[] =
    "value must be JSON-compatible (None, bool, int, float, str, list, tuple, dict)";
inline constexpr const char kDictKeyMessage[] = "dict keys must be strings";

// Converts obj (depth-first) into out. Returns false with an exception set:
// ValueError with one of the three messages above, PanicException when a dict
// changes while it is walked, RecursionError for excessive nesting,
// MemoryError when the converted value does not fit in memory, or
// whatever Python code run by the conversion (__float__, __index__) raised
// other than the TypeError/OverflowError of a failed numeric attempt.
bool py_to_json(PyObject* obj, JsonValue& out);

// A new Python object for value, or nullptr with MemoryError set.
PyObject* json_to_py(const JsonValue& value);

}  // namespace vorn::py
