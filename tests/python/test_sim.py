"""Sim: graph building, time, results, parameter reads and writes, the class
docstring example and repr."""

import gc

import pytest

import vorn_py
from conftest import fresh_id, raises_text


def spiking_sim(n_neurons=5, current=30.0):
    """A small connected network with every neuron driven, so it spikes."""
    sim = vorn_py.Sim()
    ids = [f"00000000-0000-0000-0000-{i:012x}" for i in range(1, n_neurons + 1)]
    for node in ids:
        sim.add_neuron(node)
    for i, pre in enumerate(ids):
        post = ids[(i + 1) % n_neurons]
        sim.add_edge(pre, post, weight=0.6, edge_id=f"00000000-0000-0000-0001-{i:012x}")
        sim.stimulate(pre, current + i, 1e9)
    return sim


def by_tick(spikes):
    """Spikes as a sorted list: order within one tick is not specified."""
    return sorted(spikes, key=lambda s: (s[1], s[0]))


# ---- graph -----------------------------------------------------------------


def test_add_neuron_mints_ids_and_is_idempotent(sim):
    assert sim.tick(1.0) == [] and sim.t_ms == 1.0  # an empty Sim ticks
    a, b = sim.add_neuron(), sim.add_neuron(None)
    assert a != b
    for node in (a, b):
        assert len(node) == 36 and node == node.lower() and node[14] == "4"
    node = fresh_id()
    sim.set_node_param(sim.add_neuron(node), "v", -60.0)
    assert sim.add_neuron(node.upper()) == node
    assert sim.n_neurons == 3 and type(sim.n_neurons) is int and type(sim.t_ms) is float
    assert sim.list_nodes() == [a, b, node]
    assert sim.get_node_params(node)["v"] == -60.0


def test_add_edge_returns_an_id_also_for_what_it_drops(sim):
    # The engine's rules (endpoints made, self-edges and connected pairs
    # dropped, weights clamped) are pinned in C++; the binding still returns
    # the given or a fresh id.
    a, b = fresh_id(), fresh_id()
    first = sim.add_edge(a, b, weight=3)
    e_self = fresh_id()
    assert sim.add_edge(a, a, edge_id=e_self) == e_self
    second = sim.add_edge(a, b, weight=0.9)
    assert second != first and sim.list_synapses() == [first]
    raises_text(ValueError, sim.get_synapse_params, second)


def test_all_synapse_params_keeps_the_later_of_a_reused_id(sim):
    a, b, c = (sim.add_neuron() for _ in range(3))
    e = sim.add_edge(a, b, weight=0.1)
    assert sim.add_edge(b, c, weight=0.9, edge_id=e) == e
    assert sim.get_synapse_params(e)["post_id"] == b
    everything = sim.all_synapse_params()
    assert list(everything) == [e] and everything[e]["post_id"] == c


# ---- time ------------------------------------------------------------------


def test_run_equals_repeated_ticks():
    ran, ticked = spiking_sim(), spiking_sim()
    spikes = ran.run(0.5, 400)
    stepped = []
    for _ in range(400):
        stepped.extend(ticked.tick(0.5))
    assert len(spikes) > 50
    for spike in spikes:
        assert type(spike) is tuple and len(spike) == 2
        # Atomic contents: the collector need not walk a run's spikes.
        assert not gc.is_tracked(spike)
        node, t = spike
        assert type(node) is str and node in ran.list_nodes()
        assert type(t) is float and t * 2 == int(t * 2)
    assert [t for _, t in spikes] == sorted(t for _, t in spikes)
    assert by_tick(spikes) == by_tick(stepped)
    assert ran.t_ms == ticked.t_ms == 200.0
    assert ran.weight_snapshot() == ticked.weight_snapshot()
    assert ran.all_node_params() == ticked.all_node_params()
    # Zero steps: nothing happens.
    assert ran.run(1.0, 0) == [] and ran.t_ms == 200.0


def test_building_spike_lists_leaves_the_collector_as_it_was():
    sim = vorn_py.Sim()
    a = sim.add_neuron()
    sim.stimulate(a, 200.0, 1e9)
    assert gc.isenabled()
    assert sim.run(1.0, 20)
    assert gc.isenabled()
    gc.disable()
    try:
        assert sim.tick(1.0) or sim.run(1.0, 5)
        assert not gc.isenabled()
    finally:
        gc.enable()
    # Repeated spikes of one neuron share its id text, and it stays canonical.
    spikes = sim.run(1.0, 50)
    assert {s for s, _ in spikes} == {a}


# ---- the class docstring example -------------------------------------------


def test_docstring_example_runs_and_prints_spikes_of_a(capsys):
    lines = [line[4:] for line in vorn_py.Sim.__doc__.splitlines() if line[:4] in (">>> ", "... ")]
    namespace = {}
    exec("\n".join(lines), namespace)
    printed = capsys.readouterr().out.strip().splitlines()
    a, b = namespace["a"], namespace["b"]
    assert printed, "the example prints at least one spike"
    assert a in printed[0]
    for line in printed:
        events = eval(line)
        assert events and all(node in (a, b) and t == int(t) for node, t in events)
    assert namespace["sim"].t_ms == 100.0


# ---- parameters ------------------------------------------------------------


def test_unknown_ids_in_reads_and_writes(sim):
    # Reads quote the argument as given; writes name the canonical id.
    node = fresh_id()
    assert raises_text(ValueError, sim.get_node_params, node.upper()) == (
        f"node {node.upper()} not in sim")
    edge = "{" + fresh_id() + "}"
    assert raises_text(ValueError, sim.get_synapse_params, edge) == f"synapse {edge} not in sim"
    assert raises_text(ValueError, sim.set_node_param, node.upper(), "v", 0.0) == (
        f"unknown parameter 'node {node} (not in engine)'")
    assert raises_text(ValueError, sim.set_synapse_param, edge, "weight", 0.0) == (
        f"unknown parameter 'synapse {edge[1:-1]} (not in engine)'")


def test_all_node_params(sim):
    assert sim.all_node_params() == {}
    for _ in range(3):
        sim.add_neuron()
    everything = sim.all_node_params()
    assert list(everything) == sim.list_nodes()
    for node, params in everything.items():
        assert params == sim.get_node_params(node)
        assert params is not sim.get_node_params(node)


# ---- repr ------------------------------------------------------------------


@pytest.mark.parametrize(
    "steps, text",
    [([], "0.000"), ([0.25], "0.250"), ([2.5], "2.500"), ([1.0] * 3, "3.000"),
     ([0.0005], "0.001"),
     # f32(0.1) + f32(0.2) accumulated in double is 0.30000000447...
     ([0.1, 0.2], "0.300"), ([0.1, 0.2, -1000.75], "-1000.450")],
)
def test_repr_rounds_t_ms_to_three_decimals(sim, steps, text):
    for dt in steps:
        sim.tick(dt)
    assert repr(sim) == f"Sim(t_ms={text}, n_neurons=0, n_synapses=0)"
    sim.add_edge(fresh_id(), fresh_id())
    assert repr(sim).endswith(", n_neurons=2, n_synapses=1)")
