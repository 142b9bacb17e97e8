// vorn_py_mpi: the MPI transport of distributed runs, a module of its own so
// that vorn_py itself needs no MPI library. Sim.distributed imports it.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>

#include "core/dist/mpi_exchange.hpp"

namespace {

constexpr const char kCapsuleName[] = "vorn_py.exchange";

void free_exchange(PyObject* capsule) {
    delete static_cast<std::shared_ptr<vorn::Exchange>*>(
        PyCapsule_GetPointer(capsule, kCapsuleName));
}

// exchange(comm): a capsule holding the exchange over an mpi4py
// communicator (found through its Fortran handle, so no mpi4py headers are
// needed to build this).
PyObject* make_exchange(PyObject*, PyObject* comm) {
    int initialized = 0;
    MPI_Initialized(&initialized);
    if (!initialized) {
        PyErr_SetString(PyExc_RuntimeError, "MPI is not initialised: import mpi4py.MPI first");
        return nullptr;
    }
    PyObject* handle = PyObject_CallMethod(comm, "py2f", nullptr);
    if (handle == nullptr) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "expected an mpi4py communicator, got %T", comm);
        return nullptr;
    }
    const long f = PyLong_AsLong(handle);
    Py_DECREF(handle);
    if (f == -1 && PyErr_Occurred())
        return nullptr;
    const MPI_Comm c = MPI_Comm_f2c(static_cast<MPI_Fint>(f));
    if (c == MPI_COMM_NULL) {
        PyErr_SetString(PyExc_ValueError, "the communicator is MPI_COMM_NULL");
        return nullptr;
    }
    auto* exchange = new std::shared_ptr<vorn::Exchange>(std::make_shared<vorn::MpiExchange>(c));
    PyObject* capsule = PyCapsule_New(exchange, kCapsuleName, free_exchange);
    if (capsule == nullptr)
        delete exchange;
    return capsule;
}

PyMethodDef kMethods[] = {
    {"exchange", make_exchange, METH_O,
     "exchange(comm)\n--\n\nThe spike exchange of a distributed Sim over an mpi4py "
     "communicator,\nas a capsule for Sim.distributed."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "vorn_py_mpi",
    .m_doc = "The MPI transport of vorn_py's distributed runs (see Sim.distributed).",
    .m_size = -1,
    .m_methods = kMethods,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_vorn_py_mpi(void) {
    return PyModule_Create(&kModule);
}
