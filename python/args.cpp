#include "python/args.hpp"

#include <limits>
#include <new>
#include <string>

#include "python/errors.hpp"

namespace vorn::py {

bool argument_error(const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError))
        return false;
    PyObject* cause = PyErr_GetRaisedException();
    PyObject* wrapped = nullptr;
    PyObject* text = PyObject_Str(cause);
    if (text != nullptr) {
        PyObject* message = PyUnicode_FromFormat("argument '%s': %U", name, text);
        Py_DECREF(text);
        if (message != nullptr) {
            wrapped = PyObject_CallOneArg(PyExc_TypeError, message);
            Py_DECREF(message);
        }
    }
    if (wrapped == nullptr) {
        // Could not build the wrapper: report that failure, chained to the original.
        PyObject* failure = PyErr_GetRaisedException();
        PyException_SetContext(failure, cause);
        PyErr_SetRaisedException(failure);
        return false;
    }
    // SetCause steals one reference and SetContext another.
    Py_INCREF(cause);
    PyException_SetCause(wrapped, cause);
    PyException_SetContext(wrapped, cause);
    PyErr_SetRaisedException(wrapped);
    return false;
}

namespace {

bool type_error(const char* name, const char* expected, PyObject* obj) {
    PyErr_Format(PyExc_TypeError, "expected %s, got %T", expected, obj);
    return argument_error(name);
}

}  // namespace

bool arg_double(PyObject* obj, const char* name, double& out) {
    if (PyFloat_CheckExact(obj)) {
        out = PyFloat_AS_DOUBLE(obj);
        return true;
    }
    double value = PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred())
        return argument_error(name);
    out = value;
    return true;
}

// Narrowing follows IEEE 754: round to nearest, values beyond the float range
// become infinities of their sign.
static_assert(std::numeric_limits<float>::is_iec559);

bool arg_float(PyObject* obj, const char* name, float& out) {
    double value;
    if (!arg_double(obj, name, value))
        return false;
    out = static_cast<float>(value);
    return true;
}

bool arg_optional_float(PyObject* obj, const char* name, std::optional<float>& out) {
    out.reset();
    if (obj == nullptr || obj == Py_None)
        return true;
    float value;
    if (!arg_float(obj, name, value))
        return false;
    out = value;
    return true;
}

bool arg_u64(PyObject* obj, const char* name, std::uint64_t& out) {
    PyObject* index = PyNumber_Index(obj);
    if (index == nullptr)
        return argument_error(name);
    unsigned long long value = PyLong_AsUnsignedLongLong(index);
    Py_DECREF(index);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred())
        return argument_error(name);
    out = value;
    return true;
}

bool arg_text(PyObject* obj, const char* name, std::string_view& out) {
    if (!PyUnicode_Check(obj))
        return type_error(name, "str", obj);
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
    if (data == nullptr)
        return argument_error(name);
    out = std::string_view(data, static_cast<std::size_t>(size));
    return true;
}

bool arg_optional_text(PyObject* obj, const char* name, std::optional<std::string_view>& out) {
    out.reset();
    if (obj == nullptr || obj == Py_None)
        return true;
    std::string_view value;
    if (!arg_text(obj, name, value))
        return false;
    out = value;
    return true;
}

PyObject* arg_sequence(PyObject* obj, const char* name) {
    if (PyUnicode_Check(obj) || !PySequence_Check(obj)) {
        type_error(name, "a sequence (not str)", obj);
        return nullptr;
    }
    // A tuple snapshot: converting an item may run Python code that mutates
    // the caller's list, which must not pull items out from under us.
    PyObject* items = PySequence_Tuple(obj);
    if (items == nullptr)
        argument_error(name);
    return items;
}

bool arg_u64_list(PyObject* obj, const char* name, std::vector<std::uint64_t>& out) {
    PyObject* items = arg_sequence(obj, name);
    if (items == nullptr)
        return false;
    Py_ssize_t n = PyTuple_GET_SIZE(items);
    out.clear();
    try {
        out.reserve(static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
        Py_DECREF(items);
        PyErr_NoMemory();
        return false;
    }
    bool ok = true;
    for (Py_ssize_t i = 0; i < n && ok; ++i) {
        std::uint64_t value = 0;
        ok = arg_u64(PyTuple_GET_ITEM(items, i), name, value);
        if (ok)
            out.push_back(value);
    }
    Py_DECREF(items);
    return ok;
}

bool arg_bytes(PyObject* obj, const char* name, std::span<const std::uint8_t>& out) {
    if (!PyBytes_Check(obj))
        return type_error(name, "bytes", obj);
    out =
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(obj)),
                                      static_cast<std::size_t>(PyBytes_GET_SIZE(obj)));
    return true;
}

bool parse_uuid(std::string_view text, const char* name, Uuid& out) {
    auto parsed = Uuid::parse(text);
    if (!parsed) {
        std::string message = std::string(name) + " must be a UUID string: " + parsed.error();
        raise_value_error(message);
        return false;
    }
    out = *parsed;
    return true;
}

bool IdArg::read(PyObject* obj) {
    std::string_view text;
    if (!arg_text(obj, name_, text))
        return false;
    text_ = text;
    return true;
}

bool IdArg::read_optional(PyObject* obj) {
    return arg_optional_text(obj, name_, text_);
}

bool IdArg::parse(Uuid& out) const {
    return parse_uuid(*text_, name_, out);
}

bool IdArg::parse(std::optional<Uuid>& out) const {
    out.reset();
    if (!text_)
        return true;
    Uuid id;
    if (!parse_uuid(*text_, name_, id))
        return false;
    out = id;
    return true;
}

}  // namespace vorn::py
