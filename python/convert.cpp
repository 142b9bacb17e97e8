#include "python/convert.hpp"

#include <cmath>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "python/errors.hpp"

namespace vorn::py {
namespace {

// Nesting deeper than this fails with RecursionError; it keeps the C++ stack
// (and the recursive JsonValue destructor) well inside its limits.
constexpr int kMaxDepth = 512;

enum class Step { Done, Failed, NotThisCase };

// An attempted numeric case failed in a way that means "try the next case":
// the interpreter's TypeError or OverflowError is discarded. Anything else
// (RuntimeError from re-entry, MemoryError, KeyboardInterrupt) is a real
// failure and propagates.
Step discard_or_fail() {
    if (PyErr_ExceptionMatches(PyExc_TypeError) || PyErr_ExceptionMatches(PyExc_OverflowError)) {
        PyErr_Clear();
        return Step::NotThisCase;
    }
    return Step::Failed;
}

bool set_value_error(const char* message) {
    PyErr_SetString(PyExc_ValueError, message);
    return false;
}

bool fail_panic(const char* message) {
    raise_panic(message);
    return false;
}

// numpy's bool scalar, recognised by its type's module and name so that
// numpy need not be imported.
bool is_numpy_bool(PyObject* obj) {
    PyTypeObject* type = Py_TYPE(obj);
    PyObject* module = PyType_GetModuleName(type);
    if (module == nullptr) {
        PyErr_Clear();
        return false;
    }
    bool match = PyUnicode_Check(module) && PyUnicode_CompareWithASCIIString(module, "numpy") == 0;
    Py_DECREF(module);
    if (!match)
        return false;
    PyObject* name = PyType_GetName(type);
    if (name == nullptr) {
        PyErr_Clear();
        return false;
    }
    match = PyUnicode_CompareWithASCIIString(name, "bool_") == 0 ||
            PyUnicode_CompareWithASCIIString(name, "bool") == 0;
    Py_DECREF(name);
    return match;
}

// Integer cases: a signed 64-bit value (stored unsigned when >= 0), then an
// unsigned 64-bit value. Larger magnitudes fall through to the float case.
Step integer_case(PyObject* obj, JsonValue& out) {
    if (!PyLong_Check(obj) && !PyIndex_Check(obj))
        return Step::NotThisCase;
    PyObject* index = PyNumber_Index(obj);
    if (index == nullptr)
        return discard_or_fail();
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(index, &overflow);
    Step step = Step::Done;
    if (value == -1 && PyErr_Occurred()) {
        step = discard_or_fail();
    } else if (overflow == 0) {
        out = JsonValue::signed_int(value);
    } else if (overflow > 0) {
        unsigned long long u = PyLong_AsUnsignedLongLong(index);
        if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred())
            step = discard_or_fail();
        else
            out = JsonValue::unsigned_int(u);
    } else {
        step = Step::NotThisCase;
    }
    Py_DECREF(index);
    return step;
}

Step float_case(PyObject* obj, JsonValue& out) {
    double value;
    if (PyFloat_CheckExact(obj)) {
        value = PyFloat_AS_DOUBLE(obj);
    } else {
        value = PyFloat_AsDouble(obj);
        if (value == -1.0 && PyErr_Occurred())
            return discard_or_fail();
    }
    if (!std::isfinite(value)) {
        set_value_error(kNotFiniteMessage);
        return Step::Failed;
    }
    out = JsonValue::number(value);
    return Step::Done;
}

Step text_case(PyObject* obj, JsonValue& out) {
    if (!PyUnicode_Check(obj))
        return Step::NotThisCase;
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
    if (data == nullptr) {
        // Lone surrogates have no UTF-8 form: not JSON text.
        if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError))
            return Step::Failed;
        PyErr_Clear();
        return Step::NotThisCase;
    }
    out = JsonValue::string(std::string(data, static_cast<std::size_t>(size)));
    return Step::Done;
}

bool convert(PyObject* obj, JsonValue& out, int depth);

// A strong reference held for a scope. The walk allocates C++ containers,
// which may throw std::bad_alloc; the reference must be dropped then too.
class HeldRef {
  public:
    explicit HeldRef(PyObject* obj) : obj_(Py_NewRef(obj)) {}
    ~HeldRef() { Py_DECREF(obj_); }
    HeldRef(const HeldRef&) = delete;
    HeldRef& operator=(const HeldRef&) = delete;

