"""Neurons of every model, plastic synapses and the modulator channels."""

import math

import pytest

from conftest import f32, fresh_id, raises_text

HH = {
    "c_m": 1.0, "g_na": 120.0, "g_k": 36.0, "g_l": 0.3, "e_na": 50.0, "e_k": -77.0,
    "e_l": -54.4, "v_rest": -65.0, "v_spike_thresh": 0.0, "refractory_ms": 2.0,
    "integrator": "rk4",
}
IZHIKEVICH = {"a": 0.02, "b": 0.2, "c": -65.0, "d": 8.0, "v_peak": 30.0}
ADEX = {
    "c_m": 20.0, "g_l": 1.0, "e_l": -70.0, "v_t": -50.0, "delta_t": 2.0, "v_peak": 0.0,
    "v_reset": -58.0, "tau_w": 100.0, "a": 0.1, "b": 2.0,
}
PLASTIC = {
    "w_min": 0.0, "w_max": 1.0, "g_syn": 2.0, "a_plus": 0.05, "a_minus": 0.04,
    "tau_plus_ms": 20.0, "tau_minus_ms": 20.0, "tau_eligibility_ms": 1000.0,
    "tau_tag_ms": 1000.0, "learning_rate": 1.0, "dopamine_threshold": 0.1,
    "dopamine_gain": 1.0, "target_post_rate_hz": 5.0, "homeostatic_rate": 0.0,
    "tau_rate_ms": 1000.0, "post_consolidation_decay": 0.5,
}


def with_(config, **changes):
    return {**config, **changes}


def without(config, key):
    return {k: v for k, v in config.items() if k != key}


# ---- neurons of every model ----------------------------------------------


def test_each_model_has_its_parameter_shape(sim):
    hh = sim.get_node_params(sim.add_model_neuron("hh", HH))
    assert list(hh) == ["cfg", "h", "id", "m", "n", "refractory_left", "v", "v_prev"]
    assert list(hh["cfg"]) == sorted(HH)
    assert hh["cfg"]["integrator"] == "rk4"
    assert hh["cfg"]["e_l"] == f32(-54.4)
    assert hh["v"] == hh["v_prev"] == -65.0
    assert hh["m"] == pytest.approx(0.052932, abs=1e-6)

    izh = sim.get_node_params(sim.add_model_neuron("izhikevich", IZHIKEVICH))
    assert list(izh) == ["config", "id", "last_v", "u", "v"]
    assert izh["config"] == {k: f32(v) for k, v in IZHIKEVICH.items()}
    sim.add_model_neuron("adex", ADEX)

    for config in (None, {}):
        lif = sim.get_node_params(sim.add_model_neuron("lif", config))
        assert lif == with_(sim.get_node_params(sim.add_neuron()), id=lif["id"])
    assert sim.n_neurons == 7


def test_model_neurons_take_ids_like_add_neuron(sim):
    node = fresh_id()
    assert sim.add_model_neuron("izhikevich", IZHIKEVICH, node.upper()) == node
    # Present already: nothing changes, whatever kind and config are given.
    assert sim.add_model_neuron("hh", HH, node_id=node) == node
    assert "u" in sim.get_node_params(node) and sim.n_neurons == 1
    text = raises_text(ValueError, sim.add_model_neuron, "lif", None, "xyz")
    assert text.startswith("node_id must be a UUID string: ")


def test_config_key_errors_name_the_key(sim):
    # The same conversion serves every kind.
    kind, config = "adex", ADEX
    first = next(iter(config))
    not_number = f"parameter '{first}' expects a finite number"
    cases = [
        (without(config, first), f"missing parameter '{first}'"),
        (None, f"missing parameter '{first}'"),
        (with_(config, bogus=1.0), "unknown parameter 'bogus'"),
        (with_(config, **{first: True}), not_number),
        # Values that do not convert reach the check as null.
        (with_(config, **{first: math.nan}), not_number),
        (with_(config, **{first: object()}), not_number),
        (with_(config, **{first: 1e39}), f"parameter '{first}' out of range: not finite"),
    ]
    for bad, message in cases:
        assert raises_text(ValueError, sim.add_model_neuron, kind, bad) == message
    assert sim.n_neurons == 0


