#include "python/attrs.hpp"

namespace vorn::py {

int add_attribute(PyObject* module, const char* name, PyObject* value) {
    if (PyModule_AddObjectRef(module, name, value) < 0)
        return -1;
    PyObject* all = nullptr;
    if (PyObject_GetOptionalAttrString(module, "__all__", &all) < 0)
        return -1;
    if (all == nullptr) {
        all = PyList_New(0);
        if (all == nullptr)
            return -1;
        if (PyModule_AddObjectRef(module, "__all__", all) < 0) {
            Py_DECREF(all);
            return -1;
        }
    }
    if (!PyList_Check(all)) {
        Py_DECREF(all);
        PyErr_SetString(PyExc_TypeError, "module __all__ is not a list");
        return -1;
    }
    PyObject* key = PyUnicode_FromString(name);
    int rc = key == nullptr ? -1 : PyList_Append(all, key);
    Py_XDECREF(key);
    Py_DECREF(all);
    return rc;
}

PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) {
    PyObject* name = PyType_GetName(type);
    if (name == nullptr)
        return nullptr;
    PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name);
    Py_DECREF(name);
    return nullptr;
}

}  // namespace vorn::py
