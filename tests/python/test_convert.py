"""Python value -> JsonValue conversion (the `value` of set_*_param) and the
way parameter objects come back. A value that converts reaches the engine,
whose parameter errors then tell which kind of JSON value it received; a
value that does not convert fails with one of the three conversion messages."""

import pytest

from conftest import fresh_id, raises_text

NOT_JSON = "value must be JSON-compatible (None, bool, int, float, str, list, tuple, dict)"
NOT_FINITE = "float value must be finite"
BAD_KEY = "dict keys must be strings"
NOT_NUMBER = "parameter 'v' expects a finite number"
V_RANGE = "parameter 'v' out of range: must be in [-100, 50]"


@pytest.fixture
def node(sim):
    return sim.add_neuron()


def set_v(sim, node, value):
    return sim.set_node_param(node, "v", value)


@pytest.mark.parametrize(
    "value, stored",
    [
        (1, 1.0),
        (-5, -5.0),
        (2.5, 2.5),
        (-0.0, 0.0),
    ],
)
def test_numbers_convert_and_store(sim, node, value, stored):
    assert set_v(sim, node, value)["v"] == stored


@pytest.mark.parametrize(
    "value",
    [None, True, False, "1", [1], (1, [2, 3]), {"a": 1}, {}],
    ids=["none", "true", "false", "str", "list", "nested-tuple", "dict", "empty-dict"],
)
def test_non_numbers_convert_but_are_not_numbers(sim, node, value):
    # Conversion succeeded (no conversion message); the engine saw a non-number.
    assert raises_text(ValueError, set_v, sim, node, value) == NOT_NUMBER


def test_numpy_bool_is_a_bool_not_a_number(sim, node):
    np = pytest.importorskip("numpy")
    assert raises_text(ValueError, set_v, sim, node, np.bool_(True)) == NOT_NUMBER
    # numpy integers and floats are numbers.
    assert set_v(sim, node, np.int64(-7))["v"] == -7.0
    assert set_v(sim, node, np.float32(1.5))["v"] == 1.5


@pytest.mark.parametrize(
    "value",
    [2**63 - 1, 2**63, 2**64 - 1, 2**64, -(2**63), -(2**63) - 1],
    ids=["i64-max", "2^63", "u64-max", "2^64", "i64-min", "below-i64"],
)
def test_large_integers_are_numbers(sim, node, value):
    # Converted as integer or double: either way the engine range-checks it.
    assert raises_text(ValueError, set_v, sim, node, value) == V_RANGE


def test_integer_beyond_64_bits_becomes_a_double(sim, node):
    # It converts (to a double); only the narrowing to f32 overflows.
    message = raises_text(ValueError, set_v, sim, node, 10**300)
    assert message == "parameter 'v' out of range: not finite"


@pytest.mark.parametrize(
    "value, message",
    [
        (10**400, NOT_JSON),
        (-(10**400), NOT_JSON),
        (b"x", NOT_JSON),
        (bytearray(b"x"), NOT_JSON),
        ({1, 2}, NOT_JSON),
        (object(), NOT_JSON),
        ("\ud800", NOT_JSON),
        (float("inf"), NOT_FINITE),
        (float("-inf"), NOT_FINITE),
        (float("nan"), NOT_FINITE),
        ([1, [2, float("nan")]], NOT_FINITE),
        ((0, float("inf")), NOT_FINITE),
        ({"a": float("inf")}, NOT_FINITE),
        ({1: 2}, BAD_KEY),
        ({"a": {2: "x"}}, BAD_KEY),
        ([{"ok": 1}, {None: 1}], BAD_KEY),
        ([1, b"x"], NOT_JSON),
        ({"a": [1, {3}]}, NOT_JSON),
    ],
    ids=lambda v: repr(v)[:20] if not isinstance(v, str) else None,
)
def test_conversion_failures(sim, node, value, message):
    before = sim.get_node_params(node)
    assert raises_text(ValueError, set_v, sim, node, value) == message
    assert sim.get_node_params(node) == before


def test_first_failure_wins_depth_first(sim, node):
    assert raises_text(ValueError, set_v, sim, node, [b"x", float("nan")]) == NOT_JSON
    assert raises_text(ValueError, set_v, sim, node, [float("nan"), b"x"]) == NOT_FINITE
    # The key is checked before its value.
    assert raises_text(ValueError, set_v, sim, node, {1: float("nan")}) == BAD_KEY


