#include "python/errors.hpp"

namespace vorn::py {
namespace {

// Created once per process; kept alive for the life of the process.
PyObject* g_panic_type = nullptr;

constexpr const char kPanicDoc[] =
    "Raised when the module meets a fault that correct use cannot reach (a broken\n"
    "internal invariant, or a container changed while it was being converted).\n"
    "Derives from BaseException so that `except Exception` does not hide it.";

PyObject* unicode_from(std::string_view text) {
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* raise_with_message(PyObject* type, std::string_view message) {
    PyObject* text = unicode_from(message);
    if (text == nullptr)
        return nullptr;
    // Building the instance here (rather than PyErr_SetObject with a str)
    // keeps OSError from interpreting the argument list: one argument means
    // errno, strerror and filename all stay None and no subclass is chosen.
    PyObject* exc = PyObject_CallOneArg(type, text);
    Py_DECREF(text);
    if (exc == nullptr)
        return nullptr;
    PyErr_SetObject(type, exc);
    Py_DECREF(exc);
    return nullptr;
}

}  // namespace

int register_errors() {
    if (g_panic_type != nullptr)
        return 0;
    g_panic_type = PyErr_NewExceptionWithDoc("vorn_py.PanicException", kPanicDoc,
                                             PyExc_BaseException, nullptr);
    return g_panic_type == nullptr ? -1 : 0;
}

PyObject* panic_exception_type() {
    return g_panic_type;
}

PyObject* raise_core_error(ErrorClass cls, std::string_view message) {
    return raise_with_message(cls == ErrorClass::Os ? PyExc_OSError : PyExc_ValueError, message);
}

PyObject* raise_error(const ParamError& error) {
    return raise_core_error(ErrorClass::Value, error.message());
}

PyObject* raise_error(const SeedError& error) {
    return raise_core_error(ErrorClass::Value, error.message());
}

PyObject* raise_error(const CortexError& error) {
    if (error.kind() == CortexError::Kind::RandomSource)
        return raise_random_source_error(error.message());
    return raise_core_error(error.is_os_error() ? ErrorClass::Os : ErrorClass::Value,
                            error.message());
}

PyObject* raise_random_source_error(std::string_view message) {
    return raise_with_message(PyExc_RuntimeError, message);
}

PyObject* raise_value_error(std::string_view message) {
    return raise_core_error(ErrorClass::Value, message);
}

PyObject* raise_panic(std::string_view message) {
    if (g_panic_type == nullptr)
        return raise_with_message(PyExc_SystemError, message);
    return raise_with_message(g_panic_type, message);
}

}  // namespace vorn::py
