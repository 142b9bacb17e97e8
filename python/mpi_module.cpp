// vorn_py_mpi: the MPI transport of distributed runs, a module of its own so
// that vorn_py itself needs no MPI library. Sim.distributed imports it.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <new>

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
    std::shared_ptr<vorn::Exchange>* exchange = nullptr;
    try {
        exchange = new std::shared_ptr<vorn::Exchange>(std::make_shared<vorn::MpiExchange>(c));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    PyObject* capsule = PyCapsule_New(exchange, kCapsuleName, free_exchange);
    if (capsule == nullptr)
        delete exchange;
    return capsule;
}

// time_spike_exchange(on): starts (zeroing the total) or stops timing.
PyObject* time_exchange(PyObject*, PyObject* on) {
    const int flag = PyObject_IsTrue(on);
    if (flag < 0)
        return nullptr;
    vorn::time_spike_exchange(flag != 0);
    Py_RETURN_NONE;
}

// spike_exchange_time(): (seconds, cpu_seconds, calls) timed so far.
PyObject* exchange_time(PyObject*, PyObject*) {
    const vorn::SpikeExchangeTime t = vorn::spike_exchange_time();
    return Py_BuildValue("(ddK)", static_cast<double>(t.ns) * 1e-9,
                         static_cast<double>(t.cpu_ns) * 1e-9,
                         static_cast<unsigned long long>(t.calls));
}

PyMethodDef kMethods[] = {
    {"exchange", make_exchange, METH_O,
     "exchange(comm)\n--\n\nThe spike exchange of a distributed Sim over an mpi4py "
     "communicator,\nas a capsule for Sim.distributed."},
    {"time_spike_exchange", time_exchange, METH_O,
     "time_spike_exchange(on)\n--\n\nStart (zeroing the total) or stop timing the per-tick "
     "spike exchange\nof every distributed Sim in this process; for benchmarks."},
    {"spike_exchange_time", exchange_time, METH_NOARGS,
     "spike_exchange_time()\n--\n\n(seconds, cpu_seconds, calls): the time spent in the spike "
     "exchange's\ncollective calls while timing was on, waiting for slower ranks included,\nby "
     "the clock and in the calling thread's CPU time."},
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
