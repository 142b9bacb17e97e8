#include "python/sim_args.hpp"

#include <cmath>
#include <string>

#include "core/engine/engine_error.hpp"
#include "core/store/id_source.hpp"
#include "python/args.hpp"
#include "python/arrays.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/results.hpp"
#include "python/sim_object.hpp"

namespace vorn::py {

// A config argument: a dict (or, where allowed, None or omitted for no
// fields). Other types are argument errors.
bool arg_config_dict(PyObject* obj, const char* name, bool none_allowed, PyObject*& dict) {
    dict = nullptr;
    if ((obj == nullptr || obj == Py_None) && none_allowed)
        return true;
    if (obj == nullptr || !PyDict_Check(obj)) {
        PyErr_Format(PyExc_TypeError,
                     none_allowed ? "expected dict or None, got %T" : "expected dict, got %T",
                     obj == nullptr ? Py_None : obj);
        return argument_error(name);
    }
    dict = obj;
    return true;
}

// The dict's items as a JsonObject, converted one value at a time from a
// snapshot of the items (conversions may run Python code). A value that is
// not JSON-compatible, NaN or infinite included, becomes null so that the
// core's validation reports it under its key; other exceptions propagate.
bool config_to_json(PyObject* dict, JsonObject& out) {
    if (dict == nullptr)
        return true;
    PyObject* items = PyDict_Items(dict);
    if (items == nullptr)
        return false;
    bool ok = true;
    for (Py_ssize_t i = 0; ok && i < PyList_GET_SIZE(items); ++i) {
        PyObject* item = PyList_GET_ITEM(items, i);
        PyObject* key = PyTuple_GET_ITEM(item, 0);
        if (!PyUnicode_Check(key)) {
            PyErr_SetString(PyExc_ValueError, kDictKeyMessage);
            ok = false;
            break;
        }
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(key, &size);
        if (text == nullptr) {
            ok = false;
            break;
        }
        JsonValue value;
        if (!py_to_json(PyTuple_GET_ITEM(item, 1), value)) {
            if (!PyErr_ExceptionMatches(PyExc_ValueError)) {
                ok = false;
                break;
            }
            PyErr_Clear();
            value = JsonValue::null();
        }
        out.insert_or_assign(std::string(text, static_cast<std::size_t>(size)), std::move(value));
    }
    Py_DECREF(items);
    return ok;
}

// Parses an optional node or edge id, minting a fresh one when absent.
bool id_or_fresh(SimEngine& engine, const IdArg& id, Uuid& out) {
    if (id.present())
        return id.parse(out);
    auto fresh = mint_id(&engine);
    if (!fresh) {
        raise_error(fresh.error());
        return false;
    }
    out = *fresh;
    return true;
}

bool arg_nodes(PyObject* obj, const char* name, const SimEngine& engine,
               std::vector<std::int64_t>& out, PyObject** ids_out) {
    // A list or tuple whose first item is a str holds ids.
    const bool ids = (PyList_Check(obj) || PyTuple_Check(obj)) && PySequence_Size(obj) > 0 &&
                     PyUnicode_Check(PySequence_Fast_GET_ITEM(obj, 0));
    if (ids) {
        PyObject* items = PySequence_Fast(obj, "expected a sequence");
        if (items == nullptr)
            return false;
        const Py_ssize_t n = PySequence_Fast_GET_SIZE(items);
        out.clear();
        out.reserve(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            std::string_view text;
            Uuid id;
            if (!arg_text(PySequence_Fast_GET_ITEM(items, i), name, text) ||
                !parse_uuid(text, name, id)) {
                Py_DECREF(items);
                return false;
            }
            auto index = engine.node_index(id);
            if (!index) {
                Py_DECREF(items);
                raise_value_error("node " + std::string(text) + " not in sim");
                return false;
            }
            out.push_back(*index);
        }
        Py_DECREF(items);
    } else {
        IndexArray indices;
        if (!indices.load(obj, name))
            return false;
        out.assign(indices.values().begin(), indices.values().end());
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (out[i] < 0 || static_cast<std::uint64_t>(out[i]) >= engine.n_neurons()) {
                const EngineError e =
                    out[i] < 0 ? EngineError::negative_index(name, i, out[i])
                               : EngineError::index_range(name, i, out[i], engine.n_neurons());
                raise_value_error(e.message());
                return false;
            }
        }
    }
    if (ids_out != nullptr) {
        PyObject* list = PyList_New(static_cast<Py_ssize_t>(out.size()));
        if (list == nullptr)
            return false;
        for (std::size_t i = 0; i < out.size(); ++i) {
            PyObject* id = id_to_py(engine.node_id(static_cast<std::uint32_t>(out[i])));
            if (id == nullptr) {
                Py_DECREF(list);
                return false;
            }
            PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), id);
        }
        *ids_out = list;
    }
    return true;
}

bool check_finite(const char* name, float value) {
    if (std::isfinite(value))
        return true;
    raise_value_error(EngineError::not_finite(name, value).message());
    return false;
}

}  // namespace vorn::py
