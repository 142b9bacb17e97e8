"""Checks that the peer benchmark's simulators run the same network: the
counter-based draws, the id texts, the single-precision oracle, and the Brian2
model and vorn_py against that oracle."""

import math
import multiprocessing
import os
import sys
import tempfile
import uuid

import numpy as np
import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "..", "bench")]

import peer_brian2  # noqa: E402
import peer_network  # noqa: E402
from vorn_reference import VornReference  # noqa: E402

MASK = (1 << 64) - 1


def scalar_unit(k):
    """The draw written with Python integers, wrapping by explicit masks."""
    z = (12345 + ((k + 1) & MASK) * 0x9E3779B97F4A7C15) & MASK
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
    z ^= z >> 31
    return (z >> 11) * 2.0**-53


def test_draws_agree_with_integer_arithmetic_including_wraparound():
    counters = [0, 1, 2, 99, 12345, 10**8 - 1, 2 * 10**8 + 7, 2**63, 2**64 - 2, 2**64 - 1]
    got = peer_network.unit(np.array(counters, dtype=np.uint64))
    assert got.tolist() == [scalar_unit(k) for k in counters]
    assert all(0.0 <= u < 1.0 for u in got)


@pytest.mark.parametrize("n,p", [(37, 0.1), (60, 0.3)])
def test_network_agrees_with_a_plain_loop(n, p):
    edges = []
    for i in range(n):
        for j in range(n):
            if j != i and scalar_unit(i * n + j) < p:
                w = np.float32(0.4 + 0.2 * scalar_unit(n * n + i * n + j))
                edges.append((i, j, w))
    stim = [np.float32(30.0 * scalar_unit(2 * n * n + i)) for i in range(n)]

    net = peer_network.build_network(n, p)
    assert list(zip(net.pre.tolist(), net.post.tolist())) == [(i, j) for i, j, _ in edges]
    assert net.weight.tolist() == [float(w) for _, _, w in edges]
    assert net.stim.tolist() == [float(s) for s in stim]
    assert net.edge_lo().tolist() == [i * n + j for i, j, _ in edges]


def test_network_survives_a_save_and_load():
    net = peer_network.build_network(50, 0.2)
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "net.npz")
        peer_network.save_network(net, path)
        back = peer_network.load_network(path)
    assert back.n == net.n
    for field in ("pre", "post", "weight", "stim"):
        assert np.array_equal(getattr(back, field), getattr(net, field))
        assert getattr(back, field).dtype == getattr(net, field).dtype


def test_id_texts_are_canonical_uuids_of_hi_and_lo():
    def canonical(hi, lo):
        return str(uuid.UUID(bytes=hi.to_bytes(8, "big") + lo.to_bytes(8, "big")))

    for i in [0, 1, 9999, 2**48 - 2, 2**48 - 1, 2**52 + 5]:
        assert peer_network.node_id_text(i) == canonical(0, i + 1)
    for lo in [0, 1, 10**8 - 1, 2**48, 2**64 - 1]:
        assert peer_network.edge_id_text(lo) == canonical(1, lo)


def test_reference_lif_neuron_follows_the_documented_trajectory():
    ref = VornReference(1, [], [], [], [40.0])
    trace = []
    for _ in range(9):
        spiked = ref.tick()
        trace.append((bool(spiked[0]), float(ref.v[0]), float(ref.refractory_left[0])))
    assert trace[0][1] == -63.0
    assert trace[1][1] == pytest.approx(-59.4625, abs=1e-4)
    assert trace[2][1] == pytest.approx(-54.7613, abs=1e-4)
    assert trace[3] == (True, -70.0, 2.0)
    assert trace[4] == (False, -70.0, 1.0)
    assert trace[5] == (False, -70.0, 0.0)
    assert trace[6][1] == pytest.approx(-61.4375, abs=1e-4)
    assert [s for s, _, _ in trace] == [False] * 3 + [True] + [False] * 4 + [True]


def test_reference_stdp_potentiates_then_depresses_with_decayed_traces():
    # Node 0 fires on tick 1 from its own drive; the strong synapse makes
    # node 1 fire on tick 2; node 0 fires again on tick 4 once its two
    # refractory ticks are over.
    ref = VornReference(2, [0], [1], [0.5], [1000.0, 0.0], g_syn=1000.0)
    spikes = [ref.tick().tolist() for _ in range(4)]
    assert spikes == [[True, False], [False, True], [False, False], [True, False]]
    potentiated = 0.5 + 0.01 * math.exp(-1 / 20)
    expected = potentiated - 0.012 * math.exp(-2 / 20)
    assert float(ref.w[0]) == pytest.approx(expected, abs=1e-6)
    assert float(ref.pre_trace[0]) == pytest.approx(1.0 + math.exp(-3 / 20), abs=1e-6)
    assert float(ref.post_trace[0]) == pytest.approx(math.exp(-2 / 20), abs=1e-6)


