#include "python/sim_models.hpp"

#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "core/engine/engine_error.hpp"
#include "core/engine/plastic_config_json.hpp"
#include "core/models/neuron_config_json.hpp"
#include "python/args.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/results.hpp"
#include "python/sim_args.hpp"
#include "python/sim_object.hpp"

namespace vorn::py {
namespace {

using Kw = const char* const[];

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

}  // namespace

PyObject* sim_add_model_neuron(PyObject* self, PyObject* args, PyObject* kwargs) {
    static Kw kw = {"kind", "config", "node_id", nullptr};
    PyObject* kind_arg = nullptr;
    PyObject* config_arg = nullptr;
    PyObject* node_id_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:add_model_neuron", kw, &kind_arg,
                                     &config_arg, &node_id_arg))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::string_view kind_text;
    PyObject* config_dict = nullptr;
    std::optional<std::string_view> node_text;
    if (!arg_text(kind_arg, "kind", kind_text) ||
        !arg_config_dict(config_arg, "config", true, config_dict) ||
        !arg_optional_text(node_id_arg, "node_id", node_text))
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
    if (!id_or_fresh(sim->engine, node_text, "node_id", id))
        return nullptr;
    sim->engine.add_neuron(id, *config);
    return id_to_py(id);
}

PyObject* sim_add_plastic_edge(PyObject* self, PyObject* args, PyObject* kwargs) {
    static Kw kw = {"pre", "post", "config", "weight", "edge_id", "delay_ms", nullptr};
    PyObject* pre_arg = nullptr;
    PyObject* post_arg = nullptr;
    PyObject* config_arg = nullptr;
    PyObject* weight_arg = nullptr;
    PyObject* edge_id_arg = nullptr;
    PyObject* delay_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO|OO$O:add_plastic_edge", kw, &pre_arg,
                                     &post_arg, &config_arg, &weight_arg, &edge_id_arg, &delay_arg))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::string_view pre_text;
    std::string_view post_text;
    PyObject* config_dict = nullptr;
    float weight = 0.5f;
    std::optional<std::string_view> edge_text;
    float delay_ms = 1.0f;
    if (!arg_text(pre_arg, "pre", pre_text) || !arg_text(post_arg, "post", post_text) ||
        !arg_config_dict(config_arg, "config", false, config_dict) ||
        (weight_arg != nullptr && !arg_float(weight_arg, "weight", weight)) ||
        !arg_optional_text(edge_id_arg, "edge_id", edge_text) ||
        (delay_arg != nullptr && !arg_float(delay_arg, "delay_ms", delay_ms)))
        return nullptr;
    Uuid pre;
    Uuid post;
    if (!parse_uuid(pre_text, "pre", pre) || !parse_uuid(post_text, "post", post))
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
    if (!id_or_fresh(sim->engine, edge_text, "edge_id", edge_id))
        return nullptr;
    sim->engine.add_edge(edge_id, pre, post, *config, weight, delay_ms + 0.0f);
    return id_to_py(edge_id);
}

PyObject* sim_set_modulator_base(PyObject* self, PyObject* args, PyObject* kwargs) {
    static Kw kw = {"channel", "level", nullptr};
    PyObject* channel_arg = nullptr;
    PyObject* level_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:set_modulator_base", kw, &channel_arg,
                                     &level_arg))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::uint8_t channel = 0;
    float level = 0.0f;
    if (!arg_channel(channel_arg, channel) || !arg_float(level_arg, "level", level))
        return nullptr;
    // Checked after narrowing: a double beyond the f32 range is infinite.
    if (!std::isfinite(level)) {
        PyErr_Format(PyExc_ValueError, "level must be a finite float, got %R", level_arg);
        return nullptr;
    }
    sim->engine.set_base_level(channel, level);
    Py_RETURN_NONE;
}

PyObject* sim_add_modulator_pulse(PyObject* self, PyObject* args, PyObject* kwargs) {
    static Kw kw = {"channel", "amount", "tau_ms", nullptr};
    PyObject* channel_arg = nullptr;
    PyObject* amount_arg = nullptr;
    PyObject* tau_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO:add_modulator_pulse", kw, &channel_arg,
                                     &amount_arg, &tau_arg))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::uint8_t channel = 0;
    float amount = 0.0f;
    float tau_ms = 0.0f;
    if (!arg_channel(channel_arg, channel) || !arg_float(amount_arg, "amount", amount) ||
        !arg_float(tau_arg, "tau_ms", tau_ms))
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

}  // namespace vorn::py
