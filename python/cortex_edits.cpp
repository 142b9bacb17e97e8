// Graph edits of Cortex: adding and removing neurons and synapses, and
// applying a generated seed.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "python/arg_spec.hpp"
#include "python/args.hpp"
#include "python/cortex_object.hpp"
#include "python/errors.hpp"
#include "python/results.hpp"
#include "python/seed.hpp"

namespace vorn::py {
namespace {

// Shared body of remove_neuron / remove_synapse, whose one parameter is the
// id.
template <const MethodSpec& Spec, typename Remove>
PyObject* remove_by_id(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                       Remove remove) {
    CallArgs<Spec> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_exclusive(cortex->borrow);
    if (!guard)
        return nullptr;
    IdArg id_arg(a.name(0));
    Uuid id;
    if (!id_arg.read(a[0]) || !id_arg.parse(id))
        return nullptr;
    return remove(cortex->handle, id);
}

constexpr MethodSpec kAddNeuron{
    "add_neuron",
    {{"label", "\"\""}, {"kind", "None"}, {"node_id", "None"}},
    "Add a neuron. When `kind` is omitted the node follows the network's\n"
    "`defaults.neuron.kind`; \"lif\", \"hh\" or another kind may be passed.\n"
    "Returns the new node's UUID as a string."};

PyObject* cortex_add_neuron(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    CallArgs<kAddNeuron> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_exclusive(cortex->borrow);
    if (!guard)
        return nullptr;
    std::string_view label;
    std::optional<std::string_view> kind;
    IdArg node_arg("node_id");
    if ((a[0] != nullptr && !arg_text(a[0], "label", label)) ||
        !arg_optional_text(a[1], "kind", kind) || !node_arg.read_optional(a[2]))
        return nullptr;
    NeuronInput input{.label = std::string(label)};
    if (!node_arg.parse(input.id))
        return nullptr;
    if (kind)
        input.kind = NeuronSpec{std::string(*kind), std::nullopt};
    auto added = cortex->handle.add_neuron(std::move(input));
    if (!added)
        return raise_error(added.error());
    return id_to_py(*added);
}

constexpr MethodSpec kAddSynapse{"add_synapse",
                                 {{"pre"},
                                  {"post"},
                                  {"init_weight", "0.5"},
                                  {"delay_ms", "None"},
                                  {"kind", "None"},
                                  {"edge_id", "None"}},
                                 "Add a synapse. `init_weight` must be in [0.0, 1.0]; the\n"
                                 "substrate rejects NaN/Inf and out-of-range values explicitly."};

PyObject* cortex_add_synapse(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    CallArgs<kAddSynapse> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_exclusive(cortex->borrow);
    if (!guard)
        return nullptr;
    IdArg pre_arg("pre");
    IdArg post_arg("post");
    SynapseInput input;
    std::optional<std::string_view> kind;
    IdArg edge_arg("edge_id");
    if (!pre_arg.read(a[0]) || !post_arg.read(a[1]) ||
        (a[2] != nullptr && !arg_float(a[2], "init_weight", input.init_weight)) ||
        !arg_optional_float(a[3], "delay_ms", input.delay_ms) ||
        !arg_optional_text(a[4], "kind", kind) || !edge_arg.read_optional(a[5]))
        return nullptr;
    // Ids are parsed only once every argument has converted, edge_id first.
    if (!edge_arg.parse(input.id) || !pre_arg.parse(input.pre) || !post_arg.parse(input.post))
        return nullptr;
    if (kind)
        input.kind = SynapseSpec{std::string(*kind), std::nullopt};
    auto added = cortex->handle.add_synapse(std::move(input));
    if (!added)
        return raise_error(added.error());
    return id_to_py(*added);
}

constexpr MethodSpec kRemoveNeuron{"remove_neuron",
                                   {{"node_id"}},
                                   "Remove a neuron and cascade to incident edges. Returns the\n"
                                   "number of edges that were cascaded; 0 if the id was unknown."};

PyObject* cortex_remove_neuron(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
    return remove_by_id<kRemoveNeuron>(self, args, nargs, kwnames,
                                       [](Cortex& c, const Uuid& id) -> PyObject* {
                                           auto removed = c.remove_neuron(id);
                                           if (!removed)
                                               return raise_error(removed.error());
                                           return PyLong_FromUnsignedLongLong(*removed);
                                       });
}

constexpr MethodSpec kRemoveSynapse{"remove_synapse", {{"edge_id"}}, ""};

PyObject* cortex_remove_synapse(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
    return remove_by_id<kRemoveSynapse>(self, args, nargs, kwnames,
                                        [](Cortex& c, const Uuid& id) -> PyObject* {
                                            auto removed = c.remove_synapse(id);
                                            if (!removed)
                                                return raise_error(removed.error());
                                            return PyBool_FromLong(*removed);
                                        });
}

constexpr MethodSpec kApplySeed{
    "apply_seed",
    {{"seed"}},
    "Bulk-apply a [`PySeed`] generated by `vorn_py.seeds.*` \u2014 the\n"
    "substrate validates once and persists `topology.json` once, so a\n"
    "1000-neuron seed isn't O(n\u00b2) writes. Returns\n"
    "`(added_nodes, added_edges)`."};

PyObject* cortex_apply_seed(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    CallArgs<kApplySeed> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    PyObject* seed_arg = a[0];
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

}  // namespace

void add_edit_methods(std::vector<PyMethodDef>& table) {
    table.push_back(method_def(kAddNeuron, guarded<cortex_add_neuron>));
    table.push_back(method_def(kAddSynapse, guarded<cortex_add_synapse>));
    table.push_back(method_def(kRemoveNeuron, guarded<cortex_remove_neuron>));
    table.push_back(method_def(kRemoveSynapse, guarded<cortex_remove_synapse>));
    table.push_back(method_def(kApplySeed, guarded<cortex_apply_seed>));
}

}  // namespace vorn::py