    PyObject* get() const { return obj_; }

  private:
    PyObject* obj_;
};

// Py_EnterRecursiveCall for a scope, left again on any exit (a thrown
// std::bad_alloc included). Check it with `if (!guard) return false;`.
class RecursionGuard {
  public:
    RecursionGuard() : entered_(Py_EnterRecursiveCall(" while converting a value") == 0) {}
    ~RecursionGuard() {
        if (entered_)
            Py_LeaveRecursiveCall();
    }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;

    explicit operator bool() const { return entered_; }

  private:
    bool entered_;
};

// Strong references to a dict's keys in iteration order, taken before any
// Python code can run; released on scope exit.
class KeySnapshot {
  public:
    explicit KeySnapshot(PyObject* dict) {
        keys_.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(dict)));
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(dict, &pos, &key, &value))
            keys_.push_back(Py_NewRef(key));
    }
    ~KeySnapshot() {
        for (PyObject* key : keys_)
            Py_DECREF(key);
    }
    KeySnapshot(const KeySnapshot&) = delete;
    KeySnapshot& operator=(const KeySnapshot&) = delete;

    std::size_t size() const { return keys_.size(); }
    PyObject* operator[](std::size_t i) const { return keys_[i]; }

  private:
    std::vector<PyObject*> keys_;
};

bool convert_dict(PyObject* dict, JsonValue& out, int depth) {
    // Converting a value may run Python code (__float__, __index__) that
    // mutates the dict. The walk holds its own references to the current key
    // and value, and checks after every entry that the dict still has the
    // size and the key sequence it started with.
    const Py_ssize_t size = PyDict_GET_SIZE(dict);
    const KeySnapshot keys(dict);
    JsonObject object;
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (!PyDict_Next(dict, &pos, &key, &value) || key != keys[i])
            return fail_panic("dictionary keys changed during conversion");
        JsonValue key_text;
        Step key_step = text_case(key, key_text);
        if (key_step == Step::Failed)
            return false;
        if (key_step != Step::Done)
            return set_value_error(kDictKeyMessage);
        const HeldRef held(value);
        JsonValue converted;
        if (!convert(held.get(), converted, depth + 1))
            return false;
        if (PyDict_GET_SIZE(dict) != size)
            return fail_panic("dictionary changed size during conversion");
        object.insert_or_assign(std::string(key_text.as_string()), std::move(converted));
    }
    if (PyDict_Next(dict, &pos, &key, &value))
        return fail_panic("dictionary keys changed during conversion");
    out = JsonValue(std::move(object));
    return true;
}

bool convert_list(PyObject* list, JsonValue& out, int depth) {
    const Py_ssize_t start_size = PyList_GET_SIZE(list);
    JsonArray array;
    array.reserve(static_cast<std::size_t>(start_size));
    // The length is re-read at every element: Python code run by a
    // conversion may shrink the list, and we stop at the shorter length.
    for (Py_ssize_t i = 0; i < start_size && i < PyList_GET_SIZE(list); ++i) {
        const HeldRef item(PyList_GET_ITEM(list, i));
        JsonValue converted;
        if (!convert(item.get(), converted, depth + 1))
            return false;
        array.push_back(std::move(converted));
    }
    out = JsonValue(std::move(array));
    return true;
}

bool convert_tuple(PyObject* tuple, JsonValue& out, int depth) {
    const Py_ssize_t size = PyTuple_GET_SIZE(tuple);
    JsonArray array;
    array.reserve(static_cast<std::size_t>(size));
    for (Py_ssize_t i = 0; i < size; ++i) {
        JsonValue converted;
        if (!convert(PyTuple_GET_ITEM(tuple, i), converted, depth + 1))
            return false;
        array.push_back(std::move(converted));
    }
    out = JsonValue(std::move(array));
    return true;
}

