"""Sim: graph building, time, reading, parameter writes, docs, repr."""

import gc
import inspect

import pytest

import vorn_py
from conftest import f32, fresh_id, raises_text


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


class TestGraph:
    def test_add_neuron_mints_distinct_canonical_ids(self, sim):
        a, b = sim.add_neuron(), sim.add_neuron()
        assert a != b
        for node in (a, b):
            assert len(node) == 36 and node == node.lower()
            assert node[14] == "4"  # version 4
        assert sim.n_neurons == 2
        assert sorted(sim.list_nodes()) == sorted([a, b])

    def test_add_neuron_is_idempotent(self, sim):
        node = fresh_id()
        sim.set_node_param(sim.add_neuron(node), "v", -60.0)
        assert sim.add_neuron(node.upper()) == node
        assert sim.add_neuron(None) != node
        assert sim.n_neurons == 2
        assert sim.get_node_params(node)["v"] == -60.0

    def test_add_edge_creates_missing_endpoints(self, sim):
        a, b = fresh_id(), fresh_id()
        e = sim.add_edge(a, b)
        assert (sim.n_neurons, sim.n_synapses) == (2, 1)
        assert sim.list_synapses() == [e]
        assert sim.weight_snapshot() == [(e, 0.5)]
        assert sim.get_node_params(b)["v"] == -65.0

    def test_self_edges_and_duplicate_pairs_are_dropped(self, sim):
        a, b = sim.add_neuron(), sim.add_neuron()
        e_self = fresh_id()
        assert sim.add_edge(a, a, edge_id=e_self) == e_self
        first = sim.add_edge(a, b, weight=0.3)
        second = sim.add_edge(a, b, weight=0.9)
        assert first != second
        assert sim.n_synapses == 1
        assert sim.weight_snapshot() == [(first, f32(0.3))]
        with pytest.raises(ValueError):
            sim.get_synapse_params(second)
        reverse = sim.add_edge(b, a)
        assert sim.list_synapses() == [first, reverse]

    @pytest.mark.parametrize("weight, stored", [(3, 1.0), (-0.2, 0.0), (0.7, f32(0.7))])
    def test_weight_is_clamped(self, sim, weight, stored):
        e = sim.add_edge(fresh_id(), fresh_id(), weight=weight)
        assert sim.weight_snapshot() == [(e, stored)]

    def test_reused_edge_id_reaches_first_synapse(self, sim):
        a, b, c = (sim.add_neuron() for _ in range(3))
        e = sim.add_edge(a, b, weight=0.1)
        assert sim.add_edge(b, c, weight=0.9, edge_id=e) == e
        assert sim.list_synapses() == [e, e]
        assert sim.get_synapse_params(e)["post_id"] == b
        assert sim.set_synapse_param(e, "weight", 0.2)["post_id"] == b
        assert [w for _, w in sim.weight_snapshot()] == [f32(0.2), f32(0.9)]
        # The later synapse's entry replaces the earlier one's.
        everything = sim.all_synapse_params()
        assert list(everything) == [e]
        assert everything[e]["post_id"] == c

    def test_stimulating_unknown_node_is_ignored(self, sim):
        ghost = fresh_id()
        sim.stimulate(ghost, 100.0, 50.0)
        sim.add_neuron(ghost)
        assert all(sim.tick(1.0) == [] for _ in range(20))


class TestTime:
    def test_tick_on_empty_sim(self, sim):
        assert sim.tick(1.0) == []
        assert sim.t_ms == 1.0

    def test_spike_tuples(self):
        sim = spiking_sim()
        spikes = sim.run(1.0, 50)
        assert spikes
        for spike in spikes:
            assert type(spike) is tuple and len(spike) == 2
            # Atomic contents: the collector need not walk a run's spikes.
            assert not gc.is_tracked(spike)
            node, t = spike
            assert type(node) is str and node in sim.list_nodes()
            assert type(t) is float and t == int(t)
        assert [t for _, t in spikes] == sorted(t for _, t in spikes)

    def test_run_equals_repeated_ticks(self):
        ran, ticked = spiking_sim(), spiking_sim()
        spikes = ran.run(0.5, 400)
        stepped = []
        for _ in range(400):
            stepped.extend(ticked.tick(0.5))
        assert len(spikes) > 50
        assert by_tick(spikes) == by_tick(stepped)
        assert ran.t_ms == ticked.t_ms == 200.0
        assert ran.weight_snapshot() == ticked.weight_snapshot()
        assert ran.all_node_params() == ticked.all_node_params()

    def test_run_zero_steps(self):
        sim = spiking_sim()
        sim.tick(1.0)
        assert sim.run(1.0, 0) == []
        assert sim.t_ms == 1.0

    def test_stimulation_replaced_by_later_call(self, sim):
        node = sim.add_neuron()
        sim.stimulate(node, 1000.0, 1e9)
        sim.stimulate(node, 0.0, 1e9)
        assert sim.run(1.0, 30) == []


