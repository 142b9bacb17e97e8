"""A sparse balanced network of excitatory and inhibitory LIF neurons, built
from numpy arrays and run for one second of biological time.

4,000 excitatory and 1,000 inhibitory leaky integrate-and-fire neurons (the
default "lif" model). Each neuron gets static synapses from 2 % of each
population, picked at random: 80 excitatory inputs with positive weights and
20 inhibitory ones with negative weights five times as strong, so that
inhibition wins on average. Every synapse has a 1.5 ms delay; every neuron
gets its own Poisson background input, whose mean alone brings it to
threshold. The time step is 0.1 ms (10,000 ticks). Background and recurrent
inhibition together keep the network in an asynchronous, irregular state at
about 12 Hz.

A spike monitor records every spike and a state monitor the membrane
potential of five excitatory neurons. The script prints the build and run
times and the mean rate of each population, and writes two pictures when
matplotlib is installed:

  balanced_raster.png    spikes of 200 excitatory and 50 inhibitory neurons,
                         with the population rate of each population under it
  balanced_voltage.png   membrane potential of the five recorded neurons

Run with `python examples/balanced_network.py [OUTDIR]` once vorn_py is
installed; the pictures go to OUTDIR (created if needed), else to the current
directory.
"""

import os
import sys
import time

import numpy as np

import vorn_py

N_E = 4000
N_I = 1000
P_CONNECT = 0.02
J_E = 5.0  # excitatory weight (static synapse, g_syn 1): a 0.8 mV EPSP
G = 5.0  # inhibitory weight is -G * J_E (a 4 mV IPSP): 20 * 5 > 80, inhibition wins
DELAY_MS = 1.5
NOISE_RATE_HZ = 3000.0  # Poisson background, one train per neuron; its mean
NOISE_WEIGHT = 1.0  # drive, rate * weight * tau_syn (5 ms), is 15 mV: the threshold
DT_MS = 0.1
DURATION_MS = 1000.0
SEED = 1
N_TRACED = 5


def random_edges(rng: np.random.Generator, pre_range: range, n_post: int):
    """For each of the n_post neurons, P_CONNECT of the neurons in pre_range
    (never itself) picked at random: a fixed in-degree, as in the classic
    sparse balanced network models."""
    n_pre = len(pre_range)
    k = round(P_CONNECT * n_pre)
    pres = np.empty((n_post, k), dtype=np.int64)
    for j in range(n_post):
        own = j - pre_range.start  # the neuron's own position among the pre, if there
        if 0 <= own < n_pre:
            picked = rng.choice(n_pre - 1, k, replace=False)
            picked[picked >= own] += 1
        else:
            picked = rng.choice(n_pre, k, replace=False)
        pres[j] = picked
    pre = pres.ravel() + pre_range.start
    post = np.repeat(np.arange(n_post), k)
    return pre, post


def connections(rng: np.random.Generator):
    """(pre, post) index arrays of the excitatory and of the inhibitory synapses."""
    n = N_E + N_I
    return random_edges(rng, range(0, N_E), n), random_edges(rng, range(N_E, n), n)


def build(rng: np.random.Generator, excitatory, inhibitory,
          sim: vorn_py.Sim | None = None) -> tuple[vorn_py.Sim, int]:
    """The network in sim (an empty one), else in a new Sim."""
    n = N_E + N_I
    sim = vorn_py.Sim() if sim is None else sim
    sim.add_neurons(n)  # positions 0..N_E-1 excitatory, then the inhibitory ones
    # Start from random potentials below threshold and the synaptic current
    # at the background's mean, so that the network does not begin with one
    # synchronous volley.
    mean_drive = NOISE_RATE_HZ * NOISE_WEIGHT * 5.0 / 1000.0
    for node, v in zip(sim.list_nodes(), rng.uniform(-65.0, -50.0, n).tolist()):
        sim.set_node_param(node, "v", v)
        sim.set_node_param(node, "epsc", mean_drive)

    pre, post = excitatory
    added = sim.add_edges(pre, post, J_E, kind="static", delay_ms=DELAY_MS)
    pre, post = inhibitory
    added += sim.add_edges(pre, post, -G * J_E, kind="static", delay_ms=DELAY_MS)

    sim.add_poisson_input(np.arange(n), NOISE_RATE_HZ, NOISE_WEIGHT, seed=SEED)
    return sim, added


def population_rate(t_ms: np.ndarray, n: int, bin_ms: float = 2.0):
    edges = np.arange(0.0, DURATION_MS + bin_ms, bin_ms)
    counts, _ = np.histogram(t_ms, edges)
    return edges[:-1] + bin_ms / 2, counts / n / (bin_ms / 1000.0)


