#pragma once
// The single place where core errors become Python exceptions, plus the
// PanicException raised for broken internal invariants.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>
#include <stdexcept>
#include <string_view>
#include <type_traits>

#include "core/models/param_error.hpp"
#include "core/seeds/seed_error.hpp"
#include "core/store/cortex_error.hpp"

namespace vorn::py {

// Python exception class a core error maps to: store file-system faults are
// OSError, everything else ValueError.
enum class ErrorClass { Value, Os };

// Creates the PanicException class (registered as "vorn_py.PanicException",
// deliberately not a module attribute). Returns 0, or -1 with an exception set.
int register_errors();

// Each raise_* sets the exception and returns nullptr so callers can
// `return raise_...(...)`.

// ValueError or a plain OSError whose only argument is the message.
PyObject* raise_core_error(ErrorClass cls, std::string_view message);
PyObject* raise_error(const ParamError& error);
PyObject* raise_error(const SeedError& error);
// NotADirectory, MissingFile and Io: plain OSError; a failing random source
// while minting an id: RuntimeError (an environment fault, not a fault of the
// caller's data or of the disk); every other kind: ValueError.
PyObject* raise_error(const CortexError& error);
PyObject* raise_value_error(std::string_view message);
// RuntimeError for a random source that failed while an id was minted.
PyObject* raise_random_source_error(std::string_view message);
// PanicException(message): derives from BaseException, so `except Exception`
// does not swallow it.
PyObject* raise_panic(std::string_view message);

// The PanicException class (borrowed), or nullptr before register_errors().
PyObject* panic_exception_type();

// Guarded<F>::call runs F, an entry point called by the interpreter, and
// turns a C++ exception that escapes it into a Python exception instead of
// letting it end the process: std::bad_alloc (and std::length_error, a size
// no container can reach) becomes MemoryError; anything else, which the core
// never throws, a PanicException. Store operations leave their objects as
// they were when memory runs out, so the object stays usable.
template <auto F>
struct Guarded;

// What an entry point returns once it has set an exception: nullptr for
// objects, -1 for setters and length slots.
template <typename R>
constexpr R failed_result() {
    if constexpr (std::is_pointer_v<R>)
        return nullptr;
    else
        return R(-1);
}

template <typename R, typename... Args, R (*F)(Args...)>
struct Guarded<F> {
    static R call(Args... args) noexcept {
        try {
            return F(args...);
        } catch (const std::bad_alloc&) {
        } catch (const std::length_error&) {
        } catch (const std::exception& e) {
            raise_panic(e.what());
            return failed_result<R>();
        } catch (...) {
            raise_panic("unknown C++ exception");
            return failed_result<R>();
        }
        PyErr_NoMemory();
        return failed_result<R>();
    }
};

// The guarded form of F, for method, getter, setter, length, repr and
// tp_new slots:
// every entry of the module's tables goes through it.
template <auto F>
inline constexpr auto guarded = &Guarded<F>::call;

}  // namespace vorn::py
