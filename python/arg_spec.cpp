#include "python/arg_spec.hpp"

#include <cstring>
#include <deque>

namespace vorn::py {

std::string MethodSpec::docstring() const {
    std::string out = std::string(name) + "(";
    bool first = true;
    auto sep = [&] {
        if (!first)
            out += ", ";
        first = false;
    };
    if (binding == Binding::Method || binding == Binding::Class) {
        sep();
        out += binding == Binding::Method ? "$self" : "$type";
    }
    bool star = false;
    for (const ParamSpec& p : params) {
        if (p.keyword_only && !star) {
            sep();
            out += "*";
            star = true;
        }
        sep();
        out += p.name;
        if (p.default_text != nullptr)
            out += std::string("=") + p.default_text;
    }
    out += ")\n--\n\n";
    out += doc;
    return out;
}

bool bind_args(const MethodSpec& spec, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               PyObject** slots) {
    const auto n = static_cast<Py_ssize_t>(spec.params.size());
    Py_ssize_t positional = 0;
    for (const ParamSpec& p : spec.params) {
        if (p.keyword_only)
            break;
        ++positional;
    }
    if (nargs > positional) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %zd positional argument%s (%zd given)",
                     spec.name, positional, positional == 1 ? "" : "s", nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < n; ++i)
        slots[i] = i < nargs ? args[i] : nullptr;
    const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        const char* text = PyUnicode_AsUTF8(key);
        if (text == nullptr)
            return false;
        Py_ssize_t i = 0;
        for (const ParamSpec& p : spec.params) {
            if (std::strcmp(p.name, text) == 0)
                break;
            ++i;
        }
        if (i == n) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%s'", spec.name,
                         text);
            return false;
        }
        if (slots[i] != nullptr) {
            PyErr_Format(PyExc_TypeError,
                         "argument for %s() given by name ('%s') and position (%zd)", spec.name,
                         text, i + 1);
            return false;
        }
        slots[i] = args[nargs + k];
    }
    Py_ssize_t i = 0;
    for (const ParamSpec& p : spec.params) {
        if (p.default_text == nullptr && slots[i] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zd)",
                         spec.name, p.name, i + 1);
            return false;
        }
        ++i;
    }
    return true;
}

PyMethodDef method_def(const MethodSpec& spec, FastMethod fn) {
    // Docstrings of the methods made so far (a deque: its strings never move).
    static std::deque<std::string> docs;
    docs.push_back(spec.docstring());
    int flags = METH_FASTCALL | METH_KEYWORDS;
    if (spec.binding == MethodSpec::Binding::Class)
        flags |= METH_CLASS;
    else if (spec.binding == MethodSpec::Binding::Static)
        flags |= METH_STATIC;
    return {spec.name, as_fastcall(fn), flags, docs.back().c_str()};
}

}  // namespace vorn::py