class TestDocstringExample:
    def _example_lines(self):
        doc = vorn_py.Sim.__doc__
        return [line[4:] for line in doc.splitlines() if line[:4] in (">>> ", "... ")]

    def test_class_doc_header(self):
        doc = vorn_py.Sim.__doc__
        assert doc.startswith(
            "A spiking-neural-network simulator. Thin Python wrapper around the\n"
            "`vorn::SimEngine` state machine.\n\nExample\n-------\n"
        )

    def test_example_runs_and_prints_spikes_of_a(self, capsys):
        namespace = {}
        exec("\n".join(self._example_lines()), namespace)
        printed = capsys.readouterr().out.strip().splitlines()
        a, b = namespace["a"], namespace["b"]
        assert printed, "the example prints at least one spike"
        assert a in printed[0]
        for line in printed:
            events = eval(line)
            assert events and all(node in (a, b) and t == int(t) for node, t in events)
        assert namespace["sim"].t_ms == 100.0

    def test_each_spike_of_a_delivers_56_to_b(self, sim):
        a, b = sim.add_neuron(), sim.add_neuron()
        sim.add_edge(a, b, weight=0.7)
        sim.stimulate(a, current=40.0, duration_ms=20.0)
        # With huge time constants b's epsc trace does not decay, so each
        # tick's input adds to it exactly, and b never fires (which would
        # change the weight by plasticity).
        sim.set_node_param(b, "tau_syn", 1e30)
        sim.set_node_param(b, "tau_m", 1e30)
        a_spiked_last_tick = False
        deliveries = 0
        for _ in range(30):
            before = sim.get_node_params(b)["epsc"]
            spikes = sim.tick(1.0)
            delta = sim.get_node_params(b)["epsc"] - before
            # Input arrives exactly one tick after each spike of a.
            assert delta == (56.0 if a_spiked_last_tick else 0.0)
            deliveries += a_spiked_last_tick
            assert [node for node, _ in spikes] in ([], [a])
            a_spiked_last_tick = bool(spikes)
        assert deliveries >= 3


class TestParams:
    def test_unknown_node_and_synapse_quote_the_argument(self, sim):
        node = fresh_id().upper()
        assert raises_text(ValueError, sim.get_node_params, node) == f"node {node} not in sim"
        edge = "{" + fresh_id() + "}"
        assert raises_text(ValueError, sim.get_synapse_params, edge) == f"synapse {edge} not in sim"

    def test_writes_to_unknown_ids(self, sim):
        node = fresh_id()
        assert raises_text(ValueError, sim.set_node_param, node.upper(), "v", 0.0) == (
            f"unknown parameter 'node {node} (not in engine)'"
        )
        edge = fresh_id()
        assert raises_text(ValueError, sim.set_synapse_param, edge, "weight", 0.0) == (
            f"unknown parameter 'synapse {edge} (not in engine)'"
        )

    def test_refused_writes_leave_state(self, sim):
        e = sim.add_edge(fresh_id(), fresh_id(), weight=0.5)
        before = sim.get_synapse_params(e)
        cases = {
            ("g_syn", 20000): "parameter 'g_syn' out of range: must be in [0, 10000]",
            ("weight", "x"): "parameter 'weight' expects a finite number",
            ("pre_id", fresh_id()): "parameter 'pre_id' cannot be set right now: "
            "identity/topology fields are immutable; use graph edit APIs",
            ("tau_plus_ms", 1.0): "unknown parameter 'tau_plus_ms'",
            ("weight", 1e39): "parameter 'weight' out of range: not finite",
        }
        for (key, value), message in cases.items():
            assert raises_text(ValueError, sim.set_synapse_param, e, key, value) == message
        assert sim.get_synapse_params(e) == before

    def test_w_max_write_reclamps_weight(self, sim):
        e = sim.add_edge(fresh_id(), fresh_id(), weight=0.5)
        assert sim.set_synapse_param(e, "w_max", 0.3)["weight"] == f32(0.3)

    def test_all_node_params(self, sim):
        assert sim.all_node_params() == {}
        ids = [sim.add_neuron() for _ in range(3)]
        everything = sim.all_node_params()
        assert list(everything) == sim.list_nodes()
        assert sorted(everything) == sorted(ids)
        for node, params in everything.items():
            assert params == sim.get_node_params(node)


