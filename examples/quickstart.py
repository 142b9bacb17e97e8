"""Build a small spiking network, drive a few inputs for one simulated second,
and report who fired and how the synapses changed.

Run with `make demo` (or `python examples/quickstart.py` once vorn_py is installed).
"""

import random
from collections import Counter

import vorn_py

N_NEURONS = 20
N_INPUTS = 4
P_CONNECT = 0.2
DT_MS = 1.0
DURATION_MS = 1000


def build(rng: random.Random) -> tuple[vorn_py.Sim, list[str]]:
    sim = vorn_py.Sim()
    neurons = [sim.add_neuron() for _ in range(N_NEURONS)]
    for pre in neurons:
        for post in neurons:
            if pre != post and rng.random() < P_CONNECT:
                sim.add_edge(pre, post, weight=rng.uniform(0.3, 0.7))
    # Each input neuron gets a steady current for the whole run.
    for node in neurons[:N_INPUTS]:
        sim.stimulate(node, current=rng.uniform(20.0, 35.0), duration_ms=DURATION_MS + 1)
    return sim, neurons


def main() -> None:
    rng = random.Random(7)
    sim, neurons = build(rng)
    print(f"vorn_py {vorn_py.__version__}: {sim!r}")

    weights_before = dict(sim.weight_snapshot())
    spikes = sim.run(DT_MS, int(DURATION_MS / DT_MS))
    weights_after = dict(sim.weight_snapshot())
    print(f"after {DURATION_MS} ms: {sim!r}, {len(spikes)} spikes")

    counts = Counter(node for node, _ in spikes)
    print("\nspikes per neuron (inputs marked *):")
    for index, node in enumerate(neurons):
        mark = "*" if index < N_INPUTS else " "
        rate_hz = counts[node] / (DURATION_MS / 1000.0)
        print(f"  {mark} n{index:02d} {node[:8]}  {counts[node]:4d} spikes  {rate_hz:6.1f} Hz")

    changes = sorted(
        ((weights_after[e] - weights_before[e], e) for e in weights_before),
        key=lambda item: item[0],
    )
    moved = [c for c in changes if c[0] != 0.0]
    print(f"\nweights: {len(moved)} of {len(changes)} synapses changed")
    if moved:
        mean = sum(d for d, _ in moved) / len(moved)
        print(f"  mean change of those {mean:+.4f}")
        for delta, edge in changes[:3] + changes[-3:]:
            print(f"  {edge[:8]}  {weights_before[edge]:.3f} -> {weights_after[edge]:.3f}"
                  f"  ({delta:+.4f})")


if __name__ == "__main__":
    main()
