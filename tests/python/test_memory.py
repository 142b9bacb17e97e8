"""Long runs of tick() must not leak the objects they return."""

import os

import pytest

import vorn_py
from conftest import UNDER_SANITIZER

PAGE = os.sysconf("SC_PAGE_SIZE")


def rss_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


@pytest.mark.skipif(UNDER_SANITIZER, reason="the sanitizer quarantine holds freed memory")
def test_no_rss_growth_across_many_ticks():
    sim = vorn_py.Sim()
    nodes = [sim.add_neuron() for _ in range(10)]
    for i, node in enumerate(nodes):
        sim.add_edge(node, nodes[(i + 1) % len(nodes)])
        sim.stimulate(node, 200.0, 1e12)
    warm = 0
    for _ in range(10_000):
        warm += len(sim.tick(1.0))
    before = rss_bytes()
    spikes = 0
    for _ in range(100_000):
        spikes += len(sim.tick(1.0))
    grown = rss_bytes() - before
    assert spikes > 100_000, "the network must actually spike"
    # Each leaked spike tuple would cost ~150 bytes: tens of MB in total.
    assert grown < 2 * 1024 * 1024, f"RSS grew by {grown} bytes over {spikes} spikes"


@pytest.mark.skipif(UNDER_SANITIZER, reason="the sanitizer quarantine holds freed memory")
def test_no_rss_growth_across_cortex_reads_and_seeds(tmp_path):
    cx = vorn_py.Cortex.create(str(tmp_path / "m.cortex"), "m", "lif", "t")
    cx.apply_seed(vorn_py.seeds.ring(50, 2))
    cx.persist_weights([(e, 0.5) for e in cx.edge_ids()])

    def churn(rounds):
        total = 0
        for _ in range(rounds):
            total += len(cx.nodes()) + len(cx.edges()) + len(cx.load_weights())
            total += vorn_py.seeds.ring(50, 2).n_edges
            try:
                cx.add_neuron(node_id=cx.node_ids()[0])
            except ValueError:
                total += 1
        return total

    churn(200)
    before = rss_bytes()
    total = churn(2_000)
    grown = rss_bytes() - before
    assert total == 2_000 * (50 + 200 + 200 + 200 + 1)
    # One leaked round (about 650 tuples and a seed) would cost over 50 kB.
    assert grown < 4 * 1024 * 1024, f"RSS grew by {grown} bytes"
