"""Checkpoints and folders across the boundary between distributed and
single-process runs: each way, continuing gives the bits of never stopping."""

import os

import numpy as np

import vorn_py
from networks import DT_MS, build_mixed
from twins import (COMM, checks, compare_spikes, compare_state, id_map, renamed, shared_path,
                   twins)

NOW = "2024-01-01T00:00:00Z"


def test_checkpoint_written_distributed_continues_alone(tmp_path):
    # A distributed run saves; its file, loaded alone and loaded distributed
    # again, continues like the twin that never stopped, as does the run
    # that saved.
    path = os.path.join(shared_path(COMM, tmp_path), "dist.cstate")
    dist, single = twins(build_mixed)
    with checks() as c:
        dist.advance(DT_MS, 700)
        single.advance(DT_MS, 700)
        dist.save_state(path)
        alone = vorn_py.Sim.load_state(path)
        again = vorn_py.Sim.load_state(path, comm=COMM)
        c.values(again.ranks, COMM.size, "ranks of the reloaded Sim")
        sims = (single, dist, alone, again)
        monitors = [s.spike_monitor() for s in sims]
        counts = [s.advance(DT_MS, 800) for s in sims]
        c.values(counts[1:], counts[:1] * 3, "spike counts after the checkpoint")
        c.expect(counts[0] > 200, f"only {counts[0]} spikes after the checkpoint")
        compare_spikes(c, dist, monitors[1], monitors[0])
        compare_spikes(c, again, monitors[3], monitors[0])
        c.arrays(monitors[2].index, monitors[0].index, "spikes of the file loaded alone")
        c.arrays(monitors[2].t_ms, monitors[0].t_ms, "spike times of the file loaded alone")
        c.arrays(alone.weights(), single.weights(), "weights of the file loaded alone")
        ids = id_map(alone, single)
        c.values(renamed(alone.all_node_params(), ids), single.all_node_params(),
                 "neurons of the file loaded alone")
        c.values(renamed(alone.all_synapse_params(), ids), single.all_synapse_params(),
                 "synapses of the file loaded alone")
        compare_state(c, dist, single)
        compare_state(c, again, single)


def test_checkpoint_files_alike_distributed_or_not(tmp_path):
    # From one start, a distributed run and a single process write the same
    # checkpoint bytes later on: every rank's part of the state is in it.
    root = shared_path(COMM, tmp_path)
    start, dist_path, single_path = (os.path.join(root, name) for name in
                                     ("start.cstate", "dist.cstate", "single.cstate"))
    if COMM.rank == 0:
        sim = vorn_py.Sim()
        build_mixed(sim, seed=11)
        sim.advance(DT_MS, 300)
        sim.save_state(start)
    COMM.Barrier()
    with checks() as c:
        dist = vorn_py.Sim.load_state(start, comm=COMM)
        single = vorn_py.Sim.load_state(start)
        dist_spikes, single_spikes = dist.spike_monitor(), single.spike_monitor()
        c.values(dist.advance(DT_MS, 600), single.advance(DT_MS, 600), "spike count")
        dist.save_state(dist_path)
        if COMM.rank == 0:
            single.save_state(single_path)
        COMM.Barrier()
        with open(dist_path, "rb") as f, open(single_path, "rb") as g:
            c.expect(f.read() == g.read(), "the checkpoints differ")
        compare_spikes(c, dist, dist_spikes, single_spikes)
        compare_state(c, dist, single)


def test_folder_and_its_saved_state(tmp_path):
    root = os.path.join(shared_path(COMM, tmp_path), "net.cortex")
    if COMM.rank == 0:
        cortex = vorn_py.Cortex.create(root, "net", "lif", NOW)
        cortex.apply_seed(vorn_py.seeds.random(300, 0.05, seed=4, delay_ms=2.0))
    COMM.Barrier()
    cortex = vorn_py.Cortex.open(root)

    def drive(sim):
        sim.add_poisson_input(np.arange(sim.n_neurons), 2500.0, 1.5, seed=2)

    def start(comm=None):
        sim = vorn_py.Sim.from_cortex(cortex, comm=comm)
        drive(sim)
        return sim

    with checks() as c:
        dist, single = start(COMM), start()
        whole = start()  # never stops
        for sim in (dist, single, whole):
            sim.advance(0.5, 400)
        compare_state(c, dist, single)
        cortex.save_state(dist)  # every rank calls it; rank 0 writes

        resumed_dist = vorn_py.Sim.from_cortex(cortex, state=True, comm=COMM)
        resumed = vorn_py.Sim.from_cortex(cortex, state=True)
        sims = (whole, dist, resumed_dist, resumed)
        monitors = [s.spike_monitor() for s in sims]
        counts = [s.advance(0.5, 400) for s in sims]
        c.values(counts[1:], counts[:1] * 3, "spike counts after the folder's checkpoint")
        c.expect(counts[0] > 100, f"only {counts[0]} spikes after the checkpoint")
        compare_spikes(c, dist, monitors[1], monitors[0])
        compare_spikes(c, resumed_dist, monitors[2], monitors[0])
        c.arrays(monitors[3].index, monitors[0].index, "spikes resumed alone")
        c.arrays(resumed.weights(), whole.weights(), "weights resumed alone")
        compare_state(c, resumed_dist, whole)
