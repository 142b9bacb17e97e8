"""Argument conventions shared by every method: structure errors, type
conversion with the "argument '{}': {}" wrapper, overflow, ids."""

import inspect
import uuid

import pytest

from vorn_py import Sim, seeds

from conftest import Floaty, Indexy, f32, fresh_id, new_cortex, raises_text


@pytest.mark.parametrize(
    "call, fragment",
    [
        (lambda s: s.add_edge(fresh_id()), "'post'"),
        (lambda s: s.stimulate(fresh_id(), 1.0), "'duration_ms'"),
        (lambda s: s.add_edge(fresh_id(), fresh_id(), pre=fresh_id()), "given by name ('pre')"),
        (lambda s: s.list_nodes(1), "takes no arguments"),
        (lambda s: s.get_node_params(), "'node_id'"),
        (lambda s: type(s)(1), "0 arguments"),
        (lambda s: type(s)(x=1), "0 keyword arguments"),
    ],
    ids=["missing", "missing-last", "given-twice", "no-args", "none", "ctor-positional",
         "ctor-keyword"],
)
def test_call_structure_errors(sim, call, fragment):
    message = raises_text(TypeError, call, sim)
    assert fragment in message
    # Structure errors are raised before conversion: never wrapped.
    assert not message.startswith("argument '")


def test_all_parameters_accept_keywords(sim):
    a, b, e = fresh_id(), fresh_id(), fresh_id()
    assert sim.add_neuron(node_id=a) == a
    assert sim.add_edge(post=b, pre=a, edge_id=e, weight=0.25) == e
    sim.stimulate(duration_ms=5.0, current=1.0, node_id=a)
    assert sim.run(n_steps=2, dt_ms=0.5) == [] and sim.tick(dt_ms=1.0) == []
    assert sim.t_ms == 2.0
    assert sim.set_synapse_param(edge_id=e, key="weight", value=0.5)["weight"] == 0.5
    assert sim.get_synapse_params(edge_id=e)["weight"] == 0.5
    assert sim.set_node_param(node_id=a, key="v", value=-60)["v"] == -60.0
    assert sim.get_node_params(node_id=a)["v"] == -60.0


def test_type_error_is_wrapped_with_cause(sim):
    with pytest.raises(TypeError) as info:
        sim.tick("3")
    err = info.value
    assert isinstance(err.__cause__, TypeError)
    assert str(err) == f"argument 'dt_ms': {err.__cause__}"
    assert "str" in str(err.__cause__)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda s: s.add_neuron(5), "argument 'node_id': expected str, got int"),
        (lambda s: s.add_neuron(b"x"), "argument 'node_id': expected str, got bytes"),
        (lambda s: s.add_edge(fresh_id(), fresh_id(), None),
         "argument 'weight': must be real number, not NoneType"),
        (lambda s: s.run(1.0, "3"),
         "argument 'n_steps': 'str' object cannot be interpreted as an integer"),
        (lambda s: s.run(1.0, 2.0),
         "argument 'n_steps': 'float' object cannot be interpreted as an integer"),
        (lambda s: s.set_node_param(fresh_id(), 1, 0.0), "argument 'key': expected str, got int"),
    ],
)
def test_wrong_types_name_the_argument(sim, call, message):
    assert raises_text(TypeError, call, sim) == message


def test_arguments_convert_in_parameter_order_then_ids_parse(sim):
    # Every argument is wrong: the first in signature order is reported.
    assert raises_text(TypeError, sim.add_edge, 1, 2, "w", 3).startswith("argument 'pre'")
    assert raises_text(TypeError, sim.stimulate, 1, "c", "d").startswith("argument 'node_id'")
    node = sim.add_neuron()
    assert raises_text(TypeError, sim.stimulate, node, "c", "d").startswith("argument 'current'")
    # Type conversion of every argument happens before any id is parsed ...
    assert raises_text(TypeError, sim.add_edge, "xyz", 5).startswith("argument 'post'")
    # ... and the ids then parse as pre, post, edge_id.
    assert raises_text(ValueError, sim.add_edge, "bad", "worse", edge_id="worst").startswith("pre ")
    assert raises_text(ValueError, sim.add_edge, fresh_id(), "worse", edge_id="x").startswith("post ")


