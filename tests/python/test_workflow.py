"""From folder to simulation and back: Sim.from_cortex with every kind,
config and initial state a topology can hold, and checkpoints that resume
bit for bit."""

import json
import os

import pytest

from vorn_py import Cortex, Sim, seeds
from conftest import new_cortex, raises_text

HH = {"c_m": 1.0, "g_na": 120.0, "g_k": 36.0, "g_l": 0.3, "e_na": 50.0, "e_k": -77.0,
      "e_l": -54.387, "v_rest": -65.0, "v_spike_thresh": 0.0, "refractory_ms": 2.0,
      "integrator": "rk4"}
IZH = {"a": 0.02, "b": 0.2, "c": -65.0, "d": 8.0, "v_peak": 30.0}
ADEX = {"c_m": 200.0, "g_l": 10.0, "e_l": -70.0, "v_t": -50.0, "delta_t": 2.0,
        "v_peak": 0.0, "v_reset": -58.0, "tau_w": 100.0, "a": 2.0, "b": 60.0}
PLASTIC = {"w_min": 0.0, "w_max": 1.0, "g_syn": 2.0, "a_plus": 0.01, "a_minus": 0.012,
           "tau_plus_ms": 20.0, "tau_minus_ms": 20.0, "tau_eligibility_ms": 1000.0,
           "tau_tag_ms": 10000.0, "learning_rate": 1.0, "dopamine_threshold": 0.1,
           "dopamine_gain": 1.0, "target_post_rate_hz": 5.0, "homeostatic_rate": 0.0,
           "tau_rate_ms": 1000.0, "post_consolidation_decay": 0.5}


def ids(n, base):
    return ["%08x-0000-4000-8000-%012x" % (base, i) for i in range(n)]


def folder(tmp_path, nodes, edges, hh_config=None, name="net.cortex"):
    """A folder whose topology.json another tool wrote."""
    cx = new_cortex(tmp_path / name, hh_config=json.dumps(hh_config) if hh_config else None)
    topology = {"format": "cortex.topology", "version": 1, "cortex_type": "lif",
                "defaults": {"neuron": {"kind": "lif"}, "synapse": {"kind": "stdp"}},
                "nodes": nodes, "edges": edges}
    (tmp_path / name / "topology.json").write_text(json.dumps(topology))
    return Cortex.open(str(tmp_path / name))


def mixed(tmp_path, **overrides):
    n = ids(6, 1)
    e = ids(6, 2)
    nodes = [
        {"id": n[0], "init_state": {"v": -55.5, "tau_m": 12.0}},
        {"id": n[1], "kind": {"kind": "hh"}},  # config from the metadata
        {"id": n[2], "kind": {"kind": "izhikevich", "config": IZH}},
        {"id": n[3], "kind": {"kind": "adex", "config": ADEX}},
        {"id": n[4], "kind": {"kind": "hh", "config": dict(HH, integrator="euler")}},
        {"id": n[5], "kind": {"kind": "lif", "config": {}}},
    ]
    edges = [
        {"id": e[0], "pre": n[0], "post": n[1], "init_weight": 0.25, "delay_ms": 3.0},
        {"id": e[1], "pre": n[1], "post": n[2], "init_weight": 0.5,
         "kind": {"kind": "static", "config": {"g_syn": 4.0}}},
        {"id": e[2], "pre": n[2], "post": n[3], "init_weight": 0.75,
         "kind": {"kind": "plastic-synapse", "config": PLASTIC}},
        {"id": e[3], "pre": n[3], "post": n[0], "init_weight": 0.5,
         "kind": {"kind": "stdp", "config": {"g_syn": 7.0, "tau_plus": 15.0}}},
        {"id": e[4], "pre": n[4], "post": n[5], "init_weight": 1.0, "delay_ms": 0.0},
        {"id": e[5], "pre": n[5], "post": n[4], "init_weight": 0.0, "delay_ms": 2.5},
    ]
    for key, value in overrides.items():
        kind, index, field = key.split("__")
        (nodes if kind == "node" else edges)[int(index)][field] = value
    return folder(tmp_path, nodes, edges, hh_config=HH), n, e


def test_from_cortex_takes_every_kind_config_state_weight_and_delay(tmp_path):
    cx, n, e = mixed(tmp_path)
    sim = Sim.from_cortex(cx)
    assert sim.list_nodes() == n and sim.list_synapses() == e
    p = sim.all_node_params()
    assert (p[n[0]]["v"], p[n[0]]["tau_m"]) == (-55.5, 12.0)
    assert p[n[1]]["cfg"]["integrator"] == "rk4" and p[n[4]]["cfg"]["integrator"] == "euler"
    assert p[n[2]]["config"]["a"] == pytest.approx(0.02) and p[n[3]]["config"]["b"] == 60.0
    s = sim.all_synapse_params()
    assert s[e[1]]["g_syn"] == 4.0 and set(s[e[1]]) == {"id", "pre_id", "post_id", "weight", "g_syn"}
    assert s[e[2]]["tau_eligibility_ms"] == 1000.0
    assert (s[e[3]]["g_syn"], s[e[3]]["tau_plus"], s[e[3]]["weight"]) == (7.0, 15.0, 0.5)
    assert sim.delays().tolist() == [3.0, 1.0, 1.0, 1.0, 0.0, 2.5]
    assert sim.weights().tolist() == [0.25, 0.5, 0.75, 0.5, 1.0, 0.0]

    cx.persist_weights([(e[3], 0.125), (e[0], 0.375)])
    assert Sim.from_cortex(cx).weights().tolist() == [0.375, 0.5, 0.75, 0.125, 1.0, 0.0]
    assert Sim.from_cortex(cx, weights=False).weights()[0] == 0.25


