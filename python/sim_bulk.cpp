// Sim methods for experiments at scale: neurons and edges from arrays,
// static synapses, noise inputs, weights and delays as numpy arrays,
// monitors, long runs without the interpreter lock, and the thread count.
#include "python/sim_bulk.hpp"

#include <sched.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/engine/synapse_config_json.hpp"
#include "core/models/neuron_config_json.hpp"
#include "python/arg_spec.hpp"
#include "python/args.hpp"
#include "python/arrays.hpp"
#include "python/errors.hpp"
#include "python/monitors.hpp"
#include "python/results.hpp"
#include "python/sim_args.hpp"
#include "python/sim_object.hpp"
#include "python/tick_loop.hpp"

namespace vorn::py {
namespace {

PyObject* raise_engine_error(const EngineError& e) {
    if (e.kind() == EngineError::Kind::RandomSource)
        return raise_random_source_error(e.message());
    return raise_value_error(e.message());
}

// The SynapseConfig of a kind name and config dict (or None).
std::optional<SynapseConfig> config_of(std::string_view kind_text, PyObject* config_arg) {
    auto kind = synapse_kind_from_name(kind_text);
    if (!kind) {
        raise_value_error("unknown synapse kind '" + std::string(kind_text) +
                          "'; expected 'stdp', 'plastic-synapse' or 'static'");
        return std::nullopt;
    }
    PyObject* dict = nullptr;
    if (!arg_config_dict(config_arg, "config", true, dict))
        return std::nullopt;
    JsonObject fields;
    if (dict != nullptr && !config_to_json(dict, fields))
        return std::nullopt;
    auto config = synapse_config_from_json(*kind, dict == nullptr ? nullptr : &fields);
    if (!config) {
        raise_error(config.error());
        return std::nullopt;
    }
    return *config;
}

// A delay_ms argument: finite and >= 0 after narrowing.
bool arg_delay(PyObject* obj, float& out) {
    out = 1.0f;
    if (obj == nullptr)
        return true;
    if (!arg_float(obj, "delay_ms", out))
        return false;
    if (!check_finite("delay_ms", out))
        return false;
    if (out < 0.0f) {
        raise_value_error(EngineError::negative("delay_ms", out).message());
        return false;
    }
    out = out + 0.0f;  // -0 is stored as 0
    return true;
}

// ---- building -------------------------------------------------------------

constexpr MethodSpec kAddNeurons{
    "add_neurons",
    {{"count"}, {"kind", "\"lif\""}, {"config", "None"}},
    "Add `count` neurons of model `kind` (\"lif\", \"hh\", \"izhikevich\" or\n"
    "\"adex\") with fresh ids, all with the same `config` under the rules of\n"
    "`add_model_neuron`. Returns their ids in creation order; their positions\n"
    "in `list_nodes()` follow on from the neurons already there."};

PyObject* sim_add_neurons(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
    CallArgs<kAddNeurons> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::uint64_t count = 0;
    std::string_view kind_text = "lif";
    PyObject* config_dict = nullptr;
    if (!arg_u64(a[0], "count", count) || (a[1] != nullptr && !arg_text(a[1], "kind", kind_text)) ||
        !arg_config_dict(a[2], "config", true, config_dict))
        return nullptr;
    std::optional<NeuronKind> kind = neuron_kind_from_name(kind_text);
    if (!kind) {
        return raise_value_error("unknown neuron kind '" + std::string(kind_text) +
                                 "'; expected 'lif', 'hh', 'izhikevich' or 'adex'");
    }
    JsonObject fields;
    if (!config_to_json(config_dict, fields))
        return nullptr;
    auto config = neuron_config_from_json(*kind, fields);
    if (!config)
        return raise_error(config.error());
    // Neuron indices are 32-bit.
    if (count > 0xfffffff0u - sim->engine.n_neurons())
        return raise_value_error("count " + std::to_string(count) + " is too large");
    auto ids = sim->engine.add_neurons(static_cast<std::size_t>(count), *config);
    if (!ids)
        return raise_engine_error(ids.error());
    return ids_to_list(*ids);
}

constexpr MethodSpec kAddEdges{
    "add_edges",
    {{"pre"},
     {"post"},
     {"weight", "0.5"},
     {"kind", "\"stdp\"", true},
     {"config", "None", true},
     {"delay_ms", "1.0", true}},
    "Add one synapse per position of the equal-length integer arrays `pre`\n"
    "and `post`, whose values are neuron positions in `list_nodes()`. `weight`\n"
    "and `delay_ms` are one number for all or one per edge. `kind` is \"stdp\"\n"
    "(`config`: optional dict of STDP parameters over the defaults),\n"
    "\"plastic-synapse\" (`config` as in `add_plastic_edge`) or \"static\"\n"
    "(`config`: optional {\"g_syn\": ...}). Edge ids are minted in\n"
    "`list_synapses()` order. All or nothing: a bad length, index, weight\n"
    "outside the kind's range or delay raises ValueError naming the first bad\n"
    "position, and adds nothing. Self-edges and repeated pairs are skipped as\n"
    "`add_edge` skips them. Returns the number of synapses added."};

PyObject* sim_add_edges(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
    CallArgs<kAddEdges> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    IndexArray pre;
    IndexArray post;
    FloatArray weight;
    std::string_view kind_text = "stdp";
    FloatArray delay;
    static PyObject* const kHalf = PyFloat_FromDouble(0.5);
    static PyObject* const kOne = PyFloat_FromDouble(1.0);
    if (!pre.load(a[0], "pre") || !post.load(a[1], "post") ||
        !weight.load(a[2] != nullptr ? a[2] : kHalf, "weight", true) ||
        (a[3] != nullptr && !arg_text(a[3], "kind", kind_text)))
        return nullptr;
    std::optional<SynapseConfig> config = config_of(kind_text, a[4]);
    if (!config || !delay.load(a[5] != nullptr ? a[5] : kOne, "delay_ms", true))
        return nullptr;
    EdgeBatch batch{pre.values(),    post.values(),  weight.values(),   delay.values(),
                    weight.scalar(), delay.scalar(), std::move(*config)};
    auto made = sim->engine.add_edges(batch);
    if (!made)
        return raise_engine_error(made.error());
    return PyLong_FromSize_t(*made);
}

constexpr MethodSpec kAddStaticEdge{
    "add_static_edge",
    {{"pre"}, {"post"}, {"weight"}, {"edge_id", "None"}, {"delay_ms", "1.0", true}},
    "Add a static synapse from `pre` to `post`: a fixed `weight` that never\n"
    "learns (any finite value, negative for inhibition) with gain g_syn 1.0.\n"
    "It delivers `weight * g_syn` `delay_ms` after each spike of `pre`.\n"
    "Endpoints, self-edges, repeated pairs and the returned id behave as in\n"
    "`add_edge`."};

PyObject* sim_add_static_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    CallArgs<kAddStaticEdge> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    IdArg pre_arg("pre");
    IdArg post_arg("post");
    float weight = 0.0f;
    IdArg edge_arg("edge_id");
    float delay = 1.0f;
    if (!pre_arg.read(a[0]) || !post_arg.read(a[1]) || !arg_float(a[2], "weight", weight) ||
        !edge_arg.read_optional(a[3]) || !arg_delay(a[4], delay))
        return nullptr;
    Uuid pre;
    Uuid post;
    Uuid edge_id;
    if (!pre_arg.parse(pre) || !post_arg.parse(post) || !check_finite("weight", weight) ||
        !id_or_fresh(sim->engine, edge_arg, edge_id))
        return nullptr;
    sim->engine.add_edge(edge_id, pre, post, StaticConfig{}, weight, delay);
    return id_to_py(edge_id);
}

constexpr MethodSpec kAddPoissonInput{
    "add_poisson_input",
    {{"nodes"}, {"rate_hz"}, {"weight"}, {"seed", "0"}},
    "Add Poisson background noise to `nodes` (a list of ids or an index\n"
    "array). In each tick of dt ms every target gets `weight * k` added to\n"
    "its stimulation current, k drawn from Poisson(rate_hz * dt / 1000) by a\n"
    "counter-based generator keyed by (seed, input, neuron, tick): the draws\n"
    "do not depend on call order or threads, and survive a checkpoint.\n"
    "`rate_hz` must be finite and >= 0, `weight` finite."};

PyObject* sim_add_poisson_input(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
    CallArgs<kAddPoissonInput> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::vector<std::int64_t> nodes;
    double rate = 0.0;
    float weight = 0.0f;
    std::uint64_t seed = 0;
    if (!arg_nodes(a[0], "nodes", sim->engine, nodes, nullptr) ||
        !arg_double(a[1], "rate_hz", rate) || !arg_float(a[2], "weight", weight) ||
        (a[3] != nullptr && !arg_u64(a[3], "seed", seed)))
        return nullptr;
    auto ok = sim->engine.add_poisson_input(nodes, rate, weight, seed);
    if (!ok)
        return raise_engine_error(ok.error());
    Py_RETURN_NONE;
}

// ---- weights and delays ------------------------------------------------

PyObject* float32_array(const std::vector<float>& values) {
    return new_array("float32", values.size(), 0, values.data(), sizeof(float));
}

constexpr MethodSpec kWeights{"weights",
                              {},
                              "Every synapse's weight as a numpy float32 array, in\n"
                              "`list_synapses()` order."};

PyObject* sim_weights(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (!bind_args(kWeights, args, nargs, kwnames, nullptr))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_shared(sim->borrow);
    if (!guard)
        return nullptr;
    return float32_array(sim->engine.weights());
}

constexpr MethodSpec kSetWeights{
    "set_weights",
    {{"weights"}},
    "Set every synapse's weight from an array in `list_synapses()` order and\n"
    "of that length. Each value must lie within its synapse's range (static\n"
    "synapses: any finite value). All or nothing: the first bad value raises\n"
    "ValueError and nothing changes."};

// The values of a float array argument narrowed to f32.
bool arg_float32s(PyObject* obj, const char* name, std::vector<float>& out) {
    FloatArray in;
    if (!in.load(obj, name, false))
        return false;
    out.resize(in.values().size());
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<float>(in.values()[i]);
    return true;
}

PyObject* sim_set_weights(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
    CallArgs<kSetWeights> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::vector<float> values;
    if (!arg_float32s(a[0], "weights", values))
        return nullptr;
    auto ok = sim->engine.set_weights(values);
    if (!ok)
        return raise_engine_error(ok.error());
    Py_RETURN_NONE;
}

constexpr MethodSpec kDelays{"delays",
                             {},
                             "Every synapse's delay in ms as a numpy float32 array, in\n"
                             "`list_synapses()` order."};

PyObject* sim_delays(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (!bind_args(kDelays, args, nargs, kwnames, nullptr))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_shared(sim->borrow);
    if (!guard)
        return nullptr;
    return float32_array(sim->engine.delays());
}

constexpr MethodSpec kSetDelays{
    "set_delays",
    {{"delays"}},
    "Set every synapse's delay in ms from an array in `list_synapses()` order\n"
    "and of that length; each finite and >= 0. A spike fired in a tick of dt\n"
    "reaches its targets max(1, round(delay / dt)) ticks later. All or\n"
    "nothing: the first bad value raises ValueError and nothing changes."};

PyObject* sim_set_delays(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    CallArgs<kSetDelays> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::vector<float> values;
    if (!arg_float32s(a[0], "delays", values))
        return nullptr;
    auto ok = sim->engine.set_delays(values);
    if (!ok)
        return raise_engine_error(ok.error());
    Py_RETURN_NONE;
}

// ---- monitors ---------------------------------------------------------------

constexpr MethodSpec kSpikeMonitor{"spike_monitor",
                                   {},
                                   "A SpikeMonitor recording every spike from now on, in the\n"
                                   "ticks of `tick`, `run` and `advance`."};

PyObject* sim_spike_monitor(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    if (!bind_args(kSpikeMonitor, args, nargs, kwnames, nullptr))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    return new_spike_monitor(sim->engine.add_spike_monitor());
}

constexpr MethodSpec kStateMonitor{
    "state_monitor",
    {{"nodes"}, {"key"}, {"every", "1"}},
    "A StateMonitor sampling the numeric parameter `key` (for example \"v\")\n"
    "of `nodes` (a list of ids or an index array) after every `every`-th tick\n"
    "from now on. `key` must be a number of every one of those neurons'\n"
    "`get_node_params`, else ValueError naming the key and the neuron."};

PyObject* sim_state_monitor(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    CallArgs<kStateMonitor> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::vector<std::int64_t> nodes;
    PyObject* ids = nullptr;
    std::string_view key;
    std::uint64_t every = 1;
    if (!arg_nodes(a[0], "nodes", sim->engine, nodes, &ids))
        return nullptr;
    if (!arg_text(a[1], "key", key) || (a[2] != nullptr && !arg_u64(a[2], "every", every))) {
        Py_DECREF(ids);
        return nullptr;
    }
    auto record = sim->engine.add_state_monitor(nodes, key, every);
    if (!record) {
        Py_DECREF(ids);
        return raise_engine_error(record.error());
    }
    PyObject* monitor = new_state_monitor(*record, ids);
    Py_DECREF(ids);
    return monitor;
}

// ---- long runs ----------------------------------------------------------------

constexpr MethodSpec kAdvance{
    "advance",
    {{"dt_ms"}, {"n_steps"}, {"progress", "False", true}},
    "Run `n_steps` ticks of `dt_ms` like `run`, but return only the number of\n"
    "spikes: monitors record, and no Python object is made per spike. The\n"
    "ticks run without the interpreter lock; Ctrl-C raises KeyboardInterrupt\n"
    "within a fraction of a second, keeping the ticks done (see `t_ms`).\n"
    "`progress=True` draws a bar on stderr (tqdm's when installed);\n"
    "`progress=callable` is called as `callable(done, total)` about every\n"
    "0.1 s and at the end, and an exception it raises stops the run."};

PyObject* sim_advance(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    CallArgs<kAdvance> a;
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
    Progress progress;
    if (!progress.init(a[2], n_steps, dt_ms))
        return nullptr;
    SimEngine& engine = sim->engine;
    std::uint64_t spikes = 0;
    std::uint64_t done = 0;
    const bool ok = run_ticks(
        engine, dt_ms, n_steps, [&] { spikes += engine.last_spikes().size(); }, &progress, done);
    progress.close();
    if (!ok)
        return nullptr;
    return PyLong_FromUnsignedLongLong(spikes);
}

}  // namespace