@pytest.mark.parametrize("value", [-1, 2**64, -(2**70)])
def test_unsigned_overflow_passes_through(sim, value):
    assert not raises_text(OverflowError, sim.run, 1.0, value).startswith("argument")
    assert sim.t_ms == 0.0


def test_numbers_accept_int_float_and_index_protocols(sim):
    for call, t_ms in [(lambda: sim.tick(2), 2.0), (lambda: sim.tick(Floaty(0.5)), 2.5),
                       (lambda: sim.tick(Indexy(1)), 3.5), (lambda: sim.run(1.0, Indexy(2)), 5.5),
                       (lambda: sim.run(1.0, True), 6.5)]:
        call()
        assert sim.t_ms == t_ms
    # Float arguments are narrowed to single precision.
    sim.tick(0.1)
    assert sim.t_ms == 6.5 + f32(0.1)


def test_float_dunder_errors_other_than_type_errors_pass_through(sim):
    class Broken:
        def __float__(self):
            raise KeyError("boom")

    # Both for a float argument and for a JSON value.
    node = sim.add_neuron()
    for call in (sim.tick, lambda x: sim.set_node_param(node, "v", x)):
        with pytest.raises(KeyError):
            call(Broken())
    assert sim.t_ms == 0.0 and sim.get_node_params(node)["v"] == -65.0


@pytest.mark.parametrize(
    "form",
    [
        lambda u: "{" + str(u).upper() + "}",
        lambda u: "URN:UUID:" + str(u).upper(),
        lambda u: u.hex,
    ],
    ids=["braced-upper", "urn-upper", "bare"],
)
def test_uuid_forms_come_back_canonical(sim, form):
    u = uuid.uuid4()
    assert sim.add_neuron(form(u)) == str(u)
    assert sim.list_nodes() == [str(u)]
    assert sim.get_node_params(form(u))["id"] == str(u)


@pytest.mark.parametrize(
    "call, name",
    [
        (lambda s: s.add_neuron("xyz"), "node_id"),
        (lambda s: s.add_edge("xyz", fresh_id()), "pre"),
        (lambda s: s.add_edge(fresh_id(), "xyz"), "post"),
        (lambda s: s.add_edge(fresh_id(), fresh_id(), edge_id="xyz"), "edge_id"),
        (lambda s: s.stimulate("xyz", 1.0, 1.0), "node_id"),
        (lambda s: s.get_node_params("xyz"), "node_id"),
        (lambda s: s.get_synapse_params("xyz"), "edge_id"),
        (lambda s: s.set_node_param("xyz", "v", 0.0), "node_id"),
        (lambda s: s.set_synapse_param("xyz", "weight", 0.0), "edge_id"),
    ],
)
def test_unparsable_uuid_names_the_argument(sim, call, name):
    message = raises_text(ValueError, call, sim)
    prefix = f"{name} must be a UUID string: "
    assert message.startswith(prefix) and len(message) > len(prefix)
    assert sim.n_neurons == 0 and sim.n_synapses == 0


def test_every_method_reports_call_shape_errors_alike(tmp_path):
    # All methods with parameters bind their arguments the same way: a
    # surplus positional argument or an unknown keyword is refused before
    # anything runs, in the same words, naming the method.
    owners = [Sim(), new_cortex(tmp_path / "x"), seeds]
    checked = 0
    for owner in owners:
        for name in dir(owner):
            fn = getattr(owner, name)
            if name.startswith("_") or not inspect.isbuiltin(fn) or fn.__text_signature__ is None:
                continue
            params = inspect.signature(fn).parameters.values()
            if not params:
                continue
            positional = sum(p.kind is p.POSITIONAL_OR_KEYWORD for p in params)
            plural = "" if positional == 1 else "s"
            assert raises_text(TypeError, fn, *[None] * (positional + 1)) == (
                f"{fn.__name__}() takes at most {positional} positional argument{plural} "
                f"({positional + 1} given)")
            assert raises_text(TypeError, fn, no_such_parameter=1) == (
                f"{fn.__name__}() got an unexpected keyword argument 'no_such_parameter'")
            checked += 1
    assert checked >= 45