class TestIntrospection:
    SIGNATURES = {
        "add_neuron": "(node_id=None)",
        "add_edge": "(pre, post, weight=0.5, edge_id=None)",
        "stimulate": "(node_id, current, duration_ms)",
        "tick": "(dt_ms)",
        "run": "(dt_ms, n_steps)",
        "weight_snapshot": "()",
        "list_nodes": "()",
        "list_synapses": "()",
        "get_node_params": "(node_id)",
        "get_synapse_params": "(edge_id)",
        "all_node_params": "()",
        "all_synapse_params": "()",
        "set_node_param": "(node_id, key, value)",
        "set_synapse_param": "(edge_id, key, value)",
    }
    DOC_FIRST_LINES = {
        "add_neuron": "Add a neuron. If `node_id` is None, a fresh UUIDv4 is minted and",
        "add_edge": "Add an STDP synapse from `pre` to `post`. `edge_id` is optional;",
        "stimulate": "Inject an external stimulation current into `node_id`, lasting",
        "tick": "Advance the simulator by `dt_ms` and return the list of spikes",
        "run": "Run `n_steps` ticks of `dt_ms` each. Returns every spike that",
        "weight_snapshot": "Snapshot of every synapse's current weight, as",
    }

    @pytest.mark.parametrize("name", sorted(SIGNATURES))
    def test_signature_and_doc(self, sim, name):
        method = getattr(vorn_py.Sim, name)
        params = self.SIGNATURES[name]
        assert method.__text_signature__ == "($self" + (", " if params != "()" else "") + params[1:]
        assert str(inspect.signature(getattr(sim, name))) == params
        first = self.DOC_FIRST_LINES.get(name)
        if first is None:
            assert method.__doc__ is None
        else:
            assert method.__doc__.splitlines()[0] == first

    def test_full_docstrings(self):
        assert vorn_py.Sim.add_neuron.__doc__.endswith(
            "returned unchanged. Idempotent \u2014 adding an id twice is a no-op."
        )
        assert vorn_py.Sim.stimulate.__doc__.splitlines()[2] == (
            "node (last-write-wins, matching the substrate's behavior)."
        )
        run_doc = vorn_py.Sim.run.__doc__.splitlines()
        assert run_doc[1] == "fired during the run as `(node_id_str, t_ms)`."
        assert len(run_doc) == 4 and "tick" in run_doc[2]
        assert vorn_py.Sim.weight_snapshot.__doc__.splitlines()[2] == "for persistence / replay."

    def test_properties(self, sim):
        assert vorn_py.Sim.t_ms.__doc__ == "Current simulated time, in ms."
        assert vorn_py.Sim.n_neurons.__doc__ is None
        assert vorn_py.Sim.n_synapses.__doc__ is None
        for name in ("t_ms", "n_neurons", "n_synapses"):
            with pytest.raises(AttributeError):
                setattr(sim, name, 1)
        assert type(sim.t_ms) is float and type(sim.n_neurons) is int


class TestRepr:
    def test_new(self, sim):
        assert repr(sim) == "Sim(t_ms=0.000, n_neurons=0, n_synapses=0)"

    @pytest.mark.parametrize(
        "steps, text",
        [([0.25], "0.250"), ([2.5], "2.500"), ([1.0] * 3, "3.000"), ([0.0005], "0.001")],
    )
    def test_t_ms_three_decimals(self, sim, steps, text):
        for dt in steps:
            sim.tick(dt)
        sim.add_edge(fresh_id(), fresh_id())
        assert repr(sim) == f"Sim(t_ms={text}, n_neurons=2, n_synapses=1)"

    def test_rounds_the_double(self, sim):
        # f32(0.1) + f32(0.2) accumulated in double is 0.30000000447...
        sim.tick(0.1)
        sim.tick(0.2)
        assert sim.t_ms == f32(0.1) + f32(0.2)
        assert repr(sim) == "Sim(t_ms=0.300, n_neurons=0, n_synapses=0)"
        sim.tick(-1000.75)
        assert repr(sim).startswith("Sim(t_ms=-1000.450,")


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
