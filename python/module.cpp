// Entry point of the vorn_py extension module: creates the module once per
// process and registers its attributes in their fixed order.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "python/attrs.hpp"
#include "python/cortex.hpp"
#include "python/errors.hpp"
#include "python/monitors.hpp"
#include "python/seeds.hpp"
#include "python/sim.hpp"

#ifndef VORN_VERSION
#error "VORN_VERSION must be defined by the build"
#endif

namespace vorn::py {
namespace {

constexpr const char kModuleDoc[] =
    "Spiking-neural-network simulator and network store with a C++ core.\n"
    "\n"
    "`Sim` runs a network tick by tick; `Cortex` opens or creates a network\n"
    "folder on disk (`Sim.from_cortex` runs what it holds); the `seeds`\n"
    "submodule generates networks for `Cortex.apply_seed`. `Sim.spike_monitor`\n"
    "and `Sim.state_monitor` hand out `SpikeMonitor` and `StateMonitor`\n"
    "objects, whose classes are attributes too (not in `__all__`).\n"
    "`__version__` is the package version, so that callers can check what\n"
    "they loaded.\n"
    "\n"
    "Bad arguments raise TypeError or ValueError, store faults OSError, and\n"
    "running out of memory MemoryError. A broken internal invariant raises\n"
    "`vorn_py.PanicException`, which derives from BaseException (so `except\n"
    "Exception` does not swallow it) and is not a module attribute.";

PyModuleDef kModuleDef = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "vorn_py",
    .m_doc = kModuleDoc,
    // Not -1: a re-import in the same interpreter then calls the init function
    // again (which hands back the one module) instead of copying a snapshot.
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

int register_version(PyObject* module) {
    PyObject* version = PyUnicode_FromString(VORN_VERSION);
    if (version == nullptr)
        return -1;
    int rc = add_attribute(module, "__version__", version);
    Py_DECREF(version);
    return rc;
}

// Attribute registrations, in the order the attributes appear in __all__.
using Register = int (*)(PyObject*);
constexpr Register kRegistrations[] = {
    register_sim,
    register_cortex,
    register_seeds,
    register_version,
};

// The module, made once per process and kept until the process ends.
PyObject* g_module = nullptr;

PyObject* create_module() {
    if (register_errors() < 0)
        return nullptr;
    PyObject* module = PyModule_Create(&kModuleDef);
    if (module == nullptr)
        return nullptr;
    for (Register step : kRegistrations) {
        if (step(module) < 0) {
            Py_DECREF(module);
            return nullptr;
        }
    }
    // Classes the module hands out but that are not part of __all__.
    if (register_monitors(module) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

}  // namespace
}  // namespace vorn::py

PyMODINIT_FUNC PyInit_vorn_py(void) {
    using namespace vorn::py;
    // Type objects and the module are process-wide statics, so only the main
    // interpreter may hold them.
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        PyErr_SetString(PyExc_ImportError, "vorn_py does not support loading in sub-interpreters");
        return nullptr;
    }
    if (g_module == nullptr) {
        g_module = create_module();
        if (g_module == nullptr)
            return nullptr;
    }
    return Py_NewRef(g_module);
}
