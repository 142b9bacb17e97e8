// Graph edits of Cortex: adding and removing neurons and synapses, and
// applying a generated seed.

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "python/args.hpp"
#include "python/cortex_object.hpp"
#include "python/errors.hpp"
#include "python/results.hpp"
#include "python/seed.hpp"

namespace vorn::py {
namespace {

using Kw = const char* const[];

// Shared argument handling of remove_neuron / remove_synapse: one id text.
template <typename Remove>
PyObject* remove_by_id(PyObject* self, PyObject* args, PyObject* kwargs, const char* format,
                       const char* arg_name, Remove remove) {
    const char* const kw[] = {arg_name, nullptr};
    PyObject* id_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, kw, &id_arg))
        return nullptr;
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_exclusive(cortex->borrow);
    if (!guard)
        return nullptr;
    std::string_view text;
    Uuid id;
    if (!arg_text(id_arg, arg_name, text) || !parse_uuid(text, arg_name, id))
        return nullptr;
    return remove(cortex->handle, id);
}

}  // namespace

PyObject* cortex_add_neuron(PyObject* self, PyObject* args, PyObject* kwargs) {
    static Kw kw = {"label", "kind", "node_id", nullptr};
    PyObject* label_arg = nullptr;
    PyObject* kind_arg = nullptr;
    PyObject* node_id_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OOO:add_neuron", kw, &label_arg, &kind_arg,
                                     &node_id_arg))
        return nullptr;
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_exclusive(cortex->borrow);
    if (!guard)
        return nullptr;
    std::string_view label;
    std::optional<std::string_view> kind;
    std::optional<std::string_view> node_text;
    if ((label_arg != nullptr && !arg_text(label_arg, "label", label)) ||
        !arg_optional_text(kind_arg, "kind", kind) ||
        !arg_optional_text(node_id_arg, "node_id", node_text))
        return nullptr;
    NeuronInput input{.label = std::string(label)};
    if (node_text) {
        Uuid id;
        if (!parse_uuid(*node_text, "node_id", id))
            return nullptr;
        input.id = id;
    }
    if (kind)
        input.kind = NeuronSpec{std::string(*kind), std::nullopt};
    auto added = cortex->handle.add_neuron(std::move(input));
    if (!added)
        return raise_error(added.error());
    return id_to_py(*added);
}

PyObject* cortex_add_synapse(PyObject* self, PyObject* args, PyObject* kwargs) {
    static Kw kw = {"pre", "post", "init_weight", "delay_ms", "kind", "edge_id", nullptr};
    PyObject* pre_arg = nullptr;
    PyObject* post_arg = nullptr;
    PyObject* weight_arg = nullptr;
    PyObject* delay_arg = nullptr;
    PyObject* kind_arg = nullptr;
    PyObject* edge_id_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|OOOO:add_synapse", kw, &pre_arg, &post_arg,
                                     &weight_arg, &delay_arg, &kind_arg, &edge_id_arg))
        return nullptr;
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_exclusive(cortex->borrow);
    if (!guard)
        return nullptr;
    std::string_view pre_text;
    std::string_view post_text;
    SynapseInput input;
    std::optional<std::string_view> kind;
    std::optional<std::string_view> edge_text;
    if (!arg_text(pre_arg, "pre", pre_text) || !arg_text(post_arg, "post", post_text) ||
        (weight_arg != nullptr && !arg_float(weight_arg, "init_weight", input.init_weight)) ||
        !arg_optional_float(delay_arg, "delay_ms", input.delay_ms) ||
        !arg_optional_text(kind_arg, "kind", kind) ||
        !arg_optional_text(edge_id_arg, "edge_id", edge_text))
        return nullptr;
    // Ids are parsed only once every argument has converted, edge_id first.
    if (edge_text) {
        Uuid id;
        if (!parse_uuid(*edge_text, "edge_id", id))
            return nullptr;
        input.id = id;
    }
    if (!parse_uuid(pre_text, "pre", input.pre) || !parse_uuid(post_text, "post", input.post))
        return nullptr;
    if (kind)
        input.kind = SynapseSpec{std::string(*kind), std::nullopt};
    auto added = cortex->handle.add_synapse(std::move(input));
    if (!added)
        return raise_error(added.error());
    return id_to_py(*added);
}

PyObject* cortex_remove_neuron(PyObject* self, PyObject* args, PyObject* kwargs) {
    return remove_by_id(self, args, kwargs, "O:remove_neuron", "node_id",
                        [](Cortex& c, const Uuid& id) -> PyObject* {
                            auto removed = c.remove_neuron(id);
                            if (!removed)
                                return raise_error(removed.error());
                            return PyLong_FromUnsignedLongLong(*removed);
                        });
}

PyObject* cortex_remove_synapse(PyObject* self, PyObject* args, PyObject* kwargs) {
    return remove_by_id(self, args, kwargs, "O:remove_synapse", "edge_id",
                        [](Cortex& c, const Uuid& id) -> PyObject* {
                            auto removed = c.remove_synapse(id);
                            if (!removed)
                                return raise_error(removed.error());
                            return PyBool_FromLong(*removed);
                        });
}

PyObject* cortex_apply_seed(PyObject* self, PyObject* args, PyObject* kwargs) {
    static Kw kw = {"seed", nullptr};
    PyObject* seed_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:apply_seed", kw, &seed_arg))
        return nullptr;
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_exclusive(cortex->borrow);
    if (!guard)
        return nullptr;
    if (!is_seed(seed_arg)) {
        PyErr_Format(PyExc_TypeError, "expected Seed, got %T", seed_arg);
        argument_error("seed");
        return nullptr;
    }
    PySeed* seed = reinterpret_cast<PySeed*>(seed_arg);
    // Held for the whole call. The record leaves the Seed before insertion is
    // attempted, so a failed insertion also leaves the Seed empty.
    auto seed_guard = borrow_exclusive(seed->borrow);
    if (!seed_guard)
        return nullptr;
    if (!seed->record)
        return raise_value_error("seed has already been applied");
    Seed record = std::move(*seed->record);
    seed->record.reset();
    auto applied = cortex->handle.apply_seed(std::move(record));
    if (!applied)
        return raise_error(applied.error());
    return Py_BuildValue("(KK)", static_cast<unsigned long long>(applied->added_nodes),
                         static_cast<unsigned long long>(applied->added_edges));
}

}  // namespace vorn::py