void add_bulk_methods(std::vector<PyMethodDef>& table) {
    table.push_back(method_def(kAddNeurons, guarded<sim_add_neurons>));
    table.push_back(method_def(kAddEdges, guarded<sim_add_edges>));
    table.push_back(method_def(kAddStaticEdge, guarded<sim_add_static_edge>));
    table.push_back(method_def(kAddPoissonInput, guarded<sim_add_poisson_input>));
    table.push_back(method_def(kWeights, guarded<sim_weights>));
    table.push_back(method_def(kSetWeights, guarded<sim_set_weights>));
    table.push_back(method_def(kDelays, guarded<sim_delays>));
    table.push_back(method_def(kSetDelays, guarded<sim_set_delays>));
    table.push_back(method_def(kSpikeMonitor, guarded<sim_spike_monitor>));
    table.push_back(method_def(kStateMonitor, guarded<sim_state_monitor>));
    table.push_back(method_def(kAdvance, guarded<sim_advance>));
}

PyObject* sim_get_threads(PyObject* self, void*) {
    SimObject* sim = as_sim(self);
    auto guard = borrow_shared(sim->borrow);
    if (!guard)
        return nullptr;
    return PyLong_FromSize_t(sim->engine.threads());
}

int sim_set_threads(PyObject* self, PyObject* value, void*) {
    if (value == nullptr) {
        PyErr_SetString(PyExc_AttributeError, "cannot delete threads");
        return -1;
    }
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return -1;
    std::uint64_t n = 0;
    if (!arg_u64(value, "threads", n))
        return -1;
    if (n < 1 || n > 1024) {
        raise_value_error("threads must be in [1, 1024], got " + std::to_string(n));
        return -1;
    }
    sim->engine.set_threads(static_cast<std::size_t>(n));
    return 0;
}

std::optional<std::size_t> default_threads() {
    if (const char* env = std::getenv("VORN_THREADS"); env != nullptr) {
        char* end = nullptr;
        const unsigned long long n = std::strtoull(env, &end, 10);
        if (end == env || *end != '\0' || n < 1 || n > 1024) {
            raise_value_error("VORN_THREADS must be a whole number in [1, 1024], got '" +
                              std::string(env) + "'");
            return std::nullopt;
        }
        return static_cast<std::size_t>(n);
    }
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return static_cast<std::size_t>(std::max(1, CPU_COUNT(&set)));
    return 1;
}

}  // namespace vorn::py
