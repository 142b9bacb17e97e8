"""Call overhead of the binding: how many add_edge and get_node_params calls
per second a small Sim takes. Each add_edge call gets a fresh (pre, post)
pair, so every call adds a synapse; the best of a few repeats is printed as
one key=value line per figure."""

import itertools
import time

import vorn_py

NEURONS = 1000
EDGE_CALLS = 50_000
PARAM_CALLS = 100_000
REPEATS = 5


def edge_rate() -> float:
    best = 0.0
    for _ in range(REPEATS):
        sim = vorn_py.Sim()
        nodes = [sim.add_neuron() for _ in range(NEURONS)]
        # Distinct ordered pairs without self-edges, prepared before timing.
        pairs = list(itertools.islice(
            ((a, b) for a, b in itertools.product(nodes, repeat=2) if a != b), EDGE_CALLS))
        add_edge = sim.add_edge
        start = time.perf_counter()
        for pre, post in pairs:
            add_edge(pre, post, 0.5)
        elapsed = time.perf_counter() - start
        assert sim.n_synapses == EDGE_CALLS
        best = max(best, EDGE_CALLS / elapsed)
    return best


def params_rate() -> float:
    sim = vorn_py.Sim()
    nodes = [sim.add_neuron() for _ in range(NEURONS)]
    ids = [nodes[i % NEURONS] for i in range(PARAM_CALLS)]
    get = sim.get_node_params
    best = 0.0
    for _ in range(REPEATS):
        start = time.perf_counter()
        for node in ids:
            get(node)
        elapsed = time.perf_counter() - start
        best = max(best, PARAM_CALLS / elapsed)
    return best


def main() -> None:
    print(f"add_edge_calls_per_s={edge_rate():.0f}")
    print(f"get_node_params_calls_per_s={params_rate():.0f}")


if __name__ == "__main__":
    main()
