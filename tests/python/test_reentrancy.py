"""Re-entrant use of a Sim from Python code that runs inside one of its own
methods (an argument's __float__ / __index__)."""

import pytest

import vorn_py
from conftest import CallsBack, fresh_id, raises_text
from test_models import IZHIKEVICH


# One reader and one writer re-entering, from outer calls that convert a
# plain number, a count of steps and a config value while holding the Sim.
READERS = {"t_ms": lambda s, ids: s.t_ms, "list_nodes": lambda s, ids: s.list_nodes()}
WRITERS = {"tick": lambda s, ids: s.tick(1.0)}
OUTER = {
    "tick": lambda s, ids, x: s.tick(x),
    "run": lambda s, ids, x: s.run(1.0, x),
    "add_edge": lambda s, ids, x: s.add_edge(ids["a"], ids["b"], weight=x),
    "add_model_neuron": lambda s, ids, x: s.add_model_neuron("izhikevich", dict(IZHIKEVICH, a=x)),
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
