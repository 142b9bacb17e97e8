#include "python/sim_models.hpp"

#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "core/engine/engine_error.hpp"
#include "core/engine/plastic_config_json.hpp"
#include "core/models/neuron_config_json.hpp"
#include "python/arg_spec.hpp"
#include "python/args.hpp"
#include "python/attrs.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/results.hpp"
#include "python/sim_args.hpp"
#include "python/sim_object.hpp"

namespace vorn::py {
namespace {

constexpr long kChannels = 4;

// A channel number: an int (or __index__ object) in [0, 4), else ValueError.
bool arg_channel(PyObject* obj, std::uint8_t& out) {
    PyObject* index = PyNumber_Index(obj);
    if (index == nullptr)
        return argument_error("channel");
    int overflow = 0;
    long value = PyLong_AsLongAndOverflow(index, &overflow);
    if (value == -1 && PyErr_Occurred()) {
        Py_DECREF(index);
        return false;
    }
    if (overflow != 0 || value < 0 || value >= kChannels) {
        PyErr_Format(PyExc_ValueError, "channel must be 0, 1, 2 or 3, got %S", index);
        Py_DECREF(index);
        return false;
    }
    Py_DECREF(index);
    out = static_cast<std::uint8_t>(value);
    return true;
}

constexpr MethodSpec kAddModelNeuron{
    "add_model_neuron",
    {{"kind"}, {"config", "None"}, {"node_id", "None"}},
    "Add a neuron of model `kind`: \"lif\", \"hh\", \"izhikevich\" or \"adex\".\n"
    "`config` is a dict holding exactly the model's configuration fields\n"
    "(None or {} for \"lif\"); a missing, unknown or invalid field raises\n"
    "ValueError naming it and creates nothing. `node_id` and the returned\n"
    "id behave as in `add_neuron`; an id already present is a no-op."};

PyObject* sim_add_model_neuron(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
    CallArgs<kAddModelNeuron> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::string_view kind_text;
    PyObject* config_dict = nullptr;
    IdArg node_arg("node_id");
    if (!arg_text(a[0], "kind", kind_text) || !arg_config_dict(a[1], "config", true, config_dict) ||
        !node_arg.read_optional(a[2]))
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
    Uuid id;
    if (!id_or_fresh(sim->engine, node_arg, id))
        return nullptr;
    sim->engine.add_neuron(id, *config);
    return id_to_py(id);
}

constexpr MethodSpec kAddPlasticEdge{
    "add_plastic_edge",
    {{"pre"},
     {"post"},
     {"config"},
     {"weight", "0.5"},
     {"edge_id", "None"},
     {"delay_ms", "1.0", true}},
    "Add a dopamine-modulated plastic synapse from `pre` to `post` that\n"
    "delivers `delay_ms` after each spike of `pre`.\n"
    "`config` is a dict with exactly the sixteen plastic-synapse fields;\n"
    "a missing, unknown or out-of-range field raises ValueError naming it\n"
    "and creates nothing. Endpoints, self-edges, repeated pairs and the\n"
    "returned id behave as in `add_edge`."};

PyObject* sim_add_plastic_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
    CallArgs<kAddPlasticEdge> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    IdArg pre_arg("pre");
    IdArg post_arg("post");
    PyObject* config_dict = nullptr;
    float weight = 0.5f;
    IdArg edge_arg("edge_id");
    float delay_ms = 1.0f;
    if (!pre_arg.read(a[0]) || !post_arg.read(a[1]) ||
        !arg_config_dict(a[2], "config", false, config_dict) ||
        (a[3] != nullptr && !arg_float(a[3], "weight", weight)) || !edge_arg.read_optional(a[4]) ||
        (a[5] != nullptr && !arg_float(a[5], "delay_ms", delay_ms)))
        return nullptr;
    Uuid pre;
    Uuid post;
    if (!pre_arg.parse(pre) || !post_arg.parse(post))
        return nullptr;
    JsonObject fields;
    if (!config_to_json(config_dict, fields))
        return nullptr;
    auto config = plastic_config_from_json(fields);
    if (!config)
        return raise_error(config.error());
    if (!check_finite("weight", weight) || !check_finite("delay_ms", delay_ms))
        return nullptr;
    if (delay_ms < 0.0f)
        return raise_value_error(EngineError::negative("delay_ms", delay_ms).message());
    Uuid edge_id;
    if (!id_or_fresh(sim->engine, edge_arg, edge_id))
        return nullptr;
    sim->engine.add_edge(edge_id, pre, post, *config, weight, delay_ms + 0.0f);
    return id_to_py(edge_id);
}

constexpr MethodSpec kSetModulatorBase{
    "set_modulator_base",
    {{"channel"}, {"level"}},
    "Set the base level of modulator `channel` (0 to 3) to the finite\n"
    "float `level`. Channel 0 drives the plastic synapses."};

PyObject* sim_set_modulator_base(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    CallArgs<kSetModulatorBase> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::uint8_t channel = 0;
    float level = 0.0f;
    if (!arg_channel(a[0], channel) || !arg_float(a[1], "level", level))
        return nullptr;
    // Checked after narrowing: a double beyond the f32 range is infinite.
    if (!std::isfinite(level)) {
        PyErr_Format(PyExc_ValueError, "level must be a finite float, got %R", a[1]);
        return nullptr;
    }
    sim->engine.set_base_level(channel, level);
    Py_RETURN_NONE;
}

constexpr MethodSpec kAddModulatorPulse{
    "add_modulator_pulse",
    {{"channel"}, {"amount"}, {"tau_ms"}},
    "Add a pulse of `amount` to modulator `channel` (0 to 3) that decays\n"
    "with time constant `tau_ms` from the next tick on. Both must be finite\n"
    "and `tau_ms` > 0."};

PyObject* sim_add_modulator_pulse(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    CallArgs<kAddModulatorPulse> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::uint8_t channel = 0;
    float amount = 0.0f;
    float tau_ms = 0.0f;
    if (!arg_channel(a[0], channel) || !arg_float(a[1], "amount", amount) ||
        !arg_float(a[2], "tau_ms", tau_ms))
        return nullptr;
    // A non-finite amount or time constant would poison every level; a
    // pulse that does not decay is no pulse.
    if (!check_finite("amount", amount) || !check_finite("tau_ms", tau_ms))
        return nullptr;
    if (!(tau_ms > 0.0f))
        return raise_value_error(EngineError::not_positive("tau_ms", tau_ms).message());
    sim->engine.add_modulator_pulse(ModulatorPulse{amount, tau_ms, channel});
    Py_RETURN_NONE;
}

constexpr const char kModulatorLevelsDoc[] =
    "modulator_levels($self)\n--\n\n"
    "The four channel levels used by the most recent tick (base level\n"
    "plus pulses); four zeros before the first tick.";

PyObject* sim_modulator_levels(PyObject* self, PyObject*) {
    SimObject* sim = as_sim(self);
    auto guard = borrow_shared(sim->borrow);
    if (!guard)
        return nullptr;
    const std::array<float, 4> levels = sim->engine.modulator_levels();
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(levels.size()));
    if (list == nullptr)
        return nullptr;
    for (std::size_t c = 0; c < levels.size(); ++c) {
        PyObject* value = PyFloat_FromDouble(levels[c]);
        if (value == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(c), value);
    }
    return list;
}

}  // namespace

void add_model_methods(std::vector<PyMethodDef>& table) {
    table.push_back(method_def(kAddModelNeuron, guarded<sim_add_model_neuron>));
    table.push_back(method_def(kAddPlasticEdge, guarded<sim_add_plastic_edge>));
    table.push_back(method_def(kSetModulatorBase, guarded<sim_set_modulator_base>));
    table.push_back(method_def(kAddModulatorPulse, guarded<sim_add_modulator_pulse>));
    table.push_back({"modulator_levels", as_cfunction(guarded<sim_modulator_levels>), METH_NOARGS,
                     kModulatorLevelsDoc});
}

}  // namespace vorn::py
