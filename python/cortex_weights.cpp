// Weights methods of Cortex: moving (edge id, weight) records between Python
// and weights/{cortex_type}/latest.cwt.

#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/weights_codec.hpp"
#include "python/arg_spec.hpp"
#include "python/args.hpp"
#include "python/attrs.hpp"
#include "python/cortex_object.hpp"
#include "python/errors.hpp"
#include "python/results.hpp"

namespace vorn::py {
namespace {

// One item of persist_weights: exactly a 2-tuple (id text, weight). Lists are
// refused so that a row of some other shape is not taken for a pair.
bool convert_pair(PyObject* item, std::string_view& id_text, float& weight) {
    if (!PyTuple_Check(item)) {
        PyErr_Format(PyExc_TypeError, "expected a (edge_id, weight) tuple, got %T", item);
        return argument_error("weights");
    }
    if (PyTuple_GET_SIZE(item) != 2) {
        Py_ssize_t size = PyTuple_GET_SIZE(item);
        PyErr_Format(PyExc_TypeError, "expected a (edge_id, weight) tuple, got a tuple of %zd %s",
                     size, size == 1 ? "item" : "items");
        return argument_error("weights");
    }
    return arg_text(PyTuple_GET_ITEM(item, 0), "weights", id_text) &&
           arg_float(PyTuple_GET_ITEM(item, 1), "weights", weight);
}

constexpr MethodSpec kPersistWeights{"persist_weights",
                                     {{"weights"}},
                                     "Persist a list of `(edge_id_str, weight)` pairs to\n"
                                     "`weights/{type}/latest.cwt` atomically."};

PyObject* cortex_persist_weights(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    CallArgs<kPersistWeights> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    PyObject* weights_arg = a[0];
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_shared(cortex->borrow);
    if (!guard)
        return nullptr;
    // The snapshot keeps every item (and so every id text viewed below) alive
    // even if a weight's __float__ changes the caller's list.
    PyObject* items = arg_sequence(weights_arg, "weights");
    if (items == nullptr)
        return nullptr;
    const auto n = static_cast<std::size_t>(PyTuple_GET_SIZE(items));
    // The records take more room than a list repeating one pair: running out
    // of memory here is the caller's MemoryError, not an abort.
    std::vector<std::string_view> id_texts;
    std::vector<WeightRecord> records;
    try {
        id_texts.resize(n);
        records.resize(n);
    } catch (const std::bad_alloc&) {
        Py_DECREF(items);
        PyErr_NoMemory();
        return nullptr;
    }
    bool ok = true;
    for (std::size_t i = 0; i < n && ok; ++i)
        ok = convert_pair(PyTuple_GET_ITEM(items, static_cast<Py_ssize_t>(i)), id_texts[i],
                          records[i].weight);
    // Ids are parsed after every item has converted; nothing is written
    // unless all of them parse.
    for (std::size_t i = 0; i < n && ok; ++i)
        ok = parse_uuid(id_texts[i], "edge_id", records[i].id);
    Py_DECREF(items);
    if (!ok)
        return nullptr;
    auto written = cortex->handle.persist_weights(records);
    if (!written)
        return raise_error(written.error());
    Py_RETURN_NONE;
}

constexpr MethodSpec kPersistWeightsRaw{
    "persist_weights_raw",
    {{"bytes"}},
    "Fast path for callers holding a packed array of (16-byte edge id,\n"
    "little-endian f32) rows in the weights-file layout (magic `CWT1`,\n"
    "24-byte header, 20 bytes per record) who do not want to pay\n"
    "per-edge conversion."};

PyObject* cortex_persist_weights_raw(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
    CallArgs<kPersistWeightsRaw> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    PyObject* bytes_arg = a[0];
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_shared(cortex->borrow);
    if (!guard)
        return nullptr;
    std::span<const std::uint8_t> buffer;
    if (!arg_bytes(bytes_arg, "bytes", buffer))
        return nullptr;
    // The whole buffer is checked before anything is written; the file is
    // then re-encoded from the decoded records.
    auto decoded = decode_weights(buffer);
    if (!decoded)
        return raise_value_error("persist_weights_raw: " + decoded.error().message());
    auto written = cortex->handle.persist_weights(*decoded);
    if (!written)
        return raise_error(written.error());
    Py_RETURN_NONE;
}

constexpr const char kLoadWeightsDoc[] =
    "load_weights($self)\n--\n\n"
    "Load weights as a list of `(edge_id_str, weight)` pairs.\n"
    "Returns an empty list if no weights file exists yet.";

PyObject* cortex_load_weights(PyObject* self, PyObject*) {
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_shared(cortex->borrow);
    if (!guard)
        return nullptr;
    auto loaded = cortex->handle.load_weights();
    if (!loaded)
        return raise_error(loaded.error());
    const std::vector<WeightRecord>& records = *loaded;
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(records.size()));
    if (list == nullptr)
        return nullptr;
    for (std::size_t i = 0; i < records.size(); ++i) {
        PyObject* id = id_to_py(records[i].id);
        PyObject* weight = id == nullptr ? nullptr : PyFloat_FromDouble(records[i].weight);
        PyObject* pair = weight == nullptr ? nullptr : PyTuple_Pack(2, id, weight);
        Py_XDECREF(id);
        Py_XDECREF(weight);
        if (pair == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), pair);
    }
    return list;
}

}  // namespace

void add_weight_methods(std::vector<PyMethodDef>& table) {
    table.push_back(method_def(kPersistWeights, guarded<cortex_persist_weights>));
    table.push_back(method_def(kPersistWeightsRaw, guarded<cortex_persist_weights_raw>));
    table.push_back(
        {"load_weights", as_cfunction(guarded<cortex_load_weights>), METH_NOARGS, kLoadWeightsDoc});
}

}  // namespace vorn::py
