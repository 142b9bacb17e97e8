"""The networks the distributed tests build: each a function that builds
into a Sim given to it, so that a distributed Sim and a plain one get the
same network from the same calls."""

import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "bench"))
from experiments import reference_arrays, unit  # noqa: E402

# ---- the reference network, scaled down -----------------------------------

N_REFERENCE = 800
# The reference network's g_syn of 1 is scaled up with the in-degree scaled
# down (8 instead of 100), so that recurrent input still shapes the spikes.
G_SYN = 12.0


def reference_builder(with_delays: bool):
    pre, post, weight, currents = reference_arrays(N_REFERENCE)
    if with_delays:
        # 1 to 20 ms, drawn as bench_tick draws them.
        k = pre.astype(np.uint64) * np.uint64(N_REFERENCE) + post.astype(np.uint64)
        delay = 1.0 + np.floor(20.0 * unit(np.uint64(3 * N_REFERENCE**2) + k))
    else:
        delay = 1.0

    def build(sim):
        sim.add_neurons(N_REFERENCE)
        sim.add_edges(pre, post, weight, config={"g_syn": G_SYN}, delay_ms=delay)
        for node, current in zip(sim.list_nodes(), currents.tolist()):
            sim.stimulate(node, current, 1e9)

    return build


# ---- several neuron models, delays, static inhibition, noise --------------

HH = {
    "c_m": 1.0, "g_na": 120.0, "g_k": 36.0, "g_l": 0.3, "e_na": 50.0, "e_k": -77.0,
    "e_l": -54.387, "v_rest": -65.0, "v_spike_thresh": 0.0, "refractory_ms": 2.0,
    "integrator": "rk4",
}
IZHIKEVICH = {"a": 0.02, "b": 0.2, "c": -65.0, "d": 8.0, "v_peak": 30.0}
ADEX = {
    "c_m": 20.0, "g_l": 1.0, "e_l": -70.0, "v_t": -50.0, "delta_t": 2.0,
    "v_peak": 0.0, "v_reset": -58.0, "tau_w": 100.0, "a": 0.1, "b": 2.0,
}
PLASTIC = {
    "w_min": 0.0, "w_max": 1.0, "g_syn": 4.0, "a_plus": 0.01, "a_minus": 0.012,
    "tau_plus_ms": 20.0, "tau_minus_ms": 20.0, "tau_eligibility_ms": 1000.0,
    "tau_tag_ms": 10000.0, "learning_rate": 1.0, "dopamine_threshold": 0.1,
    "dopamine_gain": 1.0, "target_post_rate_hz": 5.0, "homeostatic_rate": 0.001,
    "tau_rate_ms": 1000.0, "post_consolidation_decay": 0.5,
}
DT_MS = 0.1


def build_mixed(sim, seed=7):
    """LIF, Izhikevich, AdEx and Hodgkin-Huxley neurons; STDP, three-factor
    and static inhibitory synapses with delays from 0 to 6 ms (not all whole
    ticks); Poisson noise on everyone, more on a few; a modulator pulse."""
    rng = np.random.default_rng(seed)
    sim.add_neurons(120)
    sim.add_neurons(60, "izhikevich", IZHIKEVICH)
    sim.add_neurons(40, "adex", ADEX)
    hh = sim.add_neurons(30, "hh", HH)
    n = sim.n_neurons
    m = 2500
    sim.add_edges(rng.integers(0, n, m), rng.integers(0, n, m), rng.uniform(0.2, 0.9, m),
                  config={"g_syn": 6.0, "tau_plus": 15.0}, delay_ms=rng.uniform(0.0, 6.0, m))
    m = 600
    sim.add_edges(rng.integers(0, 120, m), rng.integers(0, n, m), -rng.uniform(1.0, 6.0, m),
                  kind="static", config={"g_syn": 2.0}, delay_ms=rng.integers(1, 4, m) * 0.5)
    m = 400
    sim.add_edges(rng.integers(0, n, m), rng.integers(0, n, m), rng.uniform(0.3, 0.7, m),
                  kind="plastic-synapse", config=PLASTIC, delay_ms=1.0)
    sim.add_poisson_input(np.arange(n), 3500.0, 1.0, seed=seed)
    sim.add_poisson_input(sim.list_nodes()[:10], 400.0, 6.0, seed=seed + 1)
    sim.stimulate(hh[0], 20.0, 30.0)
    sim.set_modulator_base(0, 0.2)
    sim.add_modulator_pulse(0, 0.6, 40.0)


def grow(sim, seed=8):
    """Edits after some ticks: new neurons and synapses (onto old neurons
    of every rank and onto the new ones), a rewritten parameter, new weights
    and delays for everyone."""
    rng = np.random.default_rng(seed)
    old = sim.n_neurons
    sim.add_neurons(5, "izhikevich", IZHIKEVICH)
    sim.add_neurons(25)
    n = sim.n_neurons
    m = 500
    sim.add_edges(rng.integers(0, n, m), rng.integers(0, n, m), rng.uniform(0.2, 0.9, m),
                  config={"g_syn": 6.0}, delay_ms=rng.uniform(0.0, 3.0, m))
    sim.add_edges(rng.integers(old, n, 100), rng.integers(0, old, 100), -2.0, kind="static")
    sim.add_poisson_input(np.arange(old, n), 2000.0, 1.5, seed=seed)
    nodes = sim.list_nodes()
    sim.set_node_param(nodes[3], "v", -52.5)
    sim.set_node_param(nodes[n - 1], "v", -55.0)
    edges = sim.list_synapses()
    sim.set_synapse_param(edges[11], "a_plus", 0.02)
