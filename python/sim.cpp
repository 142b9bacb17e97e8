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
#include "python/arg_spec.hpp"
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

// ---- construction -------------------------------------------------------

PyObject* sim_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    // No parameters; new_sim passes an empty tuple.
    static const char* const kw[] = {nullptr};
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

constexpr MethodSpec kAddNeuron{
    "add_neuron",
    {{"node_id", "None"}},
    "Add a neuron. If `node_id` is None, a fresh UUIDv4 is minted and\n"
    "returned. If provided, it must be a valid UUID string; the id is\n"
    "returned unchanged. Idempotent \u2014 adding an id twice is a no-op."};

PyObject* sim_add_neuron(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    CallArgs<kAddNeuron> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    IdArg node_arg("node_id");
    Uuid id;
    if (!node_arg.read_optional(a[0]) || !id_or_fresh(sim->engine, node_arg, id))
        return nullptr;
    sim->engine.add_neuron(id, LifConfig{});
    return id_to_py(id);
}

constexpr MethodSpec kAddEdge{"add_edge",
                              {{"pre"}, {"post"}, {"weight", "0.5"}, {"edge_id", "None"}},
                              "Add an STDP synapse from `pre` to `post`. `edge_id` is optional;\n"
                              "if omitted, a fresh UUIDv4 is minted and returned. Weight is\n"
                              "clamped to [0, 1] by the substrate. Self-edges (pre == post)\n"
                              "are silently dropped."};

PyObject* sim_add_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    CallArgs<kAddEdge> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    IdArg pre_arg("pre");
    IdArg post_arg("post");
    float weight = 0.5f;
    IdArg edge_arg("edge_id");
    if (!pre_arg.read(a[0]) || !post_arg.read(a[1]) ||
        (a[2] != nullptr && !arg_float(a[2], "weight", weight)) || !edge_arg.read_optional(a[3]))
        return nullptr;
    Uuid pre;
    Uuid post;
    Uuid edge_id;
    if (!pre_arg.parse(pre) || !post_arg.parse(post) ||
        !id_or_fresh(sim->engine, edge_arg, edge_id))
        return nullptr;
    // A NaN weight would make the post neuron's potential NaN for good.
    if (!check_finite("weight", weight))
        return nullptr;
    sim->engine.add_edge(edge_id, pre, post, StdpConfig{}, weight);
    return id_to_py(edge_id);
}

constexpr MethodSpec kStimulate{"stimulate",
                                {{"node_id"}, {"current"}, {"duration_ms"}},
                                "Inject an external stimulation current into `node_id`, lasting\n"
                                "`duration_ms`. Replaces any in-flight stimulation on the same\n"
                                "node (last-write-wins, matching the substrate's behavior)."};

PyObject* sim_stimulate(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
    CallArgs<kStimulate> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    IdArg node_arg("node_id");
    float current = 0.0f;
    float duration_ms = 0.0f;
    Uuid id;
    if (!node_arg.read(a[0]) || !arg_float(a[1], "current", current) ||
        !arg_float(a[2], "duration_ms", duration_ms) || !node_arg.parse(id) ||
        !check_finite("current", current) || !check_finite("duration_ms", duration_ms))
        return nullptr;
    sim->engine.stimulate(id, current, duration_ms);
    Py_RETURN_NONE;
}

// ---- time ---------------------------------------------------------------

constexpr MethodSpec kTick{"tick",
                           {{"dt_ms"}},
                           "Advance the simulator by `dt_ms` and return the list of spikes\n"
                           "emitted on this tick as `(node_id_str, t_ms)` tuples. Empty\n"
                           "list when nothing fires."};

