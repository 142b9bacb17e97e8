"""Networks run distributed and whole give the same bits: spikes, weights,
and the state of every neuron and synapse each rank holds."""

import numpy as np
import pytest

from networks import DT_MS, build_mixed, grow, reference_builder
from twins import checks, compare_spikes, compare_state, id_map, renamed, twins


@pytest.mark.parametrize("with_delays, threads", [(False, 1), (True, 2)],
                         ids=["1ms-1thread", "delays-2threads"])
def test_reference_network(with_delays, threads):
    dist, single = twins(reference_builder(with_delays), threads=threads)
    dist_spikes, single_spikes = dist.spike_monitor(), single.spike_monitor()
    with checks() as c:
        # run() returns every rank's spikes on every rank, advance() counts them.
        c.values(renamed(dist.run(1.0, 50), id_map(dist, single)), single.run(1.0, 50),
                 "spikes returned by run")
        c.values(dist.advance(1.0, 250), single.advance(1.0, 250), "spike count of advance")
        c.expect(len(single_spikes) > 1000, f"only {len(single_spikes)} spikes: too quiet to tell")
        compare_spikes(c, dist, dist_spikes, single_spikes)
        compare_state(c, dist, single)


def test_network_with_fewer_neurons_than_ranks():
    # Ranks beyond the neurons hold nothing but still take part in every tick.
    def build(sim):
        a, b = sim.add_neurons(2)
        sim.add_edge(a, b, weight=0.9)
        sim.add_edge(b, a, weight=0.3)
        sim.stimulate(a, 40.0, 1e9)

    dist, single = twins(build)
    dist_spikes, single_spikes = dist.spike_monitor(), single.spike_monitor()
    with checks() as c:
        c.values(dist.advance(1.0, 200), single.advance(1.0, 200), "spike count")
        compare_spikes(c, dist, dist_spikes, single_spikes)
        compare_state(c, dist, single)


def test_mixed_models():
    dist, single = twins(build_mixed)
    dist_spikes, single_spikes = dist.spike_monitor(), single.spike_monitor()
    with checks() as c:
        c.values(dist.advance(DT_MS, 1500), single.advance(DT_MS, 1500), "spike count")
        c.expect(len(single_spikes) > 300, f"only {len(single_spikes)} spikes: too quiet to tell")
        c.expect(set(single_spikes.index.tolist()) & set(range(220, 250)) != set(),
                 "no Hodgkin-Huxley neuron spiked")
        compare_spikes(c, dist, dist_spikes, single_spikes)
        compare_state(c, dist, single)


def test_mixed_models_edited_between_runs():
    dist, single = twins(build_mixed)
    dist_spikes, single_spikes = dist.spike_monitor(), single.spike_monitor()
    with checks() as c:
        c.values(dist.advance(DT_MS, 600), single.advance(DT_MS, 600), "spikes before the edits")
        for sim in (dist, single):
            grow(sim)
        dist.threads = 2  # lays each rank's synapses out again
        # Weights and delays as arrays: every rank passes the whole array.
        rng = np.random.default_rng(9)
        whole = single.weights()
        static = whole < 0
        whole[static] = rng.uniform(-8.0, -1.0, int(static.sum())).astype(np.float32)
        delays = rng.integers(0, 50, single.n_synapses) * DT_MS
        for sim in (dist, single):
            sim.set_weights(whole)
            sim.set_delays(delays)
        c.values(dist.advance(DT_MS, 900), single.advance(DT_MS, 900), "spikes after the edits")
        c.expect(any(i >= 250 for i in single_spikes.index.tolist()), "no new neuron spiked")
        compare_spikes(c, dist, dist_spikes, single_spikes)
        compare_state(c, dist, single)