def test_reference_weights_stay_clipped_under_strong_plasticity():
    net = peer_network.build_network(60, 0.3)
    ref = VornReference(net.n, net.pre, net.post, net.weight, net.stim)
    ref.a_plus, ref.a_minus = np.float32(0.5), np.float32(0.5)
    for _ in range(60):
        ref.tick()
    assert ref.w.min() == 0.0 and ref.w.max() == 1.0
    assert ((ref.w >= 0.0) & (ref.w <= 1.0)).all()


def reference_run(net, steps):
    ref = VornReference(net.n, net.pre, net.post, net.weight, net.stim)
    spikes = [np.nonzero(ref.tick())[0].tolist() for _ in range(steps)]
    return spikes, ref


def brian2_run(device, n, p, steps, build_dir, threads=0, event_driven=False):
    """Runs the Brian2 model in a fresh process; returns per-step spikes,
    weights and membrane potentials."""
    import brian2 as b2

    b2.prefs.core.default_float_dtype = np.float32
    if device == "cpp_standalone":
        b2.set_device("cpp_standalone", directory=build_dir)
        b2.prefs.devices.cpp_standalone.openmp_threads = threads
    else:
        b2.prefs.codegen.target = device
    net = peer_network.build_network(n, p)
    network, neurons, synapses, monitor = peer_brian2.brian2_model(
        net, record_spikes=True, event_driven=event_driven)
    network.run(steps * peer_brian2.DT_MS * b2.ms)
    step = np.round(np.asarray(monitor.t / b2.ms) / peer_brian2.DT_MS).astype(int)
    index = np.asarray(monitor.i)
    spikes = [sorted(index[step == k].tolist()) for k in range(steps)]
    # Synapse order inside Brian2 may differ from creation order; key by pair.
    order = np.lexsort((np.asarray(synapses.j), np.asarray(synapses.i)))
    return spikes, np.asarray(synapses.w)[order], np.asarray(neurons.v)


# The benchmark's Brian2 runs: each code target, and C++ standalone on 2
# OpenMP threads and with event-driven STDP traces.
@pytest.mark.parametrize(
    "device,threads,event_driven",
    [
        ("numpy", 0, False),
        ("cython", 0, False),
        ("cpp_standalone", 0, False),
        ("cpp_standalone", 2, False),
        ("cpp_standalone", 0, True),
        ("cpp_standalone", 2, True),
    ],
    ids=["numpy", "cython", "cpp", "cpp-2threads", "cpp-event-driven", "cpp-2threads-event-driven"],
)
def test_brian2_model_reproduces_the_reference_dynamics(device, threads, event_driven, tmp_path):
    pytest.importorskip("brian2")
    n, p, steps = 200, 0.05, 250
    net = peer_network.build_network(n, p)
    want_spikes, ref = reference_run(net, steps)
    ctx = multiprocessing.get_context("spawn")
    with ctx.Pool(1) as pool:
        spikes, weights, v = pool.apply(
            brian2_run, (device, n, p, steps, str(tmp_path), threads, event_driven))
    assert sum(map(len, want_spikes)) > n  # the drive makes most neurons fire
    assert spikes == want_spikes
    # The net's edges are already sorted by (pre, post).
    assert np.allclose(weights, ref.w, atol=1e-5, rtol=0)
    assert np.abs(ref.w - net.weight).max() > 1e-3  # plasticity did act
    assert np.allclose(v, ref.v, atol=1e-3, rtol=0)


def os_threads():
    return len(os.listdir("/proc/self/task"))


# About 29,000 synapses: enough work per tick that the engine shares each
# tick among its threads rather than running it on the caller alone.
@pytest.mark.parametrize("threads", [1, 2])
def test_vorn_sim_reproduces_the_reference_dynamics_exactly(threads):
    vorn_py = pytest.importorskip("vorn_py")
    net = peer_network.build_network(600, 0.08)
    sim = peer_brian2.build_vorn(net, vorn_py)
    sim.threads = threads
    assert sim.threads == threads
    threads_before = os_threads()
    assert (sim.n_neurons, sim.n_synapses) == (net.n, net.n_edges)
    edge_ids = [peer_network.edge_id_text(int(lo)) for lo in net.edge_lo()]
    assert [e for e, _ in sim.weight_snapshot()] == edge_ids
    assert sim.get_synapse_params(edge_ids[-1])["g_syn"] == 1.0

    ref = VornReference(net.n, net.pre, net.post, net.weight, net.stim)
    index = {peer_network.node_id_text(i): i for i in range(net.n)}
    for step in range(1, 201):
        want = np.nonzero(ref.tick())[0].tolist()
        got = sim.tick(peer_brian2.DT_MS)
        assert sorted(index[node] for node, _ in got) == want, f"tick {step}"
        assert all(t == float(step) for _, t in got)
    if threads > 1 and os.path.isdir("/proc/self/task"):
        assert os_threads() > threads_before, "the ticks ran without worker threads"
    weights = np.array([w for _, w in sim.weight_snapshot()], dtype=np.float32)
    assert np.array_equal(weights, ref.w)
