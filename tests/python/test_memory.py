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
