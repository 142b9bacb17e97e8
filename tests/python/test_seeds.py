"""The seeds submodule: registration, generator functions, argument handling
and the Seed object's lifecycle."""

import inspect
import math
import os
import subprocess
import sys

import pytest

import vorn_py
from vorn_py import seeds
from conftest import f32, raises_text

LONG_NAMES = ["random_seed", "ring_seed", "small_world_seed", "layered_seed"]
SHORT_NAMES = ["random", "ring", "small_world", "layered"]


def apply_into(tmp_path, seed, name="net.cortex"):
    cx = vorn_py.Cortex.create(str(tmp_path / name), "net", "lif", "2024-01-01T00:00:00Z")
    cx.apply_seed(seed)
    return cx


def records(tmp_path, make_seed):
    """The nodes and edges of a freshly generated seed, read back through a folder."""
    cx = apply_into(tmp_path, make_seed(), name=f"r{len(os.listdir(tmp_path))}.cortex")
    return cx.nodes(), cx.edges()


# ---- registration -------------------------------------------------------


def test_submodule_attributes_and_order():
    assert seeds.__name__ == "seeds"
    assert seeds.__all__ == ["Seed", *LONG_NAMES, *SHORT_NAMES]
    assert [n for n in vars(seeds) if n in seeds.__all__] == seeds.__all__
    for long, short in zip(LONG_NAMES, SHORT_NAMES):
        assert getattr(seeds, short) is getattr(seeds, long)
        assert getattr(seeds, short).__name__ == long


