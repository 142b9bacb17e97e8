"""Checkpoint a learning network, stop, resume it in a new process, and check
that the result is the same as one run that never stopped.

The network lives in a folder: 1,000 LIF neurons with 2 % random STDP
synapses (2 ms delays) from `seeds.random`, driven by Poisson background
input. The script runs three steps, each reporting what it did:

  train    (a child process) builds the Sim with `Sim.from_cortex`, adds the
           noise, runs TRAIN_MS, writes the checkpoint into the folder with
           `Cortex.save_state` (state/latest.cstate) and exits.
  resume   (another child process) rebuilds the Sim from the checkpoint with
           `Sim.from_cortex(cortex, state=True)`, on one thread, and runs
           RESUME_MS more.
  compare  (this process) builds the same network again, runs TRAIN_MS +
           RESUME_MS in one go and compares spikes and weights with the two
           steps above, bit for bit.

The checkpoint holds everything a tick depends on: the neurons' and
synapses' state, the STDP traces, the Poisson inputs and the spikes still in
flight. Each step writes its spikes and final weights to an .npz file beside
the folder.

Run with `python examples/resume.py [DIR]` once vorn_py is installed: the
folder `resume.cortex` is created in DIR (which must not already hold one),
or in a fresh temporary directory when DIR is omitted. Exits with status 1
if the runs differ.
"""

import os
import subprocess
import sys
import tempfile
import time
from datetime import datetime, timezone

import numpy as np

import vorn_py
from vorn_py import seeds

N_NEURONS = 1000
P_CONNECT = 0.02
DELAY_MS = 2.0
NOISE_RATE_HZ = 2000.0
NOISE_WEIGHT = 1.5
SEED = 3
DT_MS = 0.5
TRAIN_MS = 2000.0
RESUME_MS = 2000.0


def steps(ms: float) -> int:
    return round(ms / DT_MS)


def create_network(path: str) -> None:
    now = datetime.now(timezone.utc).isoformat(timespec="seconds").replace("+00:00", "Z")
    cortex = vorn_py.Cortex.create(path, "resume", "lif", now)
    cortex.apply_seed(seeds.random(N_NEURONS, P_CONNECT, seed=SEED, delay_ms=DELAY_MS))


def fresh_sim(cortex: vorn_py.Cortex) -> vorn_py.Sim:
    """The folder's network with its inputs, before any tick."""
    sim = vorn_py.Sim.from_cortex(cortex)
    sim.add_poisson_input(np.arange(sim.n_neurons), NOISE_RATE_HZ, NOISE_WEIGHT, seed=SEED)
    return sim


def run(sim: vorn_py.Sim, ms: float) -> dict[str, np.ndarray]:
    spikes = sim.spike_monitor()
    sim.advance(DT_MS, steps(ms))
    return {"index": spikes.index, "t_ms": spikes.t_ms, "weights": sim.weights()}


def result_path(folder: str, step: str) -> str:
    return os.path.join(os.path.dirname(folder), f"{step}.npz")


def train(folder: str) -> None:
    cortex = vorn_py.Cortex.open(folder)
    sim = fresh_sim(cortex)
    before = sim.weights().mean()
    start = time.perf_counter()
    result = run(sim, TRAIN_MS)
    cortex.save_state(sim)  # state/latest.cstate in the folder
    np.savez(result_path(folder, "train"), **result)
    size = os.path.getsize(os.path.join(folder, "state", "latest.cstate"))
    print(f"[train,  pid {os.getpid()}] {sim.threads} thread(s): {len(result['index'])} spikes "
          f"in {TRAIN_MS:.0f} ms, mean weight {before:.4f} -> {result['weights'].mean():.4f}, "
          f"{time.perf_counter() - start:.2f} s; checkpoint at t = {sim.t_ms:.1f} ms, "
          f"{size} bytes")


def resume(folder: str) -> None:
    cortex = vorn_py.Cortex.open(folder)
    sim = vorn_py.Sim.from_cortex(cortex, state=True)
    sim.threads = 1  # the thread count does not change the results
    resumed_at = sim.t_ms
    start = time.perf_counter()
    result = run(sim, RESUME_MS)
    np.savez(result_path(folder, "resume"), **result)
    print(f"[resume, pid {os.getpid()}] {sim.threads} thread(s): resumed at t = "
          f"{resumed_at:.1f} ms, {len(result['index'])} spikes in {RESUME_MS:.0f} ms, mean weight "
          f"{result['weights'].mean():.4f}, {time.perf_counter() - start:.2f} s")


def child(step: str, folder: str) -> None:
    subprocess.run([sys.executable, os.path.abspath(__file__), f"--{step}", folder], check=True)


def compare(folder: str) -> bool:
    start = time.perf_counter()
    sim = fresh_sim(vorn_py.Cortex.open(folder))
    initial = sim.weights()
    whole = run(sim, TRAIN_MS + RESUME_MS)
    print(f"[whole,  pid {os.getpid()}] {sim.threads} thread(s): {len(whole['index'])} spikes in "
          f"{TRAIN_MS + RESUME_MS:.0f} ms without stopping, mean weight "
          f"{whole['weights'].mean():.4f}, {time.perf_counter() - start:.2f} s")

    with np.load(result_path(folder, "train")) as a, np.load(result_path(folder, "resume")) as b:
        index = np.concatenate([a["index"], b["index"]])
        t_ms = np.concatenate([a["t_ms"], b["t_ms"]])
        weights = b["weights"]
    same_spikes = np.array_equal(index, whole["index"]) and np.array_equal(t_ms, whole["t_ms"])
    same_weights = weights.tobytes() == whole["weights"].tobytes()
    print(f"\nspikes  (neuron, time) of train + resume vs whole: "
          f"{'identical' if same_spikes else 'DIFFERENT'} ({len(index)} vs {len(whole['index'])})")
    changed = np.count_nonzero(whole["weights"] != initial)
    print(f"weights after {TRAIN_MS + RESUME_MS:.0f} ms: "
          f"{'identical bit for bit' if same_weights else 'DIFFERENT'} "
          f"({len(weights)} synapses, {changed} changed by learning)")
    return same_spikes and same_weights


def main() -> None:
    if len(sys.argv) == 3 and sys.argv[1] in ("--train", "--resume"):
        (train if sys.argv[1] == "--train" else resume)(sys.argv[2])
        return
    parent = sys.argv[1] if len(sys.argv) > 1 else tempfile.mkdtemp(prefix="vorn-")
    folder = os.path.join(parent, "resume.cortex")
    if os.path.exists(folder):
        sys.exit(f"{folder} already exists; pass another directory")
    print(f"vorn_py {vorn_py.__version__}: {N_NEURONS} neurons in {folder}, dt {DT_MS} ms")
    create_network(folder)
    child("train", folder)
    child("resume", folder)
    same = compare(folder)
    print("\nverdict: " + ("the resumed run equals the uninterrupted run" if same else
                           "the resumed run DIFFERS from the uninterrupted run"))
    sys.exit(0 if same else 1)


if __name__ == "__main__":
    main()