bool convert_scalar(PyObject* obj, JsonValue& out, Step& step) {
    if (obj == Py_None) {
        out = JsonValue::null();
        step = Step::Done;
        return true;
    }
    if (PyBool_Check(obj)) {
        out = JsonValue::boolean(obj == Py_True);
        step = Step::Done;
        return true;
    }
    if (is_numpy_bool(obj)) {
        int truth = PyObject_IsTrue(obj);
        if (truth < 0)
            return false;
        out = JsonValue::boolean(truth != 0);
        step = Step::Done;
        return true;
    }
    for (auto attempt : {integer_case, float_case, text_case}) {
        step = attempt(obj, out);
        if (step == Step::Failed)
            return false;
        if (step == Step::Done)
            return true;
    }
    return true;
}

bool convert(PyObject* obj, JsonValue& out, int depth) {
    // Fast paths for the common exact types; they take the same cases, in
    // the same order, as the general walk below.
    if (PyFloat_CheckExact(obj))
        return float_case(obj, out) == Step::Done;
    if (PyLong_CheckExact(obj)) {
        Step step = integer_case(obj, out);
        if (step == Step::NotThisCase)
            step = float_case(obj, out);
        if (step == Step::NotThisCase)
            return set_value_error(kNotJsonMessage);
        return step == Step::Done;
    }
    if (PyUnicode_CheckExact(obj)) {
        Step step = text_case(obj, out);
        if (step == Step::NotThisCase)
            return set_value_error(kNotJsonMessage);
        return step == Step::Done;
    }

    Step step = Step::NotThisCase;
    if (!convert_scalar(obj, out, step))
        return false;
    if (step == Step::Done)
        return true;

    if (!PyDict_Check(obj) && !PyList_Check(obj) && !PyTuple_Check(obj))
        return set_value_error(kNotJsonMessage);
    if (depth >= kMaxDepth) {
        PyErr_SetString(PyExc_RecursionError, "value nested too deeply to convert");
        return false;
    }
    RecursionGuard guard;
    if (!guard)
        return false;
    if (PyDict_Check(obj))
        return convert_dict(obj, out, depth);
    if (PyList_Check(obj))
        return convert_list(obj, out, depth);
    return convert_tuple(obj, out, depth);
}

}  // namespace

bool py_to_json(PyObject* obj, JsonValue& out) {
    // A small value that shares one container many times can expand into far
    // more converted values than the interpreter holds objects; running out of
    // memory then is the caller's MemoryError, not an abort of the process.
    try {
        return convert(obj, out, 0);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
}

PyObject* json_to_py(const JsonValue& value) {
    switch (value.kind()) {
        case JsonValue::Kind::Null:
            Py_RETURN_NONE;
        case JsonValue::Kind::Bool:
            return PyBool_FromLong(value.as_bool());
        case JsonValue::Kind::UInt:
            return PyLong_FromUnsignedLongLong(value.as_u64());
        case JsonValue::Kind::Int:
            return PyLong_FromLongLong(value.as_i64());
        case JsonValue::Kind::Double:
            return PyFloat_FromDouble(value.as_raw_double());
        case JsonValue::Kind::String: {
            const std::string& s = value.as_string();
            return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
        }
        case JsonValue::Kind::Array: {
            const JsonArray& array = value.as_array();
            PyObject* list = PyList_New(static_cast<Py_ssize_t>(array.size()));
            if (list == nullptr)
                return nullptr;
            for (std::size_t i = 0; i < array.size(); ++i) {
                PyObject* item = json_to_py(array[i]);
                if (item == nullptr) {
                    Py_DECREF(list);
                    return nullptr;
                }
                PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
            }
            return list;
        }
        case JsonValue::Kind::Object: {
            PyObject* dict = PyDict_New();
            if (dict == nullptr)
                return nullptr;
            for (const auto& [key, member] : value.as_object()) {
                PyObject* item = json_to_py(member);
                if (item == nullptr) {
                    Py_DECREF(dict);
                    return nullptr;
                }
                PyObject* key_obj =
                    PyUnicode_FromStringAndSize(key.data(), static_cast<Py_ssize_t>(key.size()));
                int rc = key_obj == nullptr ? -1 : PyDict_SetItem(dict, key_obj, item);
                Py_XDECREF(key_obj);
                Py_DECREF(item);
                if (rc < 0) {
                    Py_DECREF(dict);
                    return nullptr;
                }
            }
            return dict;
        }
    }
    return raise_panic("JSON value of unknown kind");
}

}  // namespace vorn::py
