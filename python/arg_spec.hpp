#pragma once
// Declarative method signatures: each method states its parameters once
// (name, default as shown to users, keyword-only or not), and the same
// record binds the call's arguments and writes the text signature that
// heads the docstring. Conversion then runs per parameter, in order, with
// the converters of args.hpp.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <initializer_list>
#include <string>

namespace vorn::py {

struct ParamSpec {
    const char* name;
    const char* default_text = nullptr;  // nullptr: required
    bool keyword_only = false;
};

struct MethodSpec {
    const char* name;
    std::initializer_list<ParamSpec> params;
    const char* doc;  // the docstring after the signature lines
    // What comes first in the text signature: "$self" for methods, "$type"
    // for class methods, nothing for static methods and module functions.
    // Static adds METH_STATIC to the table entry; Function (a module-level
    // function made with PyCFunction_NewEx) adds no flag.
    enum class Binding { Method, Class, Static, Function } binding = Binding::Method;

    // "name($self, a, b=0.5, *, c=None)\n--\n\n" followed by doc.
    std::string docstring() const;
};

// Puts the arguments of a METH_FASTCALL | METH_KEYWORDS call into slots, one
// per parameter in order (nullptr when omitted). A missing required
// argument, an unknown keyword, an argument given twice or too many
// positional arguments raise TypeError; returns false then.
bool bind_args(const MethodSpec& spec, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               PyObject** slots);

// The argument slots of one call of the method Spec describes, sized by its
// parameter list so that the two cannot disagree. Spec must be constexpr:
//     CallArgs<kAddEdge> a;
//     if (!a.bind(args, nargs, kwnames))
//         return nullptr;
//     ... a[0] ... (nullptr for an omitted optional parameter)
template <const MethodSpec& Spec>
struct CallArgs {
    static_assert(Spec.params.size() > 0, "a method without parameters has no slots");
    PyObject* slots[Spec.params.size()];

    bool bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return bind_args(Spec, args, nargs, kwnames, slots);
    }
    PyObject* operator[](std::size_t i) const { return slots[i]; }
    // The name of parameter i, for conversions that report it.
    static constexpr const char* name(std::size_t i) { return Spec.params.begin()[i].name; }
};

// A METH_FASTCALL | METH_KEYWORDS function as the PyCFunction that
// PyMethodDef stores.
using FastMethod = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
inline PyCFunction as_fastcall(FastMethod fn) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

// The method table entry of a spec'd method; its docstring lives as long
// as the process.
PyMethodDef method_def(const MethodSpec& spec, FastMethod fn);

}  // namespace vorn::py