@pytest.mark.parametrize("override, text", [
    ({"node__2__kind": {"kind": "adex"}}, "node {n2}: kind 'adex' needs a config with all its fields"),
    ({"node__2__kind": {"kind": "izhikevich", "config": {"a": 1}}}, "node {n2}: missing parameter 'b'"),
    ({"node__1__kind": {"kind": "golgi"}}, "node {n1}: unknown neuron kind 'golgi'"),
    ({"node__0__init_state": {"v": 500}}, "node {n0}: init_state: parameter 'v' out of range: must be in [-100, 50]"),
    ({"node__0__init_state": 3}, "node {n0}: init_state is not an object"),
    ({"node__2__init_state": {"v": -60}}, "node {n2}: init_state: unknown parameter 'v'"),
    ({"edge__1__kind": {"kind": "gap-junction"}}, "edge {e1}: unknown synapse kind 'gap-junction'"),
    ({"edge__2__kind": {"kind": "plastic-synapse"}}, "edge {e2}: missing parameter 'w_min'"),
    ({"edge__3__kind": {"kind": "stdp", "config": {"g_syn": -1}}},
     "edge {e3}: parameter 'g_syn' out of range: must be in [0, 10000]"),
])
def test_from_cortex_names_what_it_cannot_take(tmp_path, override, text):
    cx, n, e = mixed(tmp_path, **override)
    names = {f"n{i}": x for i, x in enumerate(n)} | {f"e{i}": x for i, x in enumerate(e)}
    assert raises_text(ValueError, Sim.from_cortex, cx) == text.format(**names)


def test_from_cortex_refuses_what_would_be_lost(tmp_path):
    n = ids(2, 1)
    e = ids(2, 2)
    # Two kinds on one pair: the topology allows it, a Sim cannot hold it.
    cx = folder(tmp_path, [{"id": n[0]}, {"id": n[1]}], [
        {"id": e[0], "pre": n[0], "post": n[1], "init_weight": 0.5},
        {"id": e[1], "pre": n[0], "post": n[1], "init_weight": 0.5, "kind": {"kind": "static"}}])
    assert raises_text(ValueError, Sim.from_cortex, cx) == (
        f"edge {e[1]}: connects the same pre and post as an earlier edge; a Sim keeps one "
        "synapse per pair")
    cx = folder(tmp_path, [{"id": n[0]}, {"id": n[1]}, {"id": ids(1, 9)[0], "kind": {"kind": "hh"}}],
                [], name="nohh.cortex")
    assert "needs a config" in raises_text(ValueError, Sim.from_cortex, cx)
    cx = folder(tmp_path, [{"id": n[0]}, {"id": n[1]}],
                [{"id": e[0], "pre": n[0], "post": n[1], "init_weight": 0.5}], name="w.cortex")
    cx.persist_weights([(ids(1, 7)[0], 0.5)])
    assert raises_text(ValueError, Sim.from_cortex, cx) == (
        f"the weights file names edge {ids(1, 7)[0]}, which the topology lacks")
    assert "expected Cortex" in raises_text(TypeError, Sim.from_cortex, "folder")


def resumes_exactly(sim, copy, steps=150):
    expected = sim.run(0.5, steps)
    assert copy.t_ms == sim.t_ms - steps * 0.5 and copy.list_synapses() == sim.list_synapses()
    assert copy.run(0.5, steps) == expected
    assert copy.weights().tobytes() == sim.weights().tobytes()
    assert copy.all_node_params() == sim.all_node_params()
    assert copy.all_synapse_params() == sim.all_synapse_params()
    assert copy.modulator_levels() == sim.modulator_levels()
    return expected


def test_checkpoint_in_a_folder(tmp_path):
    cx, n, e = mixed(tmp_path)
    sim = Sim.from_cortex(cx)
    for i, node in enumerate(n):
        sim.stimulate(node, 30.0 + i, 1e6)
    sim.run(0.5, 40)
    cx.save_state(sim)
    assert os.path.isfile(tmp_path / "net.cortex" / "state" / "latest.cstate")
    resumes_exactly(sim, Sim.from_cortex(cx, state=True))
    sim.add_neuron()
    assert raises_text(ValueError, cx.save_state, sim) == (
        "the saved state does not match the topology: the simulation has 7 neurons and 6 "
        "synapses, the topology 6 nodes and 6 edges")


def test_broken_checkpoints_are_refused(tmp_path):
    # The document rules are pinned in C++; here their mapping to ValueError
    # and OSError, and a state that does not fit the folder's topology.
    cx, n, e = mixed(tmp_path)
    sim = Sim.from_cortex(cx)
    sim.run(0.5, 10)
    path = tmp_path / "a.cstate"
    sim.save_state(str(path))
    good = path.read_bytes()
    path.write_bytes(good.replace(b'"version":1', b'"version":2', 1))
    assert raises_text(ValueError, Sim.load_state, str(path)) == (
        "state version 2 is not supported (max 1)")
    assert raises_text(OSError, Sim.load_state, str(tmp_path / "none.cstate")).startswith(
        "expected file does not exist")
    empty = new_cortex(tmp_path / "empty.cortex")
    assert raises_text(OSError, Sim.from_cortex, empty, state=True).startswith(
        "expected file does not exist")
    other = new_cortex(tmp_path / "other.cortex")
    other.apply_seed(seeds.ring(4, 1))
    os.makedirs(tmp_path / "other.cortex" / "state")
    (tmp_path / "other.cortex" / "state" / "latest.cstate").write_bytes(good)
    assert raises_text(ValueError, Sim.from_cortex, other, state=True).startswith(
        "the saved state does not match the topology")
