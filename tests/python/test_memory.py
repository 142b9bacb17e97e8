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
        # Spikes pile up until they no longer fit: the run stops at that tick
        # instead of simulating the remaining billion, and t_ms says where.
        ("sim = vorn_py.Sim(); nodes = [sim.add_neuron() for _ in range(500)]\n"
         "for n in nodes: sim.stimulate(n, 1000.0, 1e12)",
         "sim.run(1.0, 10**9)", "0 < sim.t_ms < 1e8, len(sim.run(1.0, 10)) > 0", "True True"),
    ],
    ids=["set_node_param", "persist_weights", "layered", "run"],
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


# A folder whose graph takes tens of megabytes to validate, serialise or read,
# and a handle on it; then the address space is capped 8 MiB above what is in
# use. Every store operation then runs out of memory: it must raise
# MemoryError and leave the handle and the folder as they were, and the handle
# must still be current (its next edit is accepted).
STORE_SETUP = """
import hashlib, os, pathlib, resource, struct, tempfile, uuid, vorn_py
root = tempfile.mkdtemp() + "/m.cortex"
cx = vorn_py.Cortex.create(root, "n", "lif", "now")
cx.apply_seed(vorn_py.seeds.ring(10_000, 4))
ids, edge_ids = cx.node_ids(), cx.edge_ids()
def folder():
    return {p.name: hashlib.sha256(p.read_bytes()).hexdigest()
            for p in pathlib.Path(root).rglob("*") if p.is_file() and p.name != "write.lock"}
def state():
    return cx.n_nodes(), cx.n_edges(), cx.name, cx.updated_at, folder()
"""

CAP_TIGHTLY = """
before = state()
with open("/proc/self/statm") as f:
    in_use = int(f.read().split()[0]) * resource.getpagesize()
hard = resource.getrlimit(resource.RLIMIT_AS)[1]
resource.setrlimit(resource.RLIMIT_AS, (in_use + 8 * 2**20, hard))
"""

UNCAP_AND_CHECK = """
resource.setrlimit(resource.RLIMIT_AS, (hard, hard))
assert state() == before, "changed"
new_folder = pathlib.Path(root + "2")
assert not new_folder.exists() or not any(new_folder.iterdir()), "created"
cx.add_neuron()
print(outcome)
"""


def weights_blob(count):
    return ("struct.pack('<4sIQII', b'CWT1', 1, {0}, 20, 0) + "
            "(uuid.uuid4().bytes + struct.pack('<f', 0.5)) * {0}").format(count)


@pytest.mark.parametrize(
    "setup, call",
    [
        ("", "vorn_py.Cortex.open(root)"),
        ("source = 's' * 40_000_000",
         "vorn_py.Cortex.create(root + '2', 'n', 'lif', 'now', source_root=source)"),
        ("", "cx.add_neuron()"),
        ("", "cx.add_synapse(ids[0], ids[10])"),
        ("", "cx.remove_neuron(ids[0])"),
        ("", "cx.remove_synapse(edge_ids[0])"),
        ("small = vorn_py.seeds.ring(100, 2, seed=1)", "cx.apply_seed(small)"),
        ("big = vorn_py.seeds.random(800, 1.0, seed=1)", "cx.apply_seed(big)"),
        ("", "cx.save()"),
        ("name = 'r' * 40_000_000", "cx.rename(name, 'later')"),
        (f"raw = {weights_blob(2_000_000)}", "cx.persist_weights_raw(raw)"),
        (f"cx.persist_weights_raw({weights_blob(2_000_000)})", "cx.load_weights()"),
    ],
    ids=["open", "create", "add_neuron", "add_synapse", "remove_neuron", "remove_synapse",
         "apply_seed", "apply_seed_big", "save", "rename", "persist_weights_raw", "load_weights"],
)
def test_store_operations_out_of_memory_change_nothing(setup, call):
    script = STORE_SETUP + setup + "\n" + CAP_TIGHTLY + textwrap.dedent(f"""
        try:
            {call}
            outcome = "no error"
        except MemoryError:
            outcome = "MemoryError"
    """) + UNCAP_AND_CHECK
    # A fixed mmap threshold makes every large block fresh address space that
    # is given back when freed, so earlier peaks leave no reusable room.
    env = {**os.environ, "MALLOC_MMAP_THRESHOLD_": "131072"}
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            timeout=300, env=env)
    assert (result.returncode, result.stdout.strip()) == (0, "MemoryError"), result.stderr[-2000:]
