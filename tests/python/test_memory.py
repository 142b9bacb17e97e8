"""Long runs of tick() and of Cortex reads must not leak the objects they
return; running out of memory is a MemoryError, not an abort."""

import os
import subprocess
import sys
import textwrap

import pytest

import vorn_py
from conftest import UNDER_SANITIZER, new_cortex

pytestmark = pytest.mark.skipif(UNDER_SANITIZER,
                                reason="the sanitizer quarantine holds freed memory")


def rss_growth(step, warm_rounds, rounds):
    """Resident memory growth over `rounds` calls of step after warming up,
    and the sum of what the calls returned."""
    for _ in range(warm_rounds):
        step()
    with open("/proc/self/statm") as f:
        before = int(f.read().split()[1])
    total = sum(step() for _ in range(rounds))
    with open("/proc/self/statm") as f:
        grown = (int(f.read().split()[1]) - before) * os.sysconf("SC_PAGE_SIZE")
    return grown, total


def test_no_rss_growth_across_many_ticks():
    sim = vorn_py.Sim()
    nodes = [sim.add_neuron() for _ in range(10)]
    for i, node in enumerate(nodes):
        sim.add_edge(node, nodes[(i + 1) % len(nodes)])
        sim.stimulate(node, 200.0, 1e12)
    grown, spikes = rss_growth(lambda: len(sim.tick(1.0)), 10_000, 100_000)
    assert spikes > 100_000, "the network must actually spike"
    # Each leaked spike tuple would cost ~150 bytes: tens of MB in total.
    assert grown < 2 * 1024 * 1024, f"RSS grew by {grown} bytes over {spikes} spikes"


def test_no_rss_growth_across_cortex_reads_and_seeds(tmp_path):
    cx = new_cortex(tmp_path / "m.cortex")
    cx.apply_seed(vorn_py.seeds.ring(50, 2))
    cx.persist_weights([(e, 0.5) for e in cx.edge_ids()])

    def churn():
        total = len(cx.nodes()) + len(cx.edges()) + len(cx.load_weights())
        total += vorn_py.seeds.ring(50, 2).n_edges
        try:
            cx.add_neuron(node_id=cx.node_ids()[0])
        except ValueError:
            total += 1
        return total

    grown, total = rss_growth(churn, 200, 2_000)
    assert total == 2_000 * (50 + 200 + 200 + 200 + 1)
    # One leaked round (about 650 tuples and a seed) would cost over 50 kB.
    assert grown < 4 * 1024 * 1024, f"RSS grew by {grown} bytes"


# Caps the address space 64 MiB above what the interpreter already uses.
CAP_ADDRESS_SPACE = """
import resource
with open("/proc/self/statm") as f:
    in_use = int(f.read().split()[0]) * resource.getpagesize()
hard = resource.getrlimit(resource.RLIMIT_AS)[1]
resource.setrlimit(resource.RLIMIT_AS, (in_use + 64 * 2**20, hard))
"""


@pytest.mark.parametrize(
    "setup, call, after, expected",
    [
        # One row shared 10^4 times costs the interpreter almost nothing but
        # expands into 10^8 converted values.
        ("sim = vorn_py.Sim(); node = sim.add_neuron(); row = [None] * 10_000",
         'sim.set_node_param(node, "v", [row] * 10_000)',
         'sim.set_node_param(node, "v", -60.0)["v"]', "-60.0"),
        # One pair shared 5 * 10^6 times: its records need more room than the list.
        ("cx = vorn_py.Cortex.create(tempfile.mkdtemp() + '/m.cortex', 'n', 'lif', 'now')\n"
         "weights = [(str(uuid.uuid4()), 0.5)] * 5_000_000",
         "cx.persist_weights(weights)", "cx.load_weights()", "[]"),
        # The layer sizes need room beside the snapshot of the list.
        ("layers = [1] * 5_000_000", "vorn_py.seeds.layered(layers)", "len(layers)", "5000000"),
    ],
    ids=["set_node_param", "persist_weights", "layered"],
)
def test_running_out_of_memory_raises_memory_error(setup, call, after, expected):
    # The call fails cleanly and leaves its object usable and unchanged.
    script = "import tempfile, uuid, vorn_py\n" + setup + CAP_ADDRESS_SPACE + textwrap.dedent(f"""
        try:
            {call}
        except MemoryError:
            print("MemoryError", {after})
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            timeout=120)
    assert (result.returncode, result.stdout.strip()) == (0, f"MemoryError {expected}"), \
        result.stderr