def plot(out_dir: str, index: np.ndarray, t_ms: np.ndarray, voltage, rates) -> list[str]:
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: pictures skipped")
        return []
    os.makedirs(out_dir, exist_ok=True)
    written = []
    exc, inh = index < N_E, index >= N_E
    red, blue = "#c0392b", "#1f5fa8"

    # Raster: the first 200 excitatory neurons in rows 0-199, the first 50
    # inhibitory ones above them; population rates below.
    fig, (ax, ax_rate) = plt.subplots(2, 1, sharex=True, figsize=(10, 6.5),
                                      gridspec_kw={"height_ratios": [3, 1]})
    shown_e = exc & (index < 200)
    shown_i = inh & (index < N_E + 50)
    ax.scatter(t_ms[shown_e], index[shown_e], s=2, color=red, marker="|", linewidths=0.7)
    ax.scatter(t_ms[shown_i], index[shown_i] - N_E + 200, s=2, color=blue, marker="|",
               linewidths=0.7)
    ax.axhline(199.5, color="#999999", linewidth=0.5)
    ax.set_ylim(-1, 250)
    ax.set_yticks([100, 225], ["excitatory\n(200 of 4000)", "inhibitory\n(50 of 1000)"])
    ax.set_title(f"{N_E} excitatory + {N_I} inhibitory LIF neurons, 2 % connectivity, "
                 f"Poisson background, dt = {DT_MS} ms")
    for mask, count, colour, name in ((inh, N_I, blue, "inhibitory"),
                                      (exc, N_E, red, "excitatory")):
        centres, rate = population_rate(t_ms[mask], count)
        ax_rate.plot(centres, rate, color=colour, linewidth=0.8,
                     label=f"{name}, mean {rates[name]:.1f} Hz")
    handles, labels = ax_rate.get_legend_handles_labels()
    ax_rate.legend(handles[::-1], labels[::-1], loc="upper right", ncols=2, fontsize=8,
                   framealpha=0.9)
    ax_rate.set_ylabel("population\nrate (Hz)")
    ax_rate.set_xlabel("t (ms)")
    ax_rate.set_xlim(0, DURATION_MS)
    ax_rate.set_ylim(0, None)
    ax_rate.margins(y=0.25)
    fig.tight_layout()
    path = os.path.join(out_dir, "balanced_raster.png")
    fig.savefig(path, dpi=120)
    plt.close(fig)
    written.append(path)

    # Membrane potentials, one panel each, with the spikes drawn as strokes
    # (the model resets on threshold, so the trace itself shows no peak).
    nodes = voltage.nodes
    fig, axes = plt.subplots(len(nodes), 1, sharex=True, sharey=True, figsize=(10, 7))
    for k, ax in enumerate(axes):
        ax.plot(voltage.t_ms, voltage.values[:, k], color="#333333", linewidth=0.6)
        spikes = t_ms[index == k]
        ax.vlines(spikes, -50.0, -40.0, color=red, linewidth=1.0)
        ax.axhline(-50.0, color="#999999", linewidth=0.5, linestyle="--")
        ax.set_ylabel(f"neuron {k}\nv (mV)")
    axes[0].set_ylim(-90, -38)
    axes[0].set_title("Membrane potential of five excitatory neurons "
                      "(dashed: threshold; strokes: spikes)")
    axes[-1].set_xlabel("t (ms)")
    axes[-1].set_xlim(0, DURATION_MS)
    fig.tight_layout()
    path = os.path.join(out_dir, "balanced_voltage.png")
    fig.savefig(path, dpi=120)
    plt.close(fig)
    written.append(path)
    return written


def main() -> None:
    out_dir = sys.argv[1] if len(sys.argv) > 1 else "."

    rng = np.random.default_rng(SEED)
    start = time.perf_counter()
    excitatory, inhibitory = connections(rng)
    draw_s = time.perf_counter() - start
    start = time.perf_counter()
    sim, n_synapses = build(rng, excitatory, inhibitory)
    spikes = sim.spike_monitor()
    voltage = sim.state_monitor(np.arange(N_TRACED), "v")
    build_s = time.perf_counter() - start
    print(f"drew the connections with numpy in {draw_s:.2f} s")
    print(f"built {sim.n_neurons} neurons and {n_synapses} synapses in {build_s:.2f} s "
          f"(threads: {sim.threads})")

    start = time.perf_counter()
    count = sim.advance(DT_MS, round(DURATION_MS / DT_MS))
    run_s = time.perf_counter() - start
    print(f"simulated {sim.t_ms:.0f} ms (dt {DT_MS} ms) in {run_s:.2f} s: {count} spikes")

    index, t_ms = spikes.index, spikes.t_ms
    rates = {}
    for name, first, size in (("excitatory", 0, N_E), ("inhibitory", N_E, N_I)):
        mine = index[(index >= first) & (index < first + size)] - first
        per_neuron = np.bincount(mine, minlength=size) / (DURATION_MS / 1000.0)
        rates[name] = per_neuron.mean()
        print(f"  {name}: mean rate {per_neuron.mean():5.2f} Hz (min {per_neuron.min():.0f}, "
              f"max {per_neuron.max():.0f}), silent {np.count_nonzero(per_neuron == 0)} of {size}")
    for path in plot(out_dir, index, t_ms, voltage, rates):
        print(f"wrote {path}")


if __name__ == "__main__":
    main()
