#pragma once
// numpy arrays in and out. In: 1-D integer or float arrays through the
// buffer protocol (read in place when their element type is already the
// one the core takes) or any sequence of Python numbers. Out: new numpy
// arrays made with numpy.empty and filled through their buffers, so the
// module needs numpy only at run time.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <span>
#include <vector>

namespace vorn::py {

// A 1-D sequence of int64 values. Failures: TypeError for other types and
// element types (argument error naming `name`), ValueError for other shapes.
class IndexArray {
  public:
    IndexArray() = default;
    ~IndexArray();
    IndexArray(const IndexArray&) = delete;
    IndexArray& operator=(const IndexArray&) = delete;

    bool load(PyObject* obj, const char* name);
    std::span<const std::int64_t> values() const { return values_; }

  private:
    Py_buffer view_{};
    bool has_view_ = false;
    std::vector<std::int64_t> copy_;
    std::span<const std::int64_t> values_;
};

// A float or 1-D sequence of floats as doubles; `scalar` tells which.
class FloatArray {
  public:
    FloatArray() = default;
    ~FloatArray();
    FloatArray(const FloatArray&) = delete;
    FloatArray& operator=(const FloatArray&) = delete;

    // allow_scalar: a single number is accepted too.
    bool load(PyObject* obj, const char* name, bool allow_scalar);
    std::span<const double> values() const { return values_; }
    bool scalar() const { return scalar_; }

  private:
    Py_buffer view_{};
    bool has_view_ = false;
    bool scalar_ = false;
    std::vector<double> copy_;
    std::span<const double> values_;
};

// A new numpy array of `count` elements of dtype ("uint32", "float32",
// "float64") with the given shape (1-D when cols is 0), filled by fill(ptr).
// nullptr with the exception set when numpy is missing or memory runs out.
PyObject* new_array(const char* dtype, std::size_t rows, std::size_t cols, const void* data,
                    std::size_t item_size);

}  // namespace vorn::py
