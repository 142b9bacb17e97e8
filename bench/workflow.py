"""From folder to simulation, and checkpoints, at scale.

Prints:
  from_cortex_s   Sim.from_cortex on an open folder holding seeds.random(3000,
                  0.05) (about 450,000 STDP edges) and a weights file for all
                  of them; only the from_cortex call is timed
  state_save_s    Sim.save_state of the reference network (10,000 LIF
                  neurons, ~1,000,000 STDP synapses, built as
                  bench/experiments.py builds it, after 100 ticks)
  state_load_s    Sim.load_state of that file
  state_bytes     the size of that file

Each figure is the best of --repeats runs. Files go to a fresh temporary
directory (or --dir), removed at the end.
"""

import argparse
import os
import shutil
import sys
import tempfile
import time

import numpy as np

import vorn_py
from vorn_py import seeds

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import experiments  # noqa: E402  (the reference network's builder)

FOLDER_NODES = 3000
FOLDER_P = 0.05


def best_of(repeats: int, fn):
    """The shortest time of `repeats` calls of fn, and the last call's result.
    A result is dropped before the next call, outside the timing."""
    best = float("inf")
    result = None
    for _ in range(repeats):
        result = None
        start = time.perf_counter()
        result = fn()
        best = min(best, time.perf_counter() - start)
    return best, result


def folder_with_weights(root: str) -> vorn_py.Cortex:
    path = os.path.join(root, "workflow.cortex")
    cortex = vorn_py.Cortex.create(path, "workflow", "lif", "2024-01-01T00:00:00Z")
    cortex.apply_seed(seeds.random(FOLDER_NODES, FOLDER_P, seed=1))
    sim = vorn_py.Sim.from_cortex(cortex)
    # Weights unlike the initial ones, so that applying the file changes them.
    rng = np.random.default_rng(1)
    sim.set_weights(rng.uniform(0.0, 1.0, sim.n_synapses))
    cortex.persist_weights(sim.weight_snapshot())
    return vorn_py.Cortex.open(path)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--dir", help="where to write the folder and the state file")
    args = parser.parse_args()
    root = tempfile.mkdtemp(prefix="vorn-bench-", dir=args.dir)
    try:
        cortex = folder_with_weights(root)
        n_edges = cortex.n_edges()
        seconds, sim = best_of(args.repeats, lambda: vorn_py.Sim.from_cortex(cortex))
        assert sim.n_synapses == n_edges
        print(f"from_cortex_s={seconds:.3f}")
        del sim, cortex

        pre, post, weight, currents = experiments.reference_arrays()
        sim = experiments.build(pre, post, weight, currents)
        del pre, post, weight, currents
        sim.advance(1.0, 99)
        path = os.path.join(root, "reference.cstate")
        seconds, _ = best_of(args.repeats, lambda: sim.save_state(path))
        print(f"state_save_s={seconds:.3f}")
        weights = sim.weights()
        del sim
        seconds, loaded = best_of(args.repeats, lambda: vorn_py.Sim.load_state(path))
        assert loaded.weights().tobytes() == weights.tobytes()
        print(f"state_load_s={seconds:.3f}")
        print(f"state_bytes={os.path.getsize(path)}")
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
