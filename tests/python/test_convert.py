"""Python value -> JsonValue conversion (the `value` of set_*_param) and the
way parameter objects come back. A value that converts reaches the engine,
whose parameter errors then tell which kind of JSON value it received; a
value that does not convert fails with one of the three conversion messages."""

import pytest

from conftest import CallsBack, Floaty, Indexy, raises_text

NOT_JSON = "value must be JSON-compatible (None, bool, int, float, str, list, tuple, dict)"
NOT_FINITE = "float value must be finite"
BAD_KEY = "dict keys must be strings"
NOT_NUMBER = "parameter 'v' expects a finite number"
V_RANGE = "parameter 'v' out of range: must be in [-100, 50]"


class F(float):
    pass


class S(str):
    pass


class FloatRaisesTypeError:
    def __float__(self):
        raise TypeError("not today")


@pytest.fixture
def node(sim):
    return sim.add_neuron()


def set_v(sim, node, value):
    return sim.set_node_param(node, "v", value)


@pytest.mark.parametrize(
    "value, stored",
    [(1, 1.0), (-5, -5.0), (2.5, 2.5), (-0.0, 0.0), (F(4.5), 4.5), (Floaty(-12.5), -12.5),
     (Indexy(-3), -3.0)],
)
def test_numbers_convert_and_store(sim, node, value, stored):
    assert set_v(sim, node, value)["v"] == stored


@pytest.mark.parametrize(
    "value, message",
    [
        # Converted, but not numbers: the engine says so.
        (None, NOT_NUMBER), (True, NOT_NUMBER), (False, NOT_NUMBER), ("1", NOT_NUMBER),
        ([1], NOT_NUMBER), ((1, [2, 3]), NOT_NUMBER), ({"a": 1}, NOT_NUMBER), ({}, NOT_NUMBER),
        (S("x"), NOT_NUMBER), (type("D", (dict,), {})(a=1), NOT_NUMBER),
        ({S("k"): 1}, NOT_NUMBER),
        # Converted as integer or double: either way the engine range-checks it.
        (2**63 - 1, V_RANGE), (2**63, V_RANGE), (2**64 - 1, V_RANGE), (2**64, V_RANGE),
        (-(2**63), V_RANGE), (-(2**63) - 1, V_RANGE),
        # Beyond 64 bits it becomes a double; only the narrowing to f32 overflows.
        (10**300, "parameter 'v' out of range: not finite"),
        # Conversion failures.
        (10**400, NOT_JSON), (b"x", NOT_JSON),
        ({1, 2}, NOT_JSON), (object(), NOT_JSON), ("\ud800", NOT_JSON),
        # A TypeError from __float__ means "not a float".
        (FloatRaisesTypeError(), NOT_JSON),
        (float("-inf"), NOT_FINITE), (float("nan"), NOT_FINITE),
        ([1, [2, float("nan")]], NOT_FINITE), ((0, float("inf")), NOT_FINITE),
        ({"a": float("inf")}, NOT_FINITE),
        ({1: 2}, BAD_KEY), ({"a": {2: "x"}}, BAD_KEY), ([{"ok": 1}, {None: 1}], BAD_KEY),
        ([1, b"x"], NOT_JSON), ({"a": [1, {3}]}, NOT_JSON),
        # Depth-first: the first failure wins; a key is checked before its value.
        ([b"x", float("nan")], NOT_JSON), ([float("nan"), b"x"], NOT_FINITE),
        ({1: float("nan")}, BAD_KEY),
    ],
    ids=lambda v: repr(v)[:20] if not isinstance(v, str) else None,
)
def test_values_refused_leave_the_neuron(sim, node, value, message):
    before = sim.get_node_params(node)
    assert raises_text(ValueError, set_v, sim, node, value) == message
    assert sim.get_node_params(node) == before


def test_numpy_scalars(sim, node):
    np = pytest.importorskip("numpy")
    assert raises_text(ValueError, set_v, sim, node, np.bool_(True)) == NOT_NUMBER
    assert set_v(sim, node, np.int64(-7))["v"] == -7.0
    assert set_v(sim, node, np.float32(1.5))["v"] == 1.5


def test_deep_nesting_raises_instead_of_crashing(sim, node):
    value = []
    for _ in range(100_000):
        value = [value]
    with pytest.raises(RecursionError, match="^value nested too deeply to convert$"):
        set_v(sim, node, value)
    cyclic = []
    cyclic.append(cyclic)
    with pytest.raises(RecursionError):
        set_v(sim, node, cyclic)
    # Moderate nesting is fine.
    value = 1.0
    for _ in range(200):
        value = [value]
    assert raises_text(ValueError, set_v, sim, node, value) == NOT_NUMBER


@pytest.mark.parametrize(
    "mutate",
    [
        lambda d: d.__setitem__("zz", 1),
        lambda d: d.clear(),
        lambda d: (d.pop("c"), d.__setitem__("d", 1)),
        lambda d: (d.pop("a"), d.__setitem__("a", 1)),
    ],
    ids=["grow", "clear", "swap-future-key", "reinsert-current-key"],
)
def test_dict_changed_during_conversion_panics(sim, node, mutate):
    d = {"a": 0, "b": 0, "c": 0}
    d["a"] = CallsBack(lambda: mutate(d))
    with pytest.raises(BaseException) as info:
        set_v(sim, node, d)
    err = info.value
    assert (type(err).__name__, type(err).__module__) == ("PanicException", "vorn_py")
    assert not isinstance(err, Exception) and "dictionary" in str(err)
    # The neuron was not touched and the Sim is usable afterwards.
    assert sim.get_node_params(node)["v"] == -65.0
    assert set_v(sim, node, -60.0)["v"] == -60.0


def test_containers_changed_during_conversion_are_safe(sim, node):
    # Replacing the value being converted drops the dict's reference to it;
    # the conversion holds its own, so nothing is freed under its feet.
    d = {"a": None}
    d["a"] = CallsBack(lambda: d.__setitem__("a", [0] * 1000))
    assert raises_text(ValueError, set_v, sim, node, d) == NOT_NUMBER
    # A list re-reads its length: without that the bytes item would fail ...
    items = []
    items.extend([CallsBack(items.clear), b"never reached"])
    assert raises_text(ValueError, set_v, sim, node, items) == NOT_NUMBER
    # ... and items appended during the walk are not visited either.
    grows = []
    grows.extend([CallsBack(lambda: grows.append(b"late")), 1])
    assert raises_text(ValueError, set_v, sim, node, grows) == NOT_NUMBER


def test_params_come_back_as_fresh_sorted_dicts(sim, node):
    params = sim.get_node_params(node)
    assert list(params) == [
        "epsc", "id", "refractory_left", "refractory_ms", "tau_m",
        "tau_syn", "v", "v_reset", "v_rest", "v_thresh",
    ]
    assert params["id"] == node
    assert params["v"] == -65.0 and type(params["v"]) is float
    params["v"] = 0.0
    assert sim.get_node_params(node)["v"] == -65.0


def test_set_returns_params_after_change(sim):
    a, b = sim.add_neuron(), sim.add_neuron()
    e = sim.add_edge(a, b)
    result = sim.set_synapse_param(e, "tau_plus", 5.0)
    assert result == sim.get_synapse_params(e) and len(result) == 13
    assert (result["tau_plus"], result["id"], result["pre_id"], result["post_id"]) == (5.0, e, a, b)
