"""Re-entrant use of a Sim from Python code that runs inside one of its own
methods (an argument's __float__ / __index__)."""

import pytest

import vorn_py
from conftest import CallsBack, fresh_id, raises_text
from test_models import IZHIKEVICH, PLASTIC


READERS = {
    "t_ms": lambda s, ids: s.t_ms,
    "n_neurons": lambda s, ids: s.n_neurons,
    "repr": lambda s, ids: repr(s),
    "list_nodes": lambda s, ids: s.list_nodes(),
    "weight_snapshot": lambda s, ids: s.weight_snapshot(),
    "get_node_params": lambda s, ids: s.get_node_params(ids["a"]),
    "all_synapse_params": lambda s, ids: s.all_synapse_params(),
}
WRITERS = {
    "tick": lambda s, ids: s.tick(1.0),
    "add_neuron": lambda s, ids: s.add_neuron(),
    "set_node_param": lambda s, ids: s.set_node_param(ids["a"], "v", -60.0),
}
OUTER = {
    "stimulate": lambda s, ids, x: s.stimulate(ids["a"], x, 10.0),
    "tick": lambda s, ids, x: s.tick(x),
    "run": lambda s, ids, x: s.run(1.0, x),
    "add_edge": lambda s, ids, x: s.add_edge(ids["a"], ids["b"], weight=x),
    "set_node_param": lambda s, ids, x: s.set_node_param(ids["a"], "v", x),
    # Config values are converted while the Sim is taken too.
    "add_model_neuron": lambda s, ids, x: s.add_model_neuron("izhikevich", dict(IZHIKEVICH, a=x)),
    "add_plastic_edge": lambda s, ids, x: s.add_plastic_edge(
        ids["a"], fresh_id(), dict(PLASTIC, g_syn=x)
    ),
    "set_modulator_base": lambda s, ids, x: s.set_modulator_base(0, x),
    "add_modulator_pulse": lambda s, ids, x: s.add_modulator_pulse(x, 1.0, 5.0),
}


@pytest.fixture
def ids(sim):
    a, b = sim.add_neuron(), sim.add_neuron()
    return {"a": a, "b": b}


@pytest.mark.parametrize("outer", sorted(OUTER))
@pytest.mark.parametrize("inner", sorted(READERS) + sorted(WRITERS))
def test_reentry_inside_a_write_is_refused(sim, ids, outer, inner):
    # A reader finds the Sim taken exclusively, a writer finds it taken.
    expected = "Already mutably borrowed" if inner in READERS else "Already borrowed"
    before = (sim.t_ms, sim.n_neurons, sim.n_synapses, sim.all_node_params())
    arg = CallsBack(lambda: {**READERS, **WRITERS}[inner](sim, ids))
    assert raises_text(RuntimeError, OUTER[outer], sim, ids, arg) == expected
    assert arg.error == expected
    assert (sim.t_ms, sim.n_neurons, sim.n_synapses, sim.all_node_params()) == before


def test_borrow_is_released_after_every_outcome_and_per_sim(sim):
    # After a failed re-entrant call, a failed conversion and a success, the
    # Sim is free again for both readers and writers.
    with pytest.raises(RuntimeError):
        sim.tick(CallsBack(lambda: sim.tick(1.0)))
    with pytest.raises(TypeError):
        sim.tick("x")
    with pytest.raises(ValueError):
        sim.get_node_params(fresh_id())
    assert sim.tick(1.0) == [] and sim.t_ms == 1.0
    # Another Sim is not taken.
    other = vorn_py.Sim()
    sim.tick(CallsBack(lambda: other.tick(5.0)))
    assert other.t_ms == 5.0 and sim.t_ms == 2.0
