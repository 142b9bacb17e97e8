"""What the distributed tests share: the communicator, and the comparison of
a distributed Sim with its twin, the same network run whole by a plain Sim
inside each rank.

Every rank runs every test. Checks are collected rather than asserted one
by one, and every rank learns every rank's failures before any of them
asserts: a rank that stopped at its first failure would leave the others
waiting in the next collective call.
"""

import struct
from contextlib import contextmanager

import numpy as np
import pytest

MPI = pytest.importorskip("mpi4py.MPI", reason="mpi4py is not installed")
pytest.importorskip("vorn_py_mpi", reason="vorn_py was built without MPI (no vorn_py_mpi)")

import vorn_py  # noqa: E402

COMM = MPI.COMM_WORLD


def same_value(a, b) -> bool:
    """Equal, with floats compared bit for bit (so NaN equals NaN and 0.0
    differs from -0.0), through dicts and lists."""
    if isinstance(a, float) and isinstance(b, float):
        return struct.pack("<d", a) == struct.pack("<d", b)
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same_value(a[k], b[k]) for k in a)
    if isinstance(a, (list, tuple)) and isinstance(b, (list, tuple)):
        return len(a) == len(b) and all(same_value(x, y) for x, y in zip(a, b))
    return type(a) is type(b) and a == b


def same_bits(a, b) -> bool:
    a, b = np.asarray(a), np.asarray(b)
    return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()


def first_difference(a, b) -> str:
    a, b = np.asarray(a), np.asarray(b)
    if a.shape != b.shape or a.dtype != b.dtype:
        return f"{a.dtype}{a.shape} vs {b.dtype}{b.shape}"
    bits = np.dtype(f"u{a.itemsize}")
    at = np.flatnonzero(a.reshape(-1).view(bits) != b.reshape(-1).view(bits))
    return f"{len(at)} of {a.size} differ, first at {at[0]}: {a.flat[at[0]]!r} vs {b.flat[at[0]]!r}"


def short(value, limit=200) -> str:
    text = repr(value)
    return text if len(text) <= limit else text[:limit] + f"... ({len(text)} characters)"


class Checks:
    """Failed expectations of this rank, to be judged by every rank together."""

    def __init__(self, comm):
        self.comm = comm
        self.failures: list[str] = []

    def expect(self, ok: bool, what: str) -> None:
        if not ok:
            self.failures.append(f"rank {self.comm.rank}: {what}")

    def arrays(self, got, want, what: str) -> None:
        if not same_bits(got, want):
            self.failures.append(f"rank {self.comm.rank}: {what}: {first_difference(got, want)}")

    def values(self, got, want, what: str) -> None:
        if not same_value(got, want):
            self.failures.append(f"rank {self.comm.rank}: {what}: {short(got)} vs {short(want)}")


@contextmanager
def checks(comm=COMM):
    """Checks collected in the block, asserted on every rank once all ranks
    are through it; an exception on one rank counts as its failure."""
    c = Checks(comm)
    try:
        yield c
    except Exception as err:  # noqa: BLE001 - reported with the others below
        c.failures.append(f"rank {comm.rank}: {type(err).__name__}: {err}")
    every = [f for part in comm.allgather(c.failures[:20]) for f in part]
    assert not every, "\n".join(every)


def twins(build, comm=COMM, threads=1):
    """build(sim) run on a distributed Sim over comm and on a plain Sim;
    returns (distributed, single)."""
    dist = vorn_py.Sim.distributed(comm)
    single = vorn_py.Sim()
    dist.threads = threads
    single.threads = 1
    build(dist)
    build(single)
    return dist, single


def id_map(dist, single) -> dict[str, str]:
    """The twin's id for each of dist's neurons and synapses: the one at the
    same position in the listings (ids minted by two Sims differ)."""
    return dict(zip(dist.list_nodes() + dist.list_synapses(),
                    single.list_nodes() + single.list_synapses()))


def renamed(value, ids: dict[str, str]):
    """value with every id in it replaced by the twin's."""
    if isinstance(value, str):
        return ids.get(value, value)
    if isinstance(value, dict):
        return {renamed(k, ids): renamed(v, ids) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return type(value)(renamed(v, ids) for v in value)
    return value


def held_nodes(sim) -> list[str]:
    """The neurons this rank holds, in listing order."""
    return list(sim.all_node_params())


def compare_state(c: Checks, dist, single) -> None:
    """Time, the held neurons' and synapses' parameters, and the weights of
    a distributed Sim against its single-process twin. Collective."""
    ids = id_map(dist, single)
    c.values(dist.t_ms, single.t_ms, "t_ms")
    c.values(dist.n_neurons, single.n_neurons, "n_neurons")
    c.values(dist.n_synapses, single.n_synapses, "n_synapses")

    node_params = dist.all_node_params()
    for node, params in node_params.items():
        c.values(renamed(params, ids), single.get_node_params(ids[node]), f"node {node}")
    # Each neuron is held by exactly one rank, the ranks' ranges in order.
    held = c.comm.allgather(list(node_params))
    c.values([ids[n] for part in held for n in part], single.list_nodes(),
             "neurons held by the ranks")

    synapse_params = dist.all_synapse_params()
    for edge, params in synapse_params.items():
        c.values(renamed(params, ids), single.get_synapse_params(ids[edge]), f"synapse {edge}")
    local = np.array([e in synapse_params for e in dist.list_synapses()], dtype=bool)
    n_held = sum(c.comm.allgather(int(local.sum())))
    c.values(n_held, single.n_synapses, "synapses held by the ranks")

    want = single.weights()
    got = dist.weights()
    c.arrays(got[local], want[local], "weights() of held synapses")
    c.expect(bool(np.isnan(got[~local]).all()), "weights() of other ranks' synapses are not NaN")
    gathered = dist.gather_weights()
    if c.comm.rank == 0:
        c.arrays(gathered, want, "gather_weights()")
    else:
        c.expect(gathered is None, "gather_weights() off rank 0 is not None")


def compare_spikes(c: Checks, dist, dist_monitor, single_monitor) -> None:
    """Every rank's spike monitor holds every spike; rank 0 gathers them."""
    c.arrays(dist_monitor.index, single_monitor.index, "spike monitor index")
    c.arrays(dist_monitor.t_ms, single_monitor.t_ms, "spike monitor t_ms")
    gathered = dist.gather(dist_monitor)
    if c.comm.rank == 0:
        c.arrays(gathered[0], single_monitor.index, "gathered spike index")
        c.arrays(gathered[1], single_monitor.t_ms, "gathered spike t_ms")
    else:
        c.expect(gathered is None, "gather(spike monitor) off rank 0 is not None")


def shared_path(comm, tmp_path):
    """Rank 0's tmp_path on every rank: files one rank writes, the others
    read (the ranks share a file system)."""
    return comm.bcast(str(tmp_path) if comm.rank == 0 else None, root=0)

