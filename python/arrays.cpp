#include "python/arrays.hpp"

#include <cstring>
#include <string_view>

#include "python/args.hpp"

namespace vorn::py {
namespace {

// The element type of a buffer, ignoring a byte-order or size prefix of
// native order ('@', '=').
char element_code(const Py_buffer& view) {
    const char* f = view.format == nullptr ? "B" : view.format;
    if (*f == '@' || *f == '=')
        ++f;
    return f[1] == '\0' ? f[0] : '\0';
}

template <class T>
void widen(const Py_buffer& view, std::vector<std::int64_t>& out) {
    const auto* p = static_cast<const char*>(view.buf);
    for (std::size_t i = 0; i < out.size(); ++i) {
        T v;
        std::memcpy(&v, p + static_cast<Py_ssize_t>(i) * view.strides[0], sizeof v);
        out[i] = static_cast<std::int64_t>(v);
    }
}

template <class T>
void widen(const Py_buffer& view, std::vector<double>& out) {
    const auto* p = static_cast<const char*>(view.buf);
    for (std::size_t i = 0; i < out.size(); ++i) {
        T v;
        std::memcpy(&v, p + static_cast<Py_ssize_t>(i) * view.strides[0], sizeof v);
        out[i] = static_cast<double>(v);
    }
}

// A strided 1-D view, or false with the exception set (ValueError for other
// shapes). A non-buffer object sets nothing and returns false with
// is_buffer false.
bool get_view(PyObject* obj, const char* name, Py_buffer& view, bool& is_buffer) {
    is_buffer = PyObject_CheckBuffer(obj) && !PyBytes_Check(obj) && !PyByteArray_Check(obj);
    if (!is_buffer)
        return false;
    if (PyObject_GetBuffer(obj, &view, PyBUF_FORMAT | PyBUF_STRIDES) < 0)
        return false;
    if (view.ndim != 1) {
        PyErr_Format(PyExc_ValueError, "%s must be 1-D, got %d dimensions", name, view.ndim);
        PyBuffer_Release(&view);
        return false;
    }
    return true;
}

// An integer that does not fit in int64 reads as -1, which the core
// reports as negative (values this large are no neuron index anyway).
std::int64_t clamp_u64(std::uint64_t v) {
    return v > static_cast<std::uint64_t>(INT64_MAX) ? -1 : static_cast<std::int64_t>(v);
}

PyObject* numpy_empty() {
    static PyObject* empty = nullptr;
    if (empty == nullptr) {
        PyObject* numpy = PyImport_ImportModule("numpy");
        if (numpy == nullptr)
            return nullptr;
        empty = PyObject_GetAttrString(numpy, "empty");
        Py_DECREF(numpy);
    }
    return empty;
}

}  // namespace

IndexArray::~IndexArray() {
    if (has_view_)
        PyBuffer_Release(&view_);
}

bool IndexArray::load(PyObject* obj, const char* name) {
    bool is_buffer = false;
    if (get_view(obj, name, view_, is_buffer)) {
        has_view_ = true;
        const auto n = static_cast<std::size_t>(view_.shape[0]);
        const char code = element_code(view_);
        const bool contiguous = view_.strides[0] == view_.itemsize;
        if ((code == 'q' || code == 'l') && view_.itemsize == 8 && contiguous) {
            values_ = {static_cast<const std::int64_t*>(view_.buf), n};
            return true;
        }
        copy_.resize(n);
        switch (code) {
            case 'b':
                widen<std::int8_t>(view_, copy_);
                break;
            case 'B':
                widen<std::uint8_t>(view_, copy_);
                break;
            case 'h':
                widen<std::int16_t>(view_, copy_);
                break;
            case 'H':
                widen<std::uint16_t>(view_, copy_);
                break;
            case 'i':
                widen<std::int32_t>(view_, copy_);
                break;
            case 'I':
                widen<std::uint32_t>(view_, copy_);
                break;
            case 'l':
            case 'q':
            case 'n':
                widen<std::int64_t>(view_, copy_);
                break;
            case 'L':
            case 'Q':
            case 'N': {
                const auto* p = static_cast<const char*>(view_.buf);
                for (std::size_t i = 0; i < n; ++i) {
                    std::uint64_t v;
                    std::memcpy(&v, p + static_cast<Py_ssize_t>(i) * view_.strides[0], sizeof v);
                    copy_[i] = clamp_u64(v);
                }
                break;
            }
            default:
                PyErr_Format(PyExc_TypeError, "expected an integer array, got element type '%s'",
                             view_.format == nullptr ? "B" : view_.format);
                return argument_error(name);
        }
        values_ = copy_;
        return true;
    }
    if (PyErr_Occurred())
        return false;
    if (PyUnicode_Check(obj) || !PySequence_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "expected a 1-D integer array or a sequence of ints, got %T",
                     obj);
        return argument_error(name);
    }
    PyObject* items = PySequence_Fast(obj, "expected a sequence");
    if (items == nullptr)
        return argument_error(name);
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items);
    copy_.resize(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items, i);
        PyObject* index = PyNumber_Index(item);
        if (index == nullptr) {
            Py_DECREF(items);
            return argument_error(name);
        }
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(index, &overflow);
        Py_DECREF(index);
        if (v == -1 && PyErr_Occurred()) {
            Py_DECREF(items);
            return false;
        }
        // Too large either way: negative ones stay negative, large ones
        // read as -1 too (see clamp_u64).
        copy_[static_cast<std::size_t>(i)] = overflow != 0 ? -1 : v;
    }
    Py_DECREF(items);
    values_ = copy_;
    return true;
}

