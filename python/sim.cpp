#include "python/sim.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine/sim_engine.hpp"
#include "core/store/id_source.hpp"
#include "python/args.hpp"
#include "python/attrs.hpp"
#include "python/borrow.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/results.hpp"
#include "python/sim_args.hpp"
#include "python/sim_bulk.hpp"
#include "python/sim_dist.hpp"
#include "python/sim_doc.hpp"
#include "python/sim_models.hpp"
#include "python/sim_object.hpp"
#include "python/sim_state.hpp"
#include "python/tick_loop.hpp"

namespace vorn::py {
namespace {

using Kw = const char* const[];

// ---- construction -------------------------------------------------------

PyObject* sim_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static Kw kw = {nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, ":Sim", kw))
        return nullptr;
    std::optional<std::size_t> threads = default_threads();
    if (!threads)
        return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr)
        return nullptr;
    SimObject* sim = as_sim(self);
    new (&sim->engine) SimEngine();
    new (&sim->borrow) BorrowFlag();
    new (&sim->id_strings) std::vector<PyObject*>();
    sim->engine.set_threads(*threads);
    return self;
}

void sim_dealloc(PyObject* self) {
    SimObject* sim = as_sim(self);
    for (PyObject* text : sim->id_strings)
        Py_XDECREF(text);
    sim->id_strings.~vector();
    sim->borrow.~BorrowFlag();
    sim->engine.~SimEngine();
    Py_TYPE(self)->tp_free(self);
}

// ---- graph building -----------------------------------------------------

PyObject* sim_add_neuron(PyObject* self, PyObject* args, PyObject* kwargs) {
    static Kw kw = {"node_id", nullptr};
    PyObject* node_id_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:add_neuron", kw, &node_id_arg))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::optional<std::string_view> node_text;
    if (!arg_optional_text(node_id_arg, "node_id", node_text))
        return nullptr;
    Uuid id;
    if (node_text) {
        if (!parse_uuid(*node_text, "node_id", id))
            return nullptr;
    } else {
        auto fresh = mint_id(&sim->engine);
        if (!fresh)
            return raise_error(fresh.error());
        id = *fresh;
    }
    sim->engine.add_neuron(id, LifConfig{});
    return id_to_py(id);
}

PyObject* sim_add_edge(PyObject* self, PyObject* args, PyObject* kwargs) {
    static Kw kw = {"pre", "post", "weight", "edge_id", nullptr};
    PyObject* pre_arg = nullptr;
    PyObject* post_arg = nullptr;
    PyObject* weight_arg = nullptr;
    PyObject* edge_id_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|OO:add_edge", kw, &pre_arg, &post_arg,
                                     &weight_arg, &edge_id_arg))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::string_view pre_text;
    std::string_view post_text;
    float weight = 0.5f;
    std::optional<std::string_view> edge_text;
    if (!arg_text(pre_arg, "pre", pre_text) || !arg_text(post_arg, "post", post_text) ||
        (weight_arg != nullptr && !arg_float(weight_arg, "weight", weight)) ||
        !arg_optional_text(edge_id_arg, "edge_id", edge_text))
        return nullptr;
    Uuid pre;
    Uuid post;
    Uuid edge_id;
    if (!parse_uuid(pre_text, "pre", pre) || !parse_uuid(post_text, "post", post))
        return nullptr;
    if (edge_text) {
        if (!parse_uuid(*edge_text, "edge_id", edge_id))
            return nullptr;
    } else {
        auto fresh = mint_id(&sim->engine);
        if (!fresh)
            return raise_error(fresh.error());
        edge_id = *fresh;
    }
    // A NaN weight would make the post neuron's potential NaN for good.
    if (!check_finite("weight", weight))
        return nullptr;
    sim->engine.add_edge(edge_id, pre, post, StdpConfig{}, weight);
    return id_to_py(edge_id);
}

PyObject* sim_stimulate(PyObject* self, PyObject* args, PyObject* kwargs) {
    static Kw kw = {"node_id", "current", "duration_ms", nullptr};
    PyObject* node_id_arg = nullptr;
    PyObject* current_arg = nullptr;
    PyObject* duration_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO:stimulate", kw, &node_id_arg, &current_arg,
                                     &duration_arg))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::string_view node_text;
    float current = 0.0f;
    float duration_ms = 0.0f;
    Uuid id;
    if (!arg_text(node_id_arg, "node_id", node_text) ||
        !arg_float(current_arg, "current", current) ||
        !arg_float(duration_arg, "duration_ms", duration_ms) ||
        !parse_uuid(node_text, "node_id", id) || !check_finite("current", current) ||
        !check_finite("duration_ms", duration_ms))
        return nullptr;
    sim->engine.stimulate(id, current, duration_ms);
    Py_RETURN_NONE;
}

