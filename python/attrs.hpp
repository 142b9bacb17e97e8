#pragma once
// Module attribute bookkeeping shared by every register_... function, and the
// constructor stand-in of classes that Python code cannot instantiate.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vorn::py {

// Sets module.name = value and appends name to module.__all__ (created as an
// empty list on first use). Does not steal value. Returns 0, or -1 with an
// exception set.
int add_attribute(PyObject* module, const char* name, PyObject* value);

// A METH_NOARGS function as the PyCFunction that PyMethodDef stores (through
// void(*)() to keep the cast explicit). Methods with parameters are made by
// method_def (arg_spec.hpp).
template <typename Fn>
PyCFunction as_cfunction(Fn* fn) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

// tp_new of classes without a constructor: always raises TypeError
// "No constructor defined for {}" with the class name.
PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);

}  // namespace vorn::py