FloatArray::~FloatArray() {
    if (has_view_)
        PyBuffer_Release(&view_);
}

bool FloatArray::load(PyObject* obj, const char* name, bool allow_scalar) {
    if (allow_scalar && (PyFloat_Check(obj) || PyLong_Check(obj) ||
                         (!PyObject_CheckBuffer(obj) && !PySequence_Check(obj)))) {
        double v = 0.0;
        if (!arg_double(obj, name, v))
            return false;
        copy_.assign(1, v);
        values_ = copy_;
        scalar_ = true;
        return true;
    }
    bool is_buffer = false;
    if (get_view(obj, name, view_, is_buffer)) {
        has_view_ = true;
        const auto n = static_cast<std::size_t>(view_.shape[0]);
        const char code = element_code(view_);
        if (code == 'd' && view_.itemsize == 8 && view_.strides[0] == 8) {
            values_ = {static_cast<const double*>(view_.buf), n};
            return true;
        }
        copy_.resize(n);
        switch (code) {
            case 'f':
                widen<float>(view_, copy_);
                break;
            case 'd':
                widen<double>(view_, copy_);
                break;
            case 'b':
                widen<std::int8_t>(view_, copy_);
                break;
            case 'B':
                widen<std::uint8_t>(view_, copy_);
                break;
            case 'h':
                widen<std::int16_t>(view_, copy_);
                break;
            case 'H':
                widen<std::uint16_t>(view_, copy_);
                break;
            case 'i':
                widen<std::int32_t>(view_, copy_);
                break;
            case 'I':
                widen<std::uint32_t>(view_, copy_);
                break;
            case 'l':
            case 'q':
                widen<std::int64_t>(view_, copy_);
                break;
            case 'L':
            case 'Q':
                widen<std::uint64_t>(view_, copy_);
                break;
            default:
                PyErr_Format(PyExc_TypeError, "expected a float array, got element type '%s'",
                             view_.format == nullptr ? "B" : view_.format);
                return argument_error(name);
        }
        values_ = copy_;
        return true;
    }
    if (PyErr_Occurred())
        return false;
    if (PyUnicode_Check(obj) || !PySequence_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "expected a float or a 1-D float array, got %T", obj);
        return argument_error(name);
    }
    PyObject* items = PySequence_Fast(obj, "expected a sequence");
    if (items == nullptr)
        return argument_error(name);
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items);
    copy_.resize(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!arg_double(PySequence_Fast_GET_ITEM(items, i), name,
                        copy_[static_cast<std::size_t>(i)])) {
            Py_DECREF(items);
            return false;
        }
    }
    Py_DECREF(items);
    values_ = copy_;
    return true;
}

PyObject* new_array(const char* dtype, std::size_t rows, std::size_t cols, const void* data,
                    std::size_t item_size) {
    PyObject* empty = numpy_empty();
    if (empty == nullptr)
        return nullptr;
    PyObject* shape = cols == 0 ? Py_BuildValue("(n)", static_cast<Py_ssize_t>(rows))
                                : Py_BuildValue("(nn)", static_cast<Py_ssize_t>(rows),
                                                static_cast<Py_ssize_t>(cols));
    if (shape == nullptr)
        return nullptr;
    PyObject* array = PyObject_CallFunction(empty, "Os", shape, dtype);
    Py_DECREF(shape);
    if (array == nullptr)
        return nullptr;
    const std::size_t count = cols == 0 ? rows : rows * cols;
    if (count > 0) {
        Py_buffer view;
        if (PyObject_GetBuffer(array, &view, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) < 0) {
            Py_DECREF(array);
            return nullptr;
        }
        std::memcpy(view.buf, data, count * item_size);
        PyBuffer_Release(&view);
    }
    return array;
}

}  // namespace vorn::py