def test_kind_and_config_argument_errors(sim):
    cases = [
        (ValueError, ("HH", HH),
         "unknown neuron kind 'HH'; expected 'lif', 'hh', 'izhikevich' or 'adex'"),
        (ValueError, ("lif", {"tau_m": 5.0}), "unknown parameter 'tau_m'"),
        (TypeError, ("hh", list(HH.items())), "argument 'config': expected dict or None, got list"),
        (TypeError, (3,), "argument 'kind': expected str, got int"),
        (ValueError, ("adex", {1: 2.0}), "dict keys must be strings"),
    ]
    for exc, args, message in cases:
        assert raises_text(exc, sim.add_model_neuron, *args) == message
    assert sim.n_neurons == 0


# ---- plastic synapses ------------------------------------------------------


def test_plastic_edge_is_created_like_add_edge(sim):
    a, b = fresh_id(), fresh_id()
    edge = sim.add_plastic_edge(a, b, PLASTIC, weight=3)
    assert sim.n_neurons == 2 and sim.n_synapses == 1
    assert sim.get_node_params(b) == with_(sim.get_node_params(sim.add_neuron()), id=b)
    params = sim.get_synapse_params(edge)
    assert len(params) == 25 and params["weight"] == 1.0
    assert {k: params[k] for k in PLASTIC} == {k: f32(v) for k, v in PLASTIC.items()}
    # A connected pair creates nothing, yet the id comes back.
    again = fresh_id()
    assert sim.add_plastic_edge(a, b, PLASTIC, edge_id=again.upper()) == again
    assert sim.list_synapses() == [edge]


def test_plastic_config_errors_create_nothing(sim):
    a, b = fresh_id(), fresh_id()
    cases = [
        (ValueError, without(PLASTIC, "tau_tag_ms"), "missing parameter 'tau_tag_ms'"),
        (ValueError, with_(PLASTIC, tau_plus=5.0), "unknown parameter 'tau_plus'"),
        (ValueError, with_(PLASTIC, g_syn=False), "parameter 'g_syn' expects a finite number"),
        (ValueError, with_(PLASTIC, learning_rate=math.nan),
         "parameter 'learning_rate' expects a finite number"),
        (TypeError, None, "argument 'config': expected dict, got NoneType"),
    ]
    for exc, bad, message in cases:
        assert raises_text(exc, sim.add_plastic_edge, a, b, bad) == message
    assert raises_text(ValueError, sim.add_plastic_edge, "nope", b, PLASTIC).startswith(
        "pre must be a UUID string: ")
    assert (sim.n_neurons, sim.n_synapses) == (0, 0)


# ---- modulator channels ----------------------------------------------------


def test_base_level_is_narrowed_to_f32_and_used_from_the_next_tick(sim):
    # Decay and pulses are pinned in C++.
    sim.set_modulator_base(1, 1e-40)  # a subnormal f32, still finite
    assert sim.modulator_levels() == [0.0, 0.0, 0.0, 0.0]
    sim.tick(1.0)
    assert sim.modulator_levels() == [0.0, f32(1e-40), 0.0, 0.0]


def test_modulator_argument_errors(sim):
    for channel in (4, -1, 2**70):
        text = raises_text(ValueError, sim.set_modulator_base, channel, 0.5)
        assert text == f"channel must be 0, 1, 2 or 3, got {channel}"
        assert raises_text(ValueError, sim.add_modulator_pulse, channel, 1.0, 5.0) == text
    for level in (math.nan, math.inf, 1e39):
        text = raises_text(ValueError, sim.set_modulator_base, 0, level)
        assert text == f"level must be a finite float, got {level!r}"
    assert raises_text(TypeError, sim.set_modulator_base, 1.0, 0.5).startswith(
        "argument 'channel': ")
    assert raises_text(TypeError, sim.add_modulator_pulse, 0, "1", 5.0).startswith(
        "argument 'amount': ")
    sim.tick(1.0)
    assert sim.modulator_levels() == [0.0, 0.0, 0.0, 0.0]
