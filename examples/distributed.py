"""The balanced network of balanced_network.py, run by several processes
that share the work:

    mpirun -n 2 python examples/distributed.py
    python examples/distributed.py

Every process runs this same script and makes the same calls. With mpi4py
installed, `Sim.distributed` makes each process one rank of the run: it
holds and steps a contiguous range of the neurons and the synapses onto
them, and the ranks swap the spikes once per tick. The spikes are the same
bits for any number of ranks, so every run prints the same total. Without
mpi4py the script runs the network in a plain Sim.
"""

import os
import sys
import time

import numpy as np

import vorn_py

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import balanced_network as net  # noqa: E402


def new_sim() -> vorn_py.Sim:
    try:
        from mpi4py import MPI
    except ImportError:
        return vorn_py.Sim()
    return vorn_py.Sim.distributed(MPI.COMM_WORLD)


def main() -> None:
    sim = new_sim()
    if sim.ranks > 1:
        sim.threads = 1  # mpirun starts a rank per core
    # The same seed on every rank draws the same network.
    rng = np.random.default_rng(net.SEED)
    sim, n_synapses = net.build(rng, *net.connections(rng), sim)
    spikes = sim.spike_monitor()

    start = time.perf_counter()
    count = sim.advance(net.DT_MS, round(net.DURATION_MS / net.DT_MS))
    run_s = time.perf_counter() - start
    held = len(sim.all_node_params())
    print(f"rank {sim.rank}: {held} neurons, stepped in {run_s:.2f} s", flush=True)

    gathered = sim.gather(spikes)  # every rank takes part; rank 0 gets them
    if sim.rank == 0:
        index, _ = gathered
        rate_e = np.count_nonzero(index < net.N_E) / net.N_E / (net.DURATION_MS / 1000.0)
        rate_i = np.count_nonzero(index >= net.N_E) / net.N_I / (net.DURATION_MS / 1000.0)
        print(f"{sim.n_neurons} neurons, {n_synapses} synapses on {sim.ranks} rank(s): "
              f"{count} spikes in {net.DURATION_MS:.0f} ms "
              f"(excitatory {rate_e:.2f} Hz, inhibitory {rate_i:.2f} Hz)")


if __name__ == "__main__":
    main()
