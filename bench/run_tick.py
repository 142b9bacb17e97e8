"""Python-side cost of Sim.run on the reference network, compared with the
C++ tick benchmark (bench_tick) on the same network and tick count.

Prints run_tick_ms (ms per tick through Sim.run), run_overhead_pct (relative
to bench_tick's tick_ms) and spike_result_ns: the run time beyond the C++
ticks, divided by the number of spikes returned, i.e. the cost per spike of
building the result list (it inherits the run-to-run noise of both timings).
"""

import argparse
import os
import re
import subprocess
import sys
import time

import numpy as np

import vorn_py

N = 10_000
MASK = np.uint64(0xFFFFFFFFFFFFFFFF)


def mix(z: np.ndarray) -> np.ndarray:
    with np.errstate(over="ignore"):
        z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
        return z ^ (z >> np.uint64(31))


def draw(k: np.ndarray) -> np.ndarray:
    with np.errstate(over="ignore"):
        return mix(np.uint64(12345) + (k + np.uint64(1)) * np.uint64(0x9E3779B97F4A7C15))


def unit(k: np.ndarray) -> np.ndarray:
    return (draw(k) >> np.uint64(11)).astype(np.float64) * 2.0**-53


def uuid_text(hi: int, lo: int) -> str:
    return "%016x%016x" % (hi, lo)


def build_reference_network() -> vorn_py.Sim:
    sim = vorn_py.Sim()
    for i in range(N):
        sim.add_neuron(uuid_text(0, i + 1))
    posts = np.arange(N, dtype=np.uint64)
    for i in range(N):
        k = np.uint64(i * N) + posts
        mask = unit(k) < 0.01
        mask[i] = False
        js = np.nonzero(mask)[0]
        weights = (0.4 + 0.2 * unit(np.uint64(N * N) + k[js])).astype(np.float32)
        pre = uuid_text(0, i + 1)
        for j, w in zip(js.tolist(), weights.tolist()):
            sim.add_edge(pre, uuid_text(0, j + 1), weight=w, edge_id=uuid_text(1, i * N + j))
    for edge in sim.list_synapses():
        sim.set_synapse_param(edge, "g_syn", 1)
    currents = (30.0 * unit(np.uint64(2 * N * N) + np.arange(N, dtype=np.uint64))).astype(
        np.float32
    )
    for i, current in enumerate(currents.tolist()):
        sim.stimulate(uuid_text(0, i + 1), current, 1e9)
    return sim


def cpp_tick_ms(ticks: int, warmup: int) -> float:
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    exe = os.path.join(root, "build", "release", "bench", "bench_tick")
    if not os.access(exe, os.X_OK):
        sys.exit(f"{exe} is missing: build it first (make bench)")
    out = subprocess.run(
        [exe, "--ticks", str(ticks), "--warmup", str(warmup)],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    match = re.search(r"^tick_ms=([0-9.eE+-]+)$", out, re.MULTILINE)
    if match is None:
        sys.exit(f"bench_tick printed no tick_ms= line:\n{out}")
    return float(match.group(1))


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--ticks", type=int, default=1000)
    parser.add_argument("--warmup", type=int, default=100)
    args = parser.parse_args()

    sim = build_reference_network()
    sim.run(1.0, args.warmup)
    start = time.perf_counter()
    spikes = sim.run(1.0, args.ticks)
    elapsed_ms = (time.perf_counter() - start) * 1e3

    py_tick_ms = elapsed_ms / args.ticks
    cpp_ms = cpp_tick_ms(args.ticks, args.warmup)
    overhead_pct = (py_tick_ms / cpp_ms - 1.0) * 100.0
    extra_ns = (elapsed_ms - cpp_ms * args.ticks) * 1e6
    spike_ns = extra_ns / len(spikes) if spikes else float("nan")

    print(f"run_tick_ms={py_tick_ms:.4f}")
    print(f"run_overhead_pct={overhead_pct:.2f}")
    print(f"spike_result_ns={spike_ns:.1f}")
    print(f"run_spikes={len(spikes)}")


if __name__ == "__main__":
    main()