PyObject* sim_tick(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    CallArgs<kTick> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    float dt_ms = 0.0f;
    if (!arg_float(a[0], "dt_ms", dt_ms))
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

constexpr MethodSpec kRun{"run",
                          {{"dt_ms"}, {"n_steps"}},
                          "Run `n_steps` ticks of `dt_ms` each. Returns every spike that\n"
                          "fired during the run as `(node_id_str, t_ms)`.\n"
                          "Cheaper than calling `tick` in a Python loop for long simulations:\n"
                          "the whole run stays in native code."};

PyObject* sim_run(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    CallArgs<kRun> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    float dt_ms = 0.0f;
    std::uint64_t n_steps = 0;
    if (!arg_float(a[0], "dt_ms", dt_ms) || !arg_u64(a[1], "n_steps", n_steps))
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

constexpr MethodSpec kGetNodeParams{"get_node_params", {{"node_id"}}, ""};
constexpr MethodSpec kGetSynapseParams{"get_synapse_params", {{"edge_id"}}, ""};

// Shared body of get_node_params / get_synapse_params, whose one parameter
// is the id: `what` names the kind of object in the "{what} {id} not in sim"
// message.
template <const MethodSpec& Spec, typename Lookup, typename Elsewhere>
PyObject* get_params(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     const char* what, Lookup lookup, Elsewhere elsewhere) {
    CallArgs<Spec> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_shared(sim->borrow);
    if (!guard)
        return nullptr;
    IdArg id_arg(a.name(0));
    Uuid id;
    if (!id_arg.read(a[0]) || !id_arg.parse(id))
        return nullptr;
    if (std::optional<std::string> why = elsewhere(sim->engine, id))
        return raise_value_error(*why);
    std::optional<JsonValue> params = lookup(sim->engine, id);
    if (!params)
        return raise_value_error(std::string(what) + " " + std::string(id_arg.text()) +
                                 " not in sim");
    return json_to_py(*params);
}

PyObject* sim_get_node_params(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    return get_params<kGetNodeParams>(
        self, args, nargs, kwnames, "node",
        [](const SimEngine& e, const Uuid& id) { return e.node_params(id); }, held_elsewhere_node);
}

PyObject* sim_get_synapse_params(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    return get_params<kGetSynapseParams>(
        self, args, nargs, kwnames, "synapse",
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

constexpr MethodSpec kSetNodeParam{"set_node_param", {{"node_id"}, {"key"}, {"value"}}, ""};
constexpr MethodSpec kSetSynapseParam{"set_synapse_param", {{"edge_id"}, {"key"}, {"value"}}, ""};

// Shared body of set_node_param / set_synapse_param, whose parameters are
// (id, key, value).
template <const MethodSpec& Spec, typename Write>
PyObject* set_param(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    Write write) {
    CallArgs<Spec> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    IdArg id_arg(a.name(0));
    std::string_view key;
    Uuid id;
    JsonValue value;
    if (!id_arg.read(a[0]) || !arg_text(a[1], "key", key) || !id_arg.parse(id) ||
        !py_to_json(a[2], value))
        return nullptr;
    std::expected<JsonValue, ParamError> result = write(sim->engine, id, key, value);
    if (!result)
        return raise_error(result.error());
    return json_to_py(*result);
}

PyObject* sim_set_node_param(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    return set_param<kSetNodeParam>(
        self, args, nargs, kwnames,
        [](SimEngine& e, const Uuid& id, std::string_view key, const JsonValue& v) {
            return e.set_node_param(id, key, v);
        });
}

PyObject* sim_set_synapse_param(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
    return set_param<kSetSynapseParam>(
        self, args, nargs, kwnames,
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
        method_def(kAddNeuron, guarded<sim_add_neuron>),
        method_def(kAddEdge, guarded<sim_add_edge>),
        method_def(kStimulate, guarded<sim_stimulate>),
        method_def(kTick, guarded<sim_tick>),
        method_def(kRun, guarded<sim_run>),
        {"weight_snapshot", as_cfunction(guarded<sim_weight_snapshot>), METH_NOARGS,
         kWeightSnapshotDoc},
        {"list_nodes", as_cfunction(guarded<sim_list_nodes>), METH_NOARGS,
         "list_nodes($self)\n--\n\n"},
        {"list_synapses", as_cfunction(guarded<sim_list_synapses>), METH_NOARGS,
         "list_synapses($self)\n--\n\n"},
        method_def(kGetNodeParams, guarded<sim_get_node_params>),
        method_def(kGetSynapseParams, guarded<sim_get_synapse_params>),
        {"all_node_params", as_cfunction(guarded<sim_all_node_params>), METH_NOARGS,
         "all_node_params($self)\n--\n\n"},
        {"all_synapse_params", as_cfunction(guarded<sim_all_synapse_params>), METH_NOARGS,
         "all_synapse_params($self)\n--\n\n"},
        method_def(kSetNodeParam, guarded<sim_set_node_param>),
        method_def(kSetSynapseParam, guarded<sim_set_synapse_param>),
    };
    add_model_methods(t);
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
