"""Reading a distributed Sim: state monitors gathered onto rank 0, and reads
of what another rank holds refused with a reason."""

import numpy as np
import pytest

import vorn_py

from networks import DT_MS, build_mixed
from twins import COMM, checks, held_nodes, id_map, renamed, twins


def test_state_monitors_gathered():
    dist, single = twins(build_mixed)
    n = single.n_neurons

    def watch(sim):
        # Every neuron's v; the synaptic current of scattered LIF neurons,
        # one twice, every third tick; v of the Hodgkin-Huxley ones by id.
        return [
            sim.state_monitor(np.arange(n), "v"),
            sim.state_monitor(np.array([119, 0, 17, 60, 17, 101]), "epsc", every=3),
            sim.state_monitor(sim.list_nodes()[220:230], "v"),
        ]

    dist_monitors, single_monitors = watch(dist), watch(single)
    with checks() as c:
        dist.advance(DT_MS, 400)
        single.advance(DT_MS, 400)
        # v of neurons of every model, from a monitor started late.
        scattered = np.array([n - 1, 0, 17, n // 2, 17, 121, 200, 249])
        late_dist = dist.state_monitor(scattered, "v", every=2)
        late_single = single.state_monitor(scattered, "v", every=2)
        dist.advance(DT_MS, 301)
        single.advance(DT_MS, 301)
        dist_monitors.append(late_dist)
        single_monitors.append(late_single)

        held = {renamed(node, id_map(dist, single)) for node in held_nodes(dist)}
        for k, (mine, whole) in enumerate(zip(dist_monitors, single_monitors)):
            # Locally: this rank's columns exact, the others' NaN.
            local = np.array([node in held for node in whole.nodes])
            c.arrays(mine.t_ms, whole.t_ms, f"monitor {k}: local t_ms")
            c.arrays(mine.values[:, local], whole.values[:, local], f"monitor {k}: local columns")
            c.expect(bool(np.isnan(mine.values[:, ~local]).all()),
                     f"monitor {k}: other ranks' columns are not NaN")
            gathered = dist.gather(mine)
            if COMM.rank == 0:
                t_ms, values = gathered
                c.arrays(t_ms, whole.t_ms, f"monitor {k}: gathered t_ms")
                c.arrays(values, whole.values, f"monitor {k}: gathered values")
            else:
                c.expect(gathered is None, f"monitor {k}: gather off rank 0 is not None")


def test_reads_of_another_ranks_parts_are_refused():
    if COMM.size == 1:
        pytest.skip("one rank holds everything")
    dist = vorn_py.Sim.distributed(COMM)
    build_mixed(dist)
    dist.advance(DT_MS, 10)
    held = set(held_nodes(dist))
    owner = {node: r for r, part in enumerate(COMM.allgather(held_nodes(dist))) for node in part}
    local_edges = set(dist.all_synapse_params())
    with checks() as c:
        c.expect(0 < len(held) < dist.n_neurons, f"rank holds {len(held)} neurons")
        for node in dist.list_nodes()[::7]:
            if node in held:
                c.values(dist.get_node_params(node)["id"], node, "a held neuron's own id")
                continue
            with pytest.raises(ValueError) as info:
                dist.get_node_params(node)
            c.values(str(info.value),
                     f"node {node} is held by rank {owner[node]} (this is rank {COMM.rank})",
                     "refusal of another rank's neuron")
        remote_edges = [e for e in dist.list_synapses() if e not in local_edges]
        c.expect(len(remote_edges) > 0, "no synapse is held elsewhere")
        for edge in remote_edges[:20]:
            with pytest.raises(ValueError) as info:
                dist.get_synapse_params(edge)
            c.values(str(info.value),
                     f"synapse {edge} is held by another rank (this is rank {COMM.rank})",
                     "refusal of another rank's synapse")
        # An unknown id is still unknown, not held elsewhere.
        unknown = "00000000-0000-4000-8000-000000000000"
        with pytest.raises(ValueError, match=f"^node {unknown} not in sim$"):
            dist.get_node_params(unknown)
        with pytest.raises(ValueError, match=f"^synapse {unknown} not in sim$"):
            dist.get_synapse_params(unknown)