// ---- time ---------------------------------------------------------------

PyObject* sim_tick(PyObject* self, PyObject* args, PyObject* kwargs) {
    static Kw kw = {"dt_ms", nullptr};
    PyObject* dt_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:tick", kw, &dt_arg))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    float dt_ms = 0.0f;
    if (!arg_float(dt_arg, "dt_ms", dt_ms))
        return nullptr;
    SpikeListBuilder builder(sim->id_strings);
    try {
        sim->engine.step(dt_ms);
        builder.add(sim->engine.last_spikes(), sim->engine.t_ms());
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    return builder.finish(sim->engine);
}

PyObject* sim_run(PyObject* self, PyObject* args, PyObject* kwargs) {
    static Kw kw = {"dt_ms", "n_steps", nullptr};
    PyObject* dt_arg = nullptr;
    PyObject* steps_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:run", kw, &dt_arg, &steps_arg))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    float dt_ms = 0.0f;
    std::uint64_t n_steps = 0;
    if (!arg_float(dt_arg, "dt_ms", dt_ms) || !arg_u64(steps_arg, "n_steps", n_steps))
        return nullptr;
    // The ticks run without the interpreter lock; the builder keeps a
    // compact record of each tick and makes the tuples at the end.
    SpikeListBuilder builder(sim->id_strings);
    SimEngine& engine = sim->engine;
    std::uint64_t done = 0;
    if (!run_ticks(
            engine, dt_ms, n_steps, [&] { builder.add(engine.last_spikes(), engine.t_ms()); },
            nullptr, done))
        return nullptr;
    return builder.finish(engine);
}

// ---- reading ------------------------------------------------------------

// Runs read(engine) with the Sim taken shared; the body of every method and
// property that only reads the engine and takes no arguments.
template <typename Read>
PyObject* read_shared(PyObject* self, Read read) {
    SimObject* sim = as_sim(self);
    auto guard = borrow_shared(sim->borrow);
    if (!guard)
        return nullptr;
    return read(sim->engine);
}

PyObject* sim_weight_snapshot(PyObject* self, PyObject*) {
    SimObject* sim = as_sim(self);
    auto guard = borrow_shared(sim->borrow);
    if (!guard)
        return nullptr;
    const std::size_t n = sim->engine.n_synapses();
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(n));
    if (list == nullptr)
        return nullptr;
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* id = id_to_py(sim->engine.synapse_id(i));
        PyObject* weight =
            id == nullptr ? nullptr : PyFloat_FromDouble(sim->engine.synapse_weight(i));
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

PyObject* sim_list_nodes(PyObject* self, PyObject*) {
    return read_shared(self,
                       [](const SimEngine& engine) { return ids_to_list(engine.node_ids()); });
}

PyObject* sim_list_synapses(PyObject* self, PyObject*) {
    SimObject* sim = as_sim(self);
    auto guard = borrow_shared(sim->borrow);
    if (!guard)
        return nullptr;
    std::vector<Uuid> ids;
    ids.reserve(sim->engine.n_synapses());
    for (std::size_t i = 0; i < sim->engine.n_synapses(); ++i)
        ids.push_back(sim->engine.synapse_id(i));
    return ids_to_list(ids);
}

// Shared body of get_node_params / get_synapse_params: `what` names the kind
// of object in the "{what} {id} not in sim" message.
template <typename Lookup, typename Elsewhere>
PyObject* get_params(PyObject* self, PyObject* args, PyObject* kwargs, const char* format,
                     const char* arg_name, const char* what, Lookup lookup, Elsewhere elsewhere) {
    const char* const kw[] = {arg_name, nullptr};
    PyObject* id_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, kw, &id_arg))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_shared(sim->borrow);
    if (!guard)
        return nullptr;
    std::string_view text;
    Uuid id;
    if (!arg_text(id_arg, arg_name, text) || !parse_uuid(text, arg_name, id))
        return nullptr;
    if (std::optional<std::string> why = elsewhere(sim->engine, id))
        return raise_value_error(*why);
    std::optional<JsonValue> params = lookup(sim->engine, id);
    if (!params)
        return raise_value_error(std::string(what) + " " + std::string(text) + " not in sim");
    return json_to_py(*params);
}

PyObject* sim_get_node_params(PyObject* self, PyObject* args, PyObject* kwargs) {
    return get_params(
        self, args, kwargs, "O:get_node_params", "node_id", "node",
        [](const SimEngine& e, const Uuid& id) { return e.node_params(id); }, held_elsewhere_node);
}

