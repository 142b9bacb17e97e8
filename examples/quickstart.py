"""Create a network folder from a generated small-world seed, simulate it for
one second, store the learned weights beside it and read them back.

Run with `make demo`, or `python examples/quickstart.py [DIR]` once vorn_py is
installed: the folder `quickstart.cortex` is created in DIR (which must not
already hold one), or in a fresh temporary directory when DIR is omitted.
"""

import os
import statistics
import sys
import tempfile
from collections import Counter
from datetime import datetime, timezone

import vorn_py
from vorn_py import seeds

N_NEURONS = 60
K_NEIGHBOURS = 3
P_REWIRE = 0.1
SEED = 4
N_INPUTS = 5
INPUT_CURRENT = 30.0
DT_MS = 1.0
DURATION_MS = 1000


def now() -> str:
    return datetime.now(timezone.utc).isoformat(timespec="seconds").replace("+00:00", "Z")


def folder_path() -> str:
    parent = sys.argv[1] if len(sys.argv) > 1 else tempfile.mkdtemp(prefix="vorn-")
    path = os.path.join(parent, "quickstart.cortex")
    if os.path.exists(path):
        sys.exit(f"{path} already exists; pass another directory")
    return path


def create_network(path: str) -> None:
    cortex = vorn_py.Cortex.create(path, "quickstart", "lif", now())
    seed = seeds.small_world(N_NEURONS, K_NEIGHBOURS, P_REWIRE, seed=SEED)
    print(f"generated {seed!r}")
    added_nodes, added_edges = cortex.apply_seed(seed)
    print(f"applied: {added_nodes} nodes, {added_edges} edges -> {cortex!r}")


def build_sim(cortex: vorn_py.Cortex) -> tuple[vorn_py.Sim, list[str]]:
    # The folder's nodes and edges with their ids, kinds, initial weights and
    # delays, in topology order.
    sim = vorn_py.Sim.from_cortex(cortex)
    nodes = sim.list_nodes()
    for node_id in nodes[:N_INPUTS]:
        sim.stimulate(node_id, current=INPUT_CURRENT, duration_ms=DURATION_MS + 1)
    return sim, nodes


def report_spikes(spikes: list[tuple[str, float]], nodes: list[str]) -> None:
    counts = Counter(node for node, _ in spikes)
    inputs = [counts[n] for n in nodes[:N_INPUTS]]
    others = [counts[n] for n in nodes[N_INPUTS:]]
    print(f"\n{len(spikes)} spikes in {DURATION_MS} ms")
    for name, group in (("inputs", inputs), ("others", others)):
        print(f"  {name:6s} ({len(group):2d} neurons): mean {statistics.mean(group):6.1f}, "
              f"min {min(group):3d}, max {max(group):3d}, silent {group.count(0)}")


def mean_weight(pairs) -> float:
    return statistics.mean(w for _, w in pairs)


def main() -> None:
    path = folder_path()
    print(f"vorn_py {vorn_py.__version__}: creating {path}")
    create_network(path)

    cortex = vorn_py.Cortex.open(path)
    sim, nodes = build_sim(cortex)
    print(f"reopened {cortex.name!r}: {cortex.n_nodes()} nodes, {cortex.n_edges()} edges; {sim!r}")
    before = [(edge_id, w) for edge_id, _, _, w, _, _ in cortex.edges()]

    spikes = sim.run(DT_MS, int(DURATION_MS / DT_MS))
    report_spikes(spikes, nodes)

    cortex.persist_weights(sim.weight_snapshot())
    stored = vorn_py.Cortex.open(path).load_weights()
    initial = dict(before)
    changed = sum(1 for edge_id, w in stored if w != initial[edge_id])
    print(f"\nweights: mean {mean_weight(before):.4f} before, {mean_weight(stored):.4f} after "
          f"({changed} of {len(stored)} changed, {len(stored)} read back from disk)")

    print(f"\nfiles in {path}:")
    for dirpath, _dirs, files in sorted(os.walk(path)):
        for name in sorted(files):
            full = os.path.join(dirpath, name)
            print(f"  {os.path.relpath(full, path):28s} {os.path.getsize(full):8d} bytes")


if __name__ == "__main__":
    main()