def test_submodule_is_attribute_only():
    code = (
        "import vorn_py\n"
        "try:\n"
        "    import vorn_py.seeds\n"
        "    print('imported')\n"
        "except ImportError:\n"
        "    print('ImportError')\n"
        "from vorn_py import seeds\n"
        "print(seeds.__name__)\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["ImportError", "seeds"]
    assert "vorn_py.seeds" not in sys.modules


def test_seed_class_identity_and_no_constructor():
    s = seeds.ring(3, 1)
    assert type(s) is seeds.Seed
    assert type(s).__name__ == "Seed"
    assert seeds.Seed.__module__ == "seeds"
    assert raises_text(TypeError, seeds.Seed) == "No constructor defined for Seed"
    for prop in ("n_nodes", "n_edges"):
        with pytest.raises(AttributeError):
            setattr(s, prop, 1)
    doc = seeds.Seed.__doc__
    assert "Cortex.apply_seed" in doc and "ValueError" in doc


@pytest.mark.parametrize(
    "name, signature, doc_start",
    [
        ("random_seed", "(n, p, seed=0, weight_lo=None, weight_hi=None, delay_ms=None)",
         "`vorn_py.seeds.random(n, p, seed=0, weight_lo=0.4, weight_hi=0.6, delay_ms=1.0)`"),
        ("ring_seed", "(n, k, seed=0, weight_lo=None, weight_hi=None, delay_ms=None)",
         "`vorn_py.seeds.ring(n, k, seed=0, weight_lo=..., weight_hi=..., delay_ms=...)`"),
        ("small_world_seed",
         "(n, k, p_rewire, seed=0, weight_lo=None, weight_hi=None, delay_ms=None)",
         "`vorn_py.seeds.small_world(n, k, p_rewire, seed=0, ...)`"),
        ("layered_seed", "(layers, seed=0, weight_lo=None, weight_hi=None, delay_ms=None)",
         "`vorn_py.seeds.layered(layers, seed=0, ...)` \u2014 layers is a list\n"
         "of layer sizes, e.g. `[2, 5, 1]`."),
    ],
)
def test_function_signatures_and_docstrings(name, signature, doc_start):
    fn = getattr(seeds, name)
    assert fn.__text_signature__ == signature
    assert str(inspect.signature(fn)) == signature
    assert fn.__doc__ == doc_start
    assert fn.__module__ == "seeds"


# ---- generated sizes and content ----------------------------------------


def test_sizes_and_representation():
    ring = seeds.ring(5, 2)
    assert (ring.n_nodes, ring.n_edges) == (5, 20)
    assert repr(ring) == "Seed(n_nodes=5, n_edges=20)"
    layered = seeds.layered([2, 5, 1])
    assert (layered.n_nodes, layered.n_edges) == (8, 2 * 5 + 5 * 1)
    full = seeds.random(4, 1.0)
    assert (full.n_nodes, full.n_edges) == (4, 4 * 3)
    assert seeds.random(4, 0).n_edges == 0
    assert seeds.small_world(6, 1, 0.5).n_edges == 2 * 6 * 1
    assert seeds.ring(3, 0).n_edges == 0


def test_layers_accept_any_sequence_of_integers():
    class Size:
        def __init__(self, n):
            self.n = n

        def __index__(self):
            return self.n

    assert seeds.layered((2, 3)).n_edges == 6
    assert seeds.layered([Size(2), Size(3)]).n_edges == 6
    assert seeds.layered(range(1, 4)).n_nodes == 6


def test_same_arguments_give_identical_records(tmp_path):
    first = records(tmp_path, lambda: seeds.random(3, 0.5, seed=7))
    second = records(tmp_path, lambda: seeds.random(3, 0.5, seed=7))
    assert first == second
    other = records(tmp_path, lambda: seeds.random(3, 0.5, seed=8))
    assert {n[0] for n in other[0]}.isdisjoint({n[0] for n in first[0]})
    # The default seed is 0, and seed 0 yields the generator's documented first id.
    default = records(tmp_path, lambda: seeds.ring(5, 2))
    assert default == records(tmp_path, lambda: seeds.ring(5, 2, seed=0))
    assert default[0][0][:2] == ("8c189668-c9e4-4372-b7bf-31e02d7f6b70", "n0")


def test_small_world_without_rewiring_is_the_ring(tmp_path):
    ring = records(tmp_path, lambda: seeds.ring(6, 2, seed=3))
    assert records(tmp_path, lambda: seeds.small_world(6, 2, 0.0, seed=3)) == ring


def test_rewired_duplicates_are_generated_but_refused_on_insertion(tmp_path):
    # Every target redrawn among 6 nodes: some (pre, post) pair repeats.
    rewired = seeds.small_world(6, 2, 1.0, seed=3)
    assert (rewired.n_nodes, rewired.n_edges) == (6, 24)
    cx = vorn_py.Cortex.create(str(tmp_path / "x"), "x", "lif", "t")
    message = raises_text(ValueError, cx.apply_seed, rewired)
    assert message.endswith("duplicates an existing (pre, post, kind) triple")
    assert (cx.n_nodes(), cx.n_edges()) == (0, 0)


def test_weight_bounds_only_apply_together(tmp_path):
    default = records(tmp_path, lambda: seeds.ring(5, 2, seed=1))
    assert records(tmp_path, lambda: seeds.ring(5, 2, seed=1, weight_lo=0.1)) == default
    assert records(tmp_path, lambda: seeds.ring(5, 2, seed=1, weight_hi=0.9)) == default
    assert all(f32(0.4) <= e[3] <= f32(0.6) for e in default[1])

    narrow = records(tmp_path, lambda: seeds.ring(5, 2, seed=1, weight_lo=0.1, weight_hi=0.2))
    weights = [e[3] for e in narrow[1]]
    assert all(f32(0.1) <= w <= f32(0.2) for w in weights)
    assert len(set(weights)) > 1

    # Equal bounds draw no number: every weight is the bound, ids shift.
    fixed = records(tmp_path, lambda: seeds.ring(5, 2, seed=1, weight_lo=0.5, weight_hi=0.5))
    assert {e[3] for e in fixed[1]} == {0.5}
    assert [e[0] for e in fixed[1]] != [e[0] for e in default[1]]


def test_delay_reaches_every_edge(tmp_path):
    _, edges = records(tmp_path, lambda: seeds.layered([2, 2], delay_ms=2.5))
    assert {e[4] for e in edges} == {2.5}
    _, edges = records(tmp_path, lambda: seeds.layered([2, 2], delay_ms=None))
    assert {e[4] for e in edges} == {1.0}


def test_layered_labels_and_no_kinds(tmp_path):
    nodes, edges = records(tmp_path, lambda: seeds.layered([2, 3]))
    assert [n[1] for n in nodes] == ["L0-n0", "L0-n1", "L1-n0", "L1-n1", "L1-n2"]
    assert {n[2] for n in nodes} == {None}
    assert {e[5] for e in edges} == {None}


# ---- argument and generator errors --------------------------------------


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: seeds.random(3, 1.5), "probability 'p'=1.5 must be in [0.0, 1.0]"),
        (lambda: seeds.small_world(0, 5, math.nan),
         "probability 'p_rewire'=NaN must be in [0.0, 1.0]"),
        (lambda: seeds.ring(4, 2), "ring degree k=2 is too large for n=4 neurons (need 2k < n)"),
        (lambda: seeds.layered([3]), "layered() requires at least 2 layers"),
        (lambda: seeds.layered([2, 0, 1]), "layered() layer 1 has 0 neurons"),
        (lambda: seeds.ring(5, 2, weight_lo=0.7, weight_hi=0.2),
         "weight_range [0.7, 0.2] is not a valid subrange of [0.0, 1.0]"),
        (lambda: seeds.ring(5, 2, delay_ms=-1), "delay_ms -1 is not finite or is negative"),
        (lambda: seeds.random(2, 0.5, delay_ms=math.inf),
         "delay_ms inf is not finite or is negative"),
    ],
)
def test_generator_errors_are_value_errors_with_their_text(call, message):
    assert raises_text(ValueError, call) == message