PyObject* sim_get_synapse_params(PyObject* self, PyObject* args, PyObject* kwargs) {
    return get_params(
        self, args, kwargs, "O:get_synapse_params", "edge_id", "synapse",
        [](const SimEngine& e, const Uuid& id) { return e.synapse_params(id); },
        held_elsewhere_synapse);
}

PyObject* sim_all_node_params(PyObject* self, PyObject*) {
    return read_shared(
        self, [](const SimEngine& engine) { return params_to_dict(engine.all_node_params()); });
}

PyObject* sim_all_synapse_params(PyObject* self, PyObject*) {
    return read_shared(
        self, [](const SimEngine& engine) { return params_to_dict(engine.all_synapse_params()); });
}

// ---- parameter writes ---------------------------------------------------

// Shared body of set_node_param / set_synapse_param.
template <typename Write>
PyObject* set_param(PyObject* self, PyObject* args, PyObject* kwargs, const char* format,
                    const char* arg_name, Write write) {
    const char* const kw[] = {arg_name, "key", "value", nullptr};
    PyObject* id_arg = nullptr;
    PyObject* key_arg = nullptr;
    PyObject* value_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, kw, &id_arg, &key_arg, &value_arg))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::string_view id_text;
    std::string_view key;
    Uuid id;
    JsonValue value;
    if (!arg_text(id_arg, arg_name, id_text) || !arg_text(key_arg, "key", key) ||
        !parse_uuid(id_text, arg_name, id) || !py_to_json(value_arg, value))
        return nullptr;
    std::expected<JsonValue, ParamError> result = write(sim->engine, id, key, value);
    if (!result)
        return raise_error(result.error());
    return json_to_py(*result);
}

PyObject* sim_set_node_param(PyObject* self, PyObject* args, PyObject* kwargs) {
    return set_param(self, args, kwargs, "OOO:set_node_param", "node_id",
                     [](SimEngine& e, const Uuid& id, std::string_view key, const JsonValue& v) {
                         return e.set_node_param(id, key, v);
                     });
}

PyObject* sim_set_synapse_param(PyObject* self, PyObject* args, PyObject* kwargs) {
    return set_param(self, args, kwargs, "OOO:set_synapse_param", "edge_id",
                     [](SimEngine& e, const Uuid& id, std::string_view key, const JsonValue& v) {
                         return e.set_synapse_param(id, key, v);
                     });
}

// ---- properties and representation --------------------------------------

PyObject* sim_get_t_ms(PyObject* self, void*) {
    return read_shared(self,
                       [](const SimEngine& engine) { return PyFloat_FromDouble(engine.t_ms()); });
}

PyObject* sim_get_n_neurons(PyObject* self, void*) {
    return read_shared(
        self, [](const SimEngine& engine) { return PyLong_FromSize_t(engine.n_neurons()); });
}

PyObject* sim_get_n_synapses(PyObject* self, void*) {
    return read_shared(
        self, [](const SimEngine& engine) { return PyLong_FromSize_t(engine.n_synapses()); });
}

PyObject* sim_repr(PyObject* self) {
    SimObject* sim = as_sim(self);
    auto guard = borrow_shared(sim->borrow);
    if (!guard)
        return nullptr;
    // %.3f rounds the double's exact value; 512 bytes hold the largest double.
    char t_text[512];
    std::snprintf(t_text, sizeof t_text, "%.3f", sim->engine.t_ms());
    return PyUnicode_FromFormat("Sim(t_ms=%s, n_neurons=%zu, n_synapses=%zu)", t_text,
                                sim->engine.n_neurons(), sim->engine.n_synapses());
}

// ---- type object --------------------------------------------------------

