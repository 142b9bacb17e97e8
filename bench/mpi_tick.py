"""The reference network (10,000 LIF neurons, ~1,000,000 STDP synapses, as
bench_tick and experiments.py build it) ticked by a distributed Sim on 1 and
on 2 ranks, one thread each.

Run as `python bench/mpi_tick.py`: it starts itself under mpirun once per
rank count and prints

  mpi_1rank_synapse_tick_ns      wall time per synapse per tick, 1 rank
  mpi_2ranks_synapse_tick_ns     the same on 2 ranks
  mpi_2ranks_vs_1rank            their ratio (below 1: 2 ranks are faster)
  mpi_*_cpu_synapse_tick_ns      the same from the CPU time each rank spends
                                 outside the exchange (the busiest rank's): the
                                 ranks' own work, which other load on the
                                 machine cannot stretch the way it does wall time
  mpi_2ranks_vs_1rank_cpu        their ratio: how well the work splits
  mpi_exchange_us_per_tick       on 2 ranks, the time per tick a rank spends in
                                 the spike exchange's collective calls, mean
                                 over the ranks
  mpi_exchange_min_us_per_tick   the same for the rank that spent least
  mpi_spike_counts_match         1 when both runs fired the same spikes
  load_avg_1min_before/after     the machine's load around the runs

Timing: after a warm-up, every rank starts together (a barrier) and runs
--ticks ticks; the run's wall time is the slowest rank's. The exchange time
comes from an opt-in timer in the MPI transport (vorn_py_mpi), which adds
the steady-clock and thread CPU time of each tick's Allgather + Allgatherv.
A rank that reaches the exchange first waits there for the other (MPI polls
while it waits, so that costs CPU time too, which is why it is taken out),
so the exchange time is transfer plus waiting: for load imbalance, or for
the other rank to get a core on a busy machine. The rank that waited least
shows the transfer itself most closely.
"""

import argparse
import os
import re
import subprocess
import sys
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from experiments import reference_arrays  # noqa: E402


def worker(ticks: int, warmup: int) -> None:
    from mpi4py import MPI

    import vorn_py
    import vorn_py_mpi

    comm = MPI.COMM_WORLD
    pre, post, weight, currents = reference_arrays()
    sim = vorn_py.Sim.distributed(comm)
    sim.threads = 1
    sim.add_neurons(len(currents))
    sim.add_edges(pre, post, weight, config={"g_syn": 1.0})
    for node, current in zip(sim.list_nodes(), currents.tolist()):
        sim.stimulate(node, current, 1e9)
    del pre, post, weight
    sim.advance(1.0, warmup)

    comm.Barrier()
    vorn_py_mpi.time_spike_exchange(True)
    start, start_cpu = time.perf_counter(), time.thread_time()
    spikes = sim.advance(1.0, ticks)  # one thread: the ticks run on this one
    wall, cpu = time.perf_counter() - start, time.thread_time() - start_cpu
    vorn_py_mpi.time_spike_exchange(False)
    exchange, exchange_cpu, calls = vorn_py_mpi.spike_exchange_time()
    assert calls == ticks, (calls, ticks)

    # Per rank: wall time, time in the exchange, and CPU time outside it.
    ranks = comm.gather((wall, exchange, cpu - exchange_cpu))
    if comm.rank == 0:
        n = comm.size
        name = f"mpi_{n}rank{'s' if n > 1 else ''}"
        per_synapse_tick = 1e9 / ticks / sim.n_synapses
        print(f"{name}_synapse_tick_ns={max(r[0] for r in ranks) * per_synapse_tick:.3f}")
        print(f"{name}_cpu_synapse_tick_ns={max(r[2] for r in ranks) * per_synapse_tick:.3f}")
        print(f"{name}_spikes={spikes}")
        if n > 1:
            exchanges = [r[1] / ticks * 1e6 for r in ranks]
            print(f"mpi_exchange_us_per_tick={sum(exchanges) / n:.2f}")
            print(f"mpi_exchange_min_us_per_tick={min(exchanges):.2f}")


def run_ranks(n: int, ticks: int, warmup: int) -> dict[str, str]:
    mpirun = ["mpirun", "--oversubscribe", "-n", str(n)]
    if os.geteuid() == 0:
        mpirun.append("--allow-run-as-root")
    out = subprocess.run(
        mpirun + [sys.executable, os.path.abspath(__file__), "--worker", "--ticks", str(ticks),
                  "--warmup", str(warmup)],
        check=True, capture_output=True, text=True).stdout
    return dict(re.findall(r"^(\w+)=(\S+)$", out, re.MULTILINE))


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--ticks", type=int, default=1000)
    parser.add_argument("--warmup", type=int, default=100)
    parser.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        worker(args.ticks, args.warmup)
        return

    print(f"load_avg_1min_before={os.getloadavg()[0]:.2f}")
    one = run_ranks(1, args.ticks, args.warmup)
    two = run_ranks(2, args.ticks, args.warmup)
    for figures in (one, two):
        for key, value in figures.items():
            if not key.endswith("_spikes"):
                print(f"{key}={value}")
    for suffix in ("synapse_tick_ns", "cpu_synapse_tick_ns"):
        ratio = float(two[f"mpi_2ranks_{suffix}"]) / float(one[f"mpi_1rank_{suffix}"])
        print(f"mpi_2ranks_vs_1rank{'_cpu' if 'cpu' in suffix else ''}={ratio:.3f}")
    print(f"mpi_spike_counts_match={int(one['mpi_1rank_spikes'] == two['mpi_2ranks_spikes'])}")
    print(f"load_avg_1min_after={os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
