"""Building and recording at scale, on the reference network (10,000 LIF
neurons, ~1,000,000 STDP synapses, as bench_tick builds it).

Prints:
  bulk_build_s                 add_neurons + add_edges from ready numpy arrays,
                               the stimulations, and the first tick (which lays
                               the synapses out for ticking)
  bytes_per_synapse            resident memory growth over that build, per
                               synapse, with the construction arrays freed and
                               the C heap's free pages handed back
                               (bytes_per_synapse_untrimmed: without that)
  advance_overhead_pct         advance() with a spike monitor against the C++
                               tick loop (bench_tick), thread CPU time, one thread,
                               the same ticks (advance_network_matches=1 when
                               both saw the same spike count)
  state_monitor_overhead_pct   advance() recording "v" of 1,000 neurons every
                               tick against advance() without it
"""

import argparse
import ctypes
import gc
import os
import re
import subprocess
import sys
import time

import numpy as np

import vorn_py

N = 10_000


def mix(z: np.ndarray) -> np.ndarray:
    with np.errstate(over="ignore"):
        z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
        return z ^ (z >> np.uint64(31))


def unit(k: np.ndarray) -> np.ndarray:
    with np.errstate(over="ignore"):
        z = mix(np.uint64(12345) + (k + np.uint64(1)) * np.uint64(0x9E3779B97F4A7C15))
    return (z >> np.uint64(11)).astype(np.float64) * 2.0**-53


def reference_arrays(n: int = N):
    """pre, post, weight (float32) and currents of the reference network."""
    pres, posts, weights = [], [], []
    block = 500
    cols = np.arange(n, dtype=np.uint64)
    for start in range(0, n, block):
        rows = np.arange(start, min(start + block, n), dtype=np.uint64)
        k = rows[:, None] * np.uint64(n) + cols[None, :]
        mask = unit(k) < 0.01
        mask[np.arange(len(rows)), rows.astype(np.int64)] = False
        i, j = np.nonzero(mask)
        kk = k[i, j]
        pres.append(rows[i].astype(np.int64))
        posts.append(j.astype(np.int64))
        weights.append((0.4 + 0.2 * unit(np.uint64(n * n) + kk)).astype(np.float32))
    currents = (30.0 * unit(np.uint64(2 * n * n) + np.arange(n, dtype=np.uint64))).astype(np.float32)
    return np.concatenate(pres), np.concatenate(posts), np.concatenate(weights), currents


def rss_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def build(pre, post, weight, currents, threads=1) -> vorn_py.Sim:
    sim = vorn_py.Sim()
    sim.threads = threads
    sim.add_neurons(len(currents))
    sim.add_edges(pre, post, weight, config={"g_syn": 1.0})
    nodes = sim.list_nodes()
    for node, current in zip(nodes, currents.tolist()):
        sim.stimulate(node, current, 1e9)
    sim.advance(1.0, 1)  # the first tick lays the synapses out
    return sim


def cpp_tick(ticks: int, warmup: int) -> tuple[float, float]:
    """bench_tick's CPU ms per tick and its spike fraction per tick."""
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    exe = os.path.join(root, "build", "release", "bench", "bench_tick")
    if not os.access(exe, os.X_OK):
        sys.exit(f"{exe} is missing: build it first (make bench)")
    out = subprocess.run([exe, "--ticks", str(ticks), "--warmup", str(warmup)], check=True,
                         capture_output=True, text=True).stdout
    def value(key: str) -> float:
        return float(re.search(rf"^{key}=([0-9.]+)$", out, re.MULTILINE).group(1))

    return value("cpu_tick_ms"), value("spike_fraction_per_tick")


def cpu_ms(fn) -> float:
    start = time.thread_time()
    fn()
    return (time.thread_time() - start) * 1e3


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--ticks", type=int, default=1000)
    parser.add_argument("--warmup", type=int, default=100)
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()

    gc.collect()
    before = rss_bytes()  # without the arrays, which are freed after the build
    pre, post, weight, currents = reference_arrays()
    gc.collect()
    start = time.perf_counter()
    sim = build(pre, post, weight, currents)
    build_s = time.perf_counter() - start
    n_synapses = sim.n_synapses
    del pre, post, weight
    gc.collect()
    untrimmed = rss_bytes() - before
    # The freed construction arrays may stay in the C heap's free lists;
    # what the Sim holds is what remains once those are handed back.
    ctypes.CDLL(None).malloc_trim(0)
    grown = rss_bytes() - before
    print(f"bulk_build_s={build_s:.3f}")
    print(f"bytes_per_synapse={grown / n_synapses:.1f}")
    print(f"bytes_per_synapse_untrimmed={untrimmed / n_synapses:.1f}")

    # Each advance() run is on a Sim built and warmed up exactly as
    # bench_tick's engine is, so that both simulate the same ticks from
    # equally laid-out memory (a Sim restored from a checkpoint would hold its
    # arrays elsewhere).
    advance_ms = []
    cpp = []
    fraction = 0.0
    for _ in range(args.repeats):
        s = build(*reference_arrays())
        s.advance(1.0, args.warmup - 1)
        monitor = s.spike_monitor()
        advance_ms.append(cpu_ms(lambda: s.advance(1.0, args.ticks)) / args.ticks)
        fraction = len(monitor) / (args.ticks * N)
        cpp.append(cpp_tick(args.ticks, args.warmup))
        del s, monitor
    cpp_ms = min(c[0] for c in cpp)
    print(f"advance_tick_ms={min(advance_ms):.4f}")
    print(f"advance_overhead_pct={(min(advance_ms) / cpp_ms - 1.0) * 100.0:.2f}")
    print(f"advance_network_matches={int(f'{fraction:.5f}' == f'{cpp[0][1]:.5f}')}")

    # Plain and recorded stretches alternate on the first Sim, so that both
    # run from the same memory; a monitor stops recording once it is deleted.
    nodes = np.arange(0, N, N // 1000)
    plain_ms = []
    recorded_ms = []
    for _ in range(args.repeats):
        plain_ms.append(cpu_ms(lambda: sim.advance(1.0, args.ticks)) / args.ticks)
        v = sim.state_monitor(nodes, "v")
        recorded_ms.append(cpu_ms(lambda: sim.advance(1.0, args.ticks)) / args.ticks)
        assert v.values.shape == (args.ticks, len(nodes))
        del v
    print(f"state_monitor_overhead_pct={(min(recorded_ms) / min(plain_ms) - 1.0) * 100.0:.2f}")


if __name__ == "__main__":
    main()