def test_negative_zero_delay_is_accepted():
    assert seeds.ring(3, 1, delay_ms=-0.0).n_edges == 6


def test_integers_out_of_range_overflow_unchanged():
    raises_text(OverflowError, seeds.ring, -1, 1)
    raises_text(OverflowError, seeds.ring, 5, 2, seed=2**64)
    raises_text(OverflowError, seeds.layered, [2, -3])


@pytest.mark.parametrize(
    "call, argument",
    [
        (lambda: seeds.ring("3", 1), "n"),
        (lambda: seeds.random(3, "0.5"), "p"),
        (lambda: seeds.ring(5, 2, seed=1.0), "seed"),
        (lambda: seeds.ring(5, 2, weight_lo="0.1", weight_hi=0.2), "weight_lo"),
        (lambda: seeds.small_world(5, 1, None), "p_rewire"),
        (lambda: seeds.layered("25"), "layers"),
        (lambda: seeds.layered([2, "5"]), "layers"),
        (lambda: seeds.layered(7), "layers"),
    ],
)
def test_wrong_types_name_the_argument(call, argument):
    assert raises_text(TypeError, call).startswith(f"argument '{argument}': ")


def test_arguments_convert_in_signature_order():
    # n fails (overflow) before p (type); p fails before the generator checks n.
    raises_text(OverflowError, seeds.random, -1, "x")
    assert raises_text(TypeError, seeds.random, 1, "x").startswith("argument 'p': ")
    # A failing conversion wins over the generator's own checks.
    assert raises_text(TypeError, seeds.ring, 4, 2, delay_ms="1").startswith(
        "argument 'delay_ms': ")


def test_calling_convention():
    assert seeds.ring(n=5, k=2).n_edges == 20
    assert seeds.random(3, 1).n_edges == 6  # an int is a valid float argument
    for bad in ((5,), (5, 2, 0, None, None, None, 1)):
        with pytest.raises(TypeError):
            seeds.ring(*bad)


# ---- lifecycle -----------------------------------------------------------


def test_applied_seed_is_empty_and_refuses_a_second_apply(tmp_path):
    s = seeds.ring(5, 2)
    cx = apply_into(tmp_path, s)
    assert repr(s) == "Seed(applied)"
    assert (s.n_nodes, s.n_edges) == (0, 0)
    folder = tmp_path / "net.cortex"
    before = {p.name: p.read_bytes() for p in folder.iterdir()}
    assert raises_text(ValueError, cx.apply_seed, s) == "seed has already been applied"
    assert {p.name: p.read_bytes() for p in folder.iterdir()} == before
    assert (cx.n_nodes(), cx.n_edges()) == (5, 20)


def test_seed_is_emptied_even_when_insertion_fails(tmp_path):
    cx = apply_into(tmp_path, seeds.ring(5, 2))
    again = seeds.ring(5, 2)
    first_id = cx.node_ids()[0]
    assert raises_text(ValueError, cx.apply_seed, again) == f"duplicate node id {first_id}"
    assert repr(again) == "Seed(applied)"
    assert (cx.n_nodes(), cx.n_edges()) == (5, 20)


def test_seed_survives_a_refused_call(tmp_path):
    s = seeds.ring(3, 1)
    cx = vorn_py.Cortex.create(str(tmp_path / "x"), "x", "lif", "t")
    with pytest.raises(TypeError):
        cx.apply_seed(s, s)
    assert repr(s) == "Seed(n_nodes=3, n_edges=6)"
