"""The seed generator functions: what the binding adds to the generators
(argument handling, weight bounds, defaults) and the Seed object's lifecycle."""

import pytest

from vorn_py import seeds
from conftest import Indexy, f32, new_cortex, raises_text


@pytest.fixture
def records(tmp_path):
    """The nodes and edges of a seed, read back through a fresh folder."""
    made = []

    def read(seed):
        cx = new_cortex(tmp_path / f"r{len(made)}.cortex")
        made.append(cx)
        cx.apply_seed(seed)
        return cx.nodes(), cx.edges()

    return read


def test_sizes_and_representation():
    ring = seeds.ring(5, 2)
    assert (ring.n_nodes, ring.n_edges) == (5, 20)
    assert repr(ring) == "Seed(n_nodes=5, n_edges=20)"
    layered = seeds.layered([2, 5, 1])
    assert (layered.n_nodes, layered.n_edges) == (8, 15)
    # Layers may be any sequence of integers.
    assert seeds.layered((2, 3)).n_edges == seeds.layered([Indexy(2), Indexy(3)]).n_edges == 6
    assert seeds.layered(range(1, 4)).n_nodes == 6
    # Keywords, and an int for a float argument.
    assert seeds.ring(n=5, k=2).n_edges == 20
    assert seeds.random(3, 1).n_edges == 6


def test_default_seed_and_repeatable_records(records):
    default = records(seeds.ring(5, 2))
    assert default == records(seeds.ring(5, 2, seed=0))
    assert default[0][0][:2] == ("8c189668-c9e4-4372-b7bf-31e02d7f6b70", "n0")
    assert records(seeds.random(3, 0.5, seed=7)) == records(seeds.random(3, 0.5, seed=7))


def test_weight_bounds_only_apply_together(records):
    default = records(seeds.ring(5, 2, seed=1))
    assert records(seeds.ring(5, 2, seed=1, weight_lo=0.1)) == default
    assert records(seeds.ring(5, 2, seed=1, weight_hi=0.9)) == default
    assert all(f32(0.4) <= e[3] <= f32(0.6) for e in default[1])

    weights = [e[3] for e in records(seeds.ring(5, 2, seed=1, weight_lo=0.1, weight_hi=0.2))[1]]
    assert all(f32(0.1) <= w <= f32(0.2) for w in weights)
    assert len(set(weights)) > 1


def test_delay_and_no_kinds_reach_every_edge(records):
    nodes, edges = records(seeds.layered([2, 2], delay_ms=2.5))
    assert {e[4] for e in edges} == {2.5}
    assert {n[2] for n in nodes} == {e[5] for e in edges} == {None}
    assert {e[4] for e in records(seeds.layered([2, 2], delay_ms=None))[1]} == {1.0}


def test_generator_errors_are_value_errors_with_their_text():
    assert raises_text(ValueError, seeds.random, 3, 1.5) == (
        "probability 'p'=1.5 must be in [0.0, 1.0]")
    # Both bounds given reach the generator's check.
    assert raises_text(ValueError, seeds.ring, 5, 2, weight_lo=0.7, weight_hi=0.2) == (
        "weight_range [0.7, 0.2] is not a valid subrange of [0.0, 1.0]")


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
        # A failing conversion wins over the generator's own checks.
        (lambda: seeds.ring(4, 2, delay_ms="1"), "delay_ms"),
        # n converts before p; p fails before the generator checks n.
        (lambda: seeds.random(1, "x"), "p"),
    ],
)
def test_wrong_types_name_the_argument(call, argument):
    assert raises_text(TypeError, call).startswith(f"argument '{argument}': ")


def test_overflow_passes_through():
    raises_text(OverflowError, seeds.ring, -1, 1)
    raises_text(OverflowError, seeds.ring, 5, 2, seed=2**64)
    raises_text(OverflowError, seeds.random, -1, "x")  # n converts (and fails) before p
    raises_text(OverflowError, seeds.layered, [2, -3])


# ---- lifecycle -----------------------------------------------------------


def test_applied_seed_is_empty_and_refuses_a_second_apply(tmp_path):
    s = seeds.ring(5, 2)
    cx = new_cortex(tmp_path / "net.cortex")
    cx.apply_seed(s)
    assert repr(s) == "Seed(applied)"
    assert (s.n_nodes, s.n_edges) == (0, 0)
    folder = tmp_path / "net.cortex"
    before = {p.name: p.read_bytes() for p in folder.iterdir()}
    assert raises_text(ValueError, cx.apply_seed, s) == "seed has already been applied"
    assert {p.name: p.read_bytes() for p in folder.iterdir()} == before
    assert (cx.n_nodes(), cx.n_edges()) == (5, 20)


def test_seed_is_emptied_even_when_insertion_fails(tmp_path):
    cx = new_cortex(tmp_path / "net.cortex")
    cx.apply_seed(seeds.ring(5, 2))
    again = seeds.ring(5, 2)
    assert raises_text(ValueError, cx.apply_seed, again) == f"duplicate node id {cx.node_ids()[0]}"
    assert repr(again) == "Seed(applied)"
    assert (cx.n_nodes(), cx.n_edges()) == (5, 20)


def test_seed_survives_a_refused_call(tmp_path):
    s = seeds.ring(3, 1)
    with pytest.raises(TypeError):
        new_cortex(tmp_path / "x").apply_seed(s, s)
    assert repr(s) == "Seed(n_nodes=3, n_edges=6)"