// The documented methods first, then the others; built once at registration.
std::vector<PyMethodDef> sim_methods() {
    std::vector<PyMethodDef> t = {
        {"add_neuron", as_cfunction(guarded<sim_add_neuron>), METH_VARARGS | METH_KEYWORDS,
         kAddNeuronDoc},
        {"add_edge", as_cfunction(guarded<sim_add_edge>), METH_VARARGS | METH_KEYWORDS,
         kAddEdgeDoc},
        {"stimulate", as_cfunction(guarded<sim_stimulate>), METH_VARARGS | METH_KEYWORDS,
         kStimulateDoc},
        {"tick", as_cfunction(guarded<sim_tick>), METH_VARARGS | METH_KEYWORDS, kTickDoc},
        {"run", as_cfunction(guarded<sim_run>), METH_VARARGS | METH_KEYWORDS, kRunDoc},
        {"weight_snapshot", as_cfunction(guarded<sim_weight_snapshot>), METH_NOARGS,
         kWeightSnapshotDoc},
        {"list_nodes", as_cfunction(guarded<sim_list_nodes>), METH_NOARGS,
         "list_nodes($self)\n--\n\n"},
        {"list_synapses", as_cfunction(guarded<sim_list_synapses>), METH_NOARGS,
         "list_synapses($self)\n--\n\n"},
        {"get_node_params", as_cfunction(guarded<sim_get_node_params>),
         METH_VARARGS | METH_KEYWORDS, "get_node_params($self, node_id)\n--\n\n"},
        {"get_synapse_params", as_cfunction(guarded<sim_get_synapse_params>),
         METH_VARARGS | METH_KEYWORDS, "get_synapse_params($self, edge_id)\n--\n\n"},
        {"all_node_params", as_cfunction(guarded<sim_all_node_params>), METH_NOARGS,
         "all_node_params($self)\n--\n\n"},
        {"all_synapse_params", as_cfunction(guarded<sim_all_synapse_params>), METH_NOARGS,
         "all_synapse_params($self)\n--\n\n"},
        {"set_node_param", as_cfunction(guarded<sim_set_node_param>), METH_VARARGS | METH_KEYWORDS,
         "set_node_param($self, node_id, key, value)\n--\n\n"},
        {"set_synapse_param", as_cfunction(guarded<sim_set_synapse_param>),
         METH_VARARGS | METH_KEYWORDS, "set_synapse_param($self, edge_id, key, value)\n--\n\n"},
        {"add_model_neuron", as_cfunction(guarded<sim_add_model_neuron>),
         METH_VARARGS | METH_KEYWORDS, kAddModelNeuronDoc},
        {"add_plastic_edge", as_cfunction(guarded<sim_add_plastic_edge>),
         METH_VARARGS | METH_KEYWORDS, kAddPlasticEdgeDoc},
        {"set_modulator_base", as_cfunction(guarded<sim_set_modulator_base>),
         METH_VARARGS | METH_KEYWORDS, kSetModulatorBaseDoc},
        {"add_modulator_pulse", as_cfunction(guarded<sim_add_modulator_pulse>),
         METH_VARARGS | METH_KEYWORDS, kAddModulatorPulseDoc},
        {"modulator_levels", as_cfunction(guarded<sim_modulator_levels>), METH_NOARGS,
         kModulatorLevelsDoc},
    };
    add_bulk_methods(t);
    add_state_methods(t);
    add_dist_methods(t);
    t.push_back({nullptr, nullptr, 0, nullptr});
    return t;
}

PyGetSetDef kSimGetSet[] = {
    {"t_ms", guarded<sim_get_t_ms>, nullptr, "Current simulated time, in ms.", nullptr},
    {"n_neurons", guarded<sim_get_n_neurons>, nullptr, nullptr, nullptr},
    {"n_synapses", guarded<sim_get_n_synapses>, nullptr, nullptr, nullptr},
    {"threads", guarded<sim_get_threads>, guarded<sim_set_threads>,
     "Threads that share each tick; settable. Starts at VORN_THREADS when set,\n"
     "else the number of cores available to the process. Results are the same\n"
     "bits for any count.",
     nullptr},
    {"rank", guarded<sim_get_rank>, nullptr,
     "This process's rank in a distributed run (0 when alone).", nullptr},
    {"ranks", guarded<sim_get_ranks>, nullptr,
     "The number of processes of a distributed run (1 when alone).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// clang-format off
PyTypeObject kSimType = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "vorn_py.Sim",
    .tp_basicsize = sizeof(SimObject),
    .tp_itemsize = 0,
    .tp_dealloc = sim_dealloc,
    .tp_repr = guarded<sim_repr>,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = kSimDoc,
    .tp_methods = nullptr,
    .tp_getset = kSimGetSet,
    .tp_new = guarded<sim_new>,
};
// clang-format on

}  // namespace

PyTypeObject* sim_type() {
    return &kSimType;
}

PyObject* new_sim(PyTypeObject* type, SimEngine engine) {
    PyObject* empty = PyTuple_New(0);
    if (empty == nullptr)
        return nullptr;
    PyObject* self = sim_new(type, empty, nullptr);
    Py_DECREF(empty);
    if (self == nullptr)
        return nullptr;
    SimObject* sim = as_sim(self);
    const std::size_t threads = sim->engine.threads();
    sim->engine = std::move(engine);
    sim->engine.set_threads(threads);
    return self;
}

int register_sim(PyObject* module) {
    static std::vector<PyMethodDef> methods = sim_methods();
    kSimType.tp_methods = methods.data();
    if (PyType_Ready(&kSimType) < 0)
        return -1;
    return add_attribute(module, "Sim", reinterpret_cast<PyObject*>(&kSimType));
}

}  // namespace vorn::py
