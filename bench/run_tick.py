"""Python-side cost of Sim.run on the reference network, compared with the
C++ tick benchmark (bench_tick) on the same network and tick count.

Prints run_tick_ms (ms per tick through Sim.run), run_overhead_pct (relative
to bench_tick's tick_ms, wall time), run_overhead_cpu_pct (the same from
thread CPU time) and spike_result_ns: the CPU time of the run beyond the C++
ticks, divided by the number of spikes returned, i.e. the cost per spike of
building the result list.

For scale it also prints tuple_floor_ns, what this interpreter needs per
tuple to build a list of as many (str, float) tuples from ready-made objects
(list(zip(...)) with the collector off), and overhead_floor_pct, the overhead
that cost alone puts on the C++ tick loop.
"""

import argparse
import gc
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
    sim.threads = 1  # bench_tick runs on one thread too
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


def cpp_bench(ticks: int, warmup: int) -> dict[str, float]:
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
    figures = {
        key: float(value)
        for key, value in re.findall(r"^(\w+)=([0-9.eE+-]+)$", out, re.MULTILINE)
    }
    if "tick_ms" not in figures:
        sys.exit(f"bench_tick printed no tick_ms= line:\n{out}")
    return figures


def tuple_floor_ns(spikes: list[tuple[str, float]]) -> float:
    ids = [node_id for node_id, _ in spikes]
    times = [t for _, t in spikes]
    best = float("inf")
    gc.disable()
    try:
        for _ in range(3):
            start = time.perf_counter()
            pairs = list(zip(ids, times))
            best = min(best, time.perf_counter() - start)
            del pairs
    finally:
        gc.enable()
    return best * 1e9 / max(len(spikes), 1)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--ticks", type=int, default=1000)
    parser.add_argument("--warmup", type=int, default=100)
    args = parser.parse_args()

    sim = build_reference_network()
    sim.run(1.0, args.warmup)
    cpu_start = time.thread_time()
    start = time.perf_counter()
    spikes = sim.run(1.0, args.ticks)
    elapsed_ms = (time.perf_counter() - start) * 1e3
    cpu_ms = (time.thread_time() - cpu_start) * 1e3

    cpp = cpp_bench(args.ticks, args.warmup)
    py_tick_ms = elapsed_ms / args.ticks
    print(f"run_tick_ms={py_tick_ms:.4f}")
    print(f"run_overhead_pct={(py_tick_ms / cpp['tick_ms'] - 1.0) * 100.0:.2f}")
    # Thread CPU time of both processes: on a shared machine wall time is
    # too noisy for a difference of a few percent.
    if "cpu_tick_ms" in cpp:
        extra_ms = cpu_ms - cpp["cpu_tick_ms"] * args.ticks
        print(f"run_overhead_cpu_pct={(cpu_ms / args.ticks / cpp['cpu_tick_ms'] - 1.0) * 100.0:.2f}")
        print(f"spike_result_ns={extra_ms * 1e6 / max(len(spikes), 1):.1f}")
    else:
        extra_ms = elapsed_ms - cpp["tick_ms"] * args.ticks
        print(f"spike_result_ns={extra_ms * 1e6 / max(len(spikes), 1):.1f}")
    floor_ns = tuple_floor_ns(spikes)
    print(f"tuple_floor_ns={floor_ns:.1f}")
    floor_ms = floor_ns * len(spikes) / 1e6
    print(f"overhead_floor_pct={floor_ms / (cpp['tick_ms'] * args.ticks) * 100.0:.2f}")
    # Identical networks fire identically: a cross-check of the build above.
    fraction = len(spikes) / (args.ticks * N)
    print(f"spike_fraction_per_tick={fraction:.5f}")
    if "spike_fraction_per_tick" in cpp:
        print(f"network_matches={int(f'{fraction:.5f}' == f'{cpp['spike_fraction_per_tick']:.5f}')}")


if __name__ == "__main__":
    main()
