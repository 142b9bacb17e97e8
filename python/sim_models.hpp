#pragma once
// Sim methods beyond the default network: neurons of any model, plastic
// synapses and the modulator channels. Registered in the Sim method table.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vorn::py {

PyObject* sim_add_model_neuron(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* sim_add_plastic_edge(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* sim_set_modulator_base(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* sim_add_modulator_pulse(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* sim_modulator_levels(PyObject* self, PyObject* unused);

inline constexpr const char kAddModelNeuronDoc[] =
    "add_model_neuron($self, kind, config=None, node_id=None)\n--\n\n"
    "Add a neuron of model `kind`: \"lif\", \"hh\", \"izhikevich\" or \"adex\".\n"
    "`config` is a dict holding exactly the model's configuration fields\n"
    "(None or {} for \"lif\"); a missing, unknown or invalid field raises\n"
    "ValueError naming it and creates nothing. `node_id` and the returned\n"
    "id behave as in `add_neuron`; an id already present is a no-op.";

inline constexpr const char kAddPlasticEdgeDoc[] =
    "add_plastic_edge($self, pre, post, config, weight=0.5, edge_id=None, *, delay_ms=1.0)\n"
    "--\n\n"
    "Add a dopamine-modulated plastic synapse from `pre` to `post` that\n"
    "delivers `delay_ms` after each spike of `pre`.\n"
    "`config` is a dict with exactly the sixteen plastic-synapse fields;\n"
    "a missing, unknown or out-of-range field raises ValueError naming it\n"
    "and creates nothing. Endpoints, self-edges, repeated pairs and the\n"
    "returned id behave as in `add_edge`.";

inline constexpr const char kSetModulatorBaseDoc[] =
    "set_modulator_base($self, channel, level)\n--\n\n"
    "Set the base level of modulator `channel` (0 to 3) to the finite\n"
    "float `level`. Channel 0 drives the plastic synapses.";

inline constexpr const char kAddModulatorPulseDoc[] =
    "add_modulator_pulse($self, channel, amount, tau_ms)\n--\n\n"
    "Add a pulse of `amount` to modulator `channel` (0 to 3) that decays\n"
    "with time constant `tau_ms` from the next tick on. Both must be finite\n"
    "and `tau_ms` > 0.";

inline constexpr const char kModulatorLevelsDoc[] =
    "modulator_levels($self)\n--\n\n"
    "The four channel levels used by the most recent tick (base level\n"
    "plus pulses); four zeros before the first tick.";

}  // namespace vorn::py