def test_subclasses_and_conversion_protocols(sim, node):
    class F(float):
        pass

    class S(str):
        pass

    class L(list):
        pass

    class T(tuple):
        pass

    class D(dict):
        pass

    class HasFloat:
        def __float__(self):
            return -12.5

    class HasIndex:
        def __index__(self):
            return -3

    assert set_v(sim, node, F(4.5))["v"] == 4.5
    assert set_v(sim, node, HasFloat())["v"] == -12.5
    assert set_v(sim, node, HasIndex())["v"] == -3.0
    for value in (S("x"), L([1]), T((1,)), D(a=1), {S("k"): 1}):
        assert raises_text(ValueError, set_v, sim, node, value) == NOT_NUMBER


def test_float_dunder_errors_other_than_type_and_overflow_propagate(sim, node):
    class Angry:
        def __float__(self):
            raise KeyError("nope")

    with pytest.raises(KeyError):
        set_v(sim, node, Angry())

    class Failing:
        def __float__(self):
            raise TypeError("not today")

    # A TypeError means "not a float": the value is simply not JSON-compatible.
    assert raises_text(ValueError, set_v, sim, node, Failing()) == NOT_JSON


def test_deep_nesting_raises_instead_of_crashing(sim, node):
    value = []
    for _ in range(100_000):
        value = [value]
    with pytest.raises(RecursionError):
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


def _is_panic(err: BaseException) -> bool:
    return (
        type(err).__name__ == "PanicException"
        and type(err).__module__ == "vorn_py"
        and not isinstance(err, Exception)
    )


class Mutator:
    """A number whose conversion runs `action` first."""

    def __init__(self, action):
        self.action = action

    def __float__(self):
        self.action()
        return 1.0


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
    d["a"] = Mutator(lambda: mutate(d))
    with pytest.raises(BaseException) as info:
        set_v(sim, node, d)
    assert _is_panic(info.value), repr(info.value)
    assert "dictionary" in str(info.value)
    # The neuron was not touched and the Sim is usable afterwards.
    assert sim.get_node_params(node)["v"] == -65.0
    assert set_v(sim, node, -60.0)["v"] == -60.0


def test_dict_value_replaced_during_conversion_is_safe(sim, node):
    # Replacing the value being converted drops the dict's reference to it;
    # the conversion holds its own, so nothing is freed under its feet.
    d = {"a": None}
    d["a"] = Mutator(lambda: d.__setitem__("a", [0] * 1000))
    assert raises_text(ValueError, set_v, sim, node, d) == NOT_NUMBER


def test_list_shrinking_during_conversion_stops_early(sim, node):
    items = []
    items.extend([Mutator(lambda: items.clear()), b"never reached"])
    # Without the re-read length the bytes item would fail the conversion.
    assert raises_text(ValueError, set_v, sim, node, items) == NOT_NUMBER
    grows = []
    grows.extend([Mutator(lambda: grows.append(b"late")), 1])
    # Items appended during the walk are not visited either.
    assert raises_text(ValueError, set_v, sim, node, grows) == NOT_NUMBER


def test_params_come_back_as_fresh_sorted_dicts(sim, node):
    params = sim.get_node_params(node)
    assert list(params) == sorted(params)
    assert list(params) == [
        "epsc", "id", "refractory_left", "refractory_ms", "tau_m",
        "tau_syn", "v", "v_reset", "v_rest", "v_thresh",
    ]
    assert params["id"] == node
    assert params["v"] == -65.0 and type(params["v"]) is float
    params["v"] = 0.0
    assert sim.get_node_params(node)["v"] == -65.0
    assert sim.get_node_params(node) is not sim.get_node_params(node)


def test_set_returns_params_after_change(sim):
    a, b = sim.add_neuron(), sim.add_neuron()
    e = sim.add_edge(a, b)
    result = sim.set_synapse_param(e, "tau_plus", 5.0)
    assert result == sim.get_synapse_params(e)
    assert result["tau_plus"] == 5.0
    assert (result["id"], result["pre_id"], result["post_id"]) == (e, a, b)
    assert len(result) == 13
