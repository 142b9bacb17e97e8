"""Experiments at scale: building from arrays, static and plastic kinds in
bulk, noise, monitors, weights and delays as arrays, long runs without the
interpreter lock, Ctrl-C and progress, and the thread count."""

import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

import vorn_py
from conftest import raises_text

PLASTIC = {
    "w_min": 0.0, "w_max": 1.0, "g_syn": 2.0, "a_plus": 0.01, "a_minus": 0.012,
    "tau_plus_ms": 20.0, "tau_minus_ms": 20.0, "tau_eligibility_ms": 1000.0,
    "tau_tag_ms": 10000.0, "learning_rate": 1.0, "dopamine_threshold": 0.1,
    "dopamine_gain": 1.0, "target_post_rate_hz": 5.0, "homeostatic_rate": 0.0,
    "tau_rate_ms": 1000.0, "post_consolidation_decay": 0.5,
}


def network(n=60, p=0.1, seed=1, threads=1):
    """A driven random network built from arrays; returns (sim, pre, post, w)."""
    rng = np.random.default_rng(seed)
    sim = vorn_py.Sim()
    sim.threads = threads
    sim.add_neurons(n)
    pre, post = np.nonzero(rng.random((n, n)) < p)
    w = rng.uniform(0.2, 0.9, len(pre))
    sim.add_edges(pre, post, w, config={"g_syn": 20.0})
    for i, node in enumerate(sim.list_nodes()):
        sim.stimulate(node, float(15 + 20 * rng.random()), 1e9)
    return sim, pre, post, w


def test_add_edges_refuses_bad_batches_whole():
    sim = vorn_py.Sim()
    sim.add_neurons(4)
    cases = [
        (([0, 1], [1]), {}, "post has length 1 but pre has length 2"),
        (([0, 1], [1, 2], [0.5]), {}, "weight has length 1 but pre has length 2"),
        (([0, 1, 2], [1, 4, 0]), {}, "post[1] = 4 is not a neuron index: the sim has 4 neurons"),
        (([0, -1], [1, 2]), {}, "pre[1] is negative: -1"),
        (([0, 1], [1, 2], [0.5, 1.5]), {}, "weight[1] = 1.5 is outside [0, 1] for kind 'stdp'"),
        (([0, 1], [1, 2], [0.5, float("nan")]), {}, "weight[1] is not finite: NaN"),
        (([0], [1], 0.5), {"kind": "static", "delay_ms": -1.0}, "delay_ms must be >= 0, got -1"),
        (([0], [1], 2.0), {"kind": "plastic-synapse", "config": PLASTIC},
         "weight = 2 is outside [0, 1] for kind 'plastic-synapse'"),
        (([0], [1]), {"kind": "inhibitory"},
         "unknown synapse kind 'inhibitory'; expected 'stdp', 'plastic-synapse' or 'static'"),
        (([0], [1]), {"config": {"g_syn": -1}}, "parameter 'g_syn' out of range: must be in [0, 10000]"),
    ]
    for args, kwargs, text in cases:
        assert raises_text(ValueError, sim.add_edges, *args, **kwargs) == text
    assert sim.n_synapses == 0
    assert "argument 'pre'" in raises_text(TypeError, sim.add_edges, np.array([0.5]), [1])
    assert "must be 1-D" in raises_text(ValueError, sim.add_edges, np.zeros((2, 2), int), [1, 2])


def test_add_edges_equals_add_edge_calls():
    rng = np.random.default_rng(7)
    pre = rng.integers(0, 30, 400)
    post = rng.integers(0, 30, 400)
    post[:10] = pre[:10]                      # self-edges
    pre[-20:], post[-20:] = pre[:20], post[:20]  # repeats within the batch
    w = rng.uniform(0, 1, 400)
    bulk = vorn_py.Sim()
    ids = bulk.add_neurons(30)
    added = bulk.add_edges(pre, post, w.astype(np.float32), config={"g_syn": 30.0})
    edge_ids = bulk.list_synapses()
    assert added == len(edge_ids) == len({(a, b) for a, b in zip(pre, post) if a != b})

    single = vorn_py.Sim()
    for node in ids:
        single.add_neuron(node)
    made = iter(edge_ids)
    seen = set()
    for a, b, x in zip(pre, post, w):
        if a != b and (a, b) not in seen:
            seen.add((a, b))
            e = single.add_edge(ids[a], ids[b], float(np.float32(x)), next(made))
            single.set_synapse_param(e, "g_syn", 30.0)
    assert single.list_synapses() == edge_ids
    for sim in (bulk, single):
        for i, node in enumerate(ids):
            sim.stimulate(node, 10.0 + i, 1e9)
    assert bulk.run(1.0, 200) == single.run(1.0, 200)
    assert bulk.all_synapse_params() == single.all_synapse_params()
    assert bulk.all_node_params() == single.all_node_params()


def test_monitors_record_what_run_returns():
    sim, *_ = network()
    nodes = sim.list_nodes()
    spikes = sim.spike_monitor()
    v = sim.state_monitor(nodes[:5], "v")
    every3 = sim.state_monitor(np.arange(5, 8), "epsc", every=3)
    returned = sim.run(1.0, 50)
    assert len(spikes) == len(returned) > 0
    assert [nodes[i] for i in spikes.index] == [n for n, _ in returned]
    assert spikes.t_ms.tolist() == [t for _, t in returned]
    assert spikes.index.dtype == np.uint32 and spikes.t_ms.dtype == np.float64
    assert v.values.shape == (50, 5) and v.values.dtype == np.float32
    assert v.t_ms.tolist() == [float(t) for t in range(1, 51)]
    assert np.array_equal(v.values[-1], np.float32([sim.get_node_params(n)["v"] for n in nodes[:5]]))
    assert every3.t_ms.tolist() == [3.0 * k for k in range(1, 17)] and every3.nodes == nodes[5:8]

    # advance records the same way and returns the count; tick does too.
    count = sim.advance(1.0, 30)
    sim.tick(1.0)
    assert len(spikes) == len(returned) + count + (len(spikes) - len(returned) - count)
    assert len(v) == 81
    spikes.clear()
    assert len(spikes) == 0 and spikes.index.size == 0
    del sim
    assert v.values.shape == (81, 5)  # kept after the Sim is gone


def test_state_monitor_refuses_keys_that_are_not_numbers():
    sim = vorn_py.Sim()
    hh = sim.add_model_neuron("hh", {
        "c_m": 1.0, "g_na": 120.0, "g_k": 36.0, "g_l": 0.3, "e_na": 50.0, "e_k": -77.0,
        "e_l": -54.387, "v_rest": -65.0, "v_spike_thresh": 0.0, "refractory_ms": 2.0,
        "integrator": "rk4"})
    lif = sim.add_neuron()
    assert sim.state_monitor([hh, lif], "v").nodes == [hh, lif]
    assert raises_text(ValueError, sim.state_monitor, [lif, hh], "tau_m") == \
        f"'tau_m' is not a number of node {hh}"
    assert raises_text(ValueError, sim.state_monitor, [0], "v", every=0) == \
        "every must be > 0, got 0"
    assert raises_text(ValueError, sim.state_monitor, [2], "v") == \
        "nodes[0] = 2 is not a neuron index: the sim has 2 neurons"


def test_static_inhibition_lowers_the_rate():
    def post_spikes(weight):
        sim = vorn_py.Sim()
        pre, post = sim.add_neurons(2)
        if weight is not None:
            sim.add_static_edge(pre, post, weight)
        sim.stimulate(pre, 40.0, 1e9)
        sim.stimulate(post, 5.0, 1e9)
        return sum(1 for n, _ in sim.run(1.0, 500) if n == post)

    free, inhibited, excited = post_spikes(None), post_spikes(-2.0), post_spikes(2.0)
    assert inhibited < free < excited
    sim = vorn_py.Sim()
    a, b = sim.add_neurons(2)
    e = sim.add_static_edge(a, b, -3.5, delay_ms=2.0)
    assert sim.get_synapse_params(e) == {"id": e, "pre_id": a, "post_id": b, "weight": -3.5,
                                         "g_syn": 1.0}
    assert sim.set_synapse_param(e, "weight", -1e6)["weight"] == -1e6
    assert "not finite" in raises_text(ValueError, sim.add_static_edge, a, b, float("inf"))


def test_poisson_counts_have_poisson_statistics_and_repeat_per_seed():
    def counts(seed, rate=2000.0, ticks=400):
        sim = vorn_py.Sim()
        sim.add_neurons(200)
        # A threshold no input reaches: epsc integrates weight * k exactly.
        for n in sim.list_nodes():
            sim.set_node_param(n, "tau_syn", 1e9)
            sim.set_node_param(n, "v_thresh", 50.0)
        sim.add_poisson_input(np.arange(200), rate, 1.0, seed=seed)
        before = np.array([sim.get_node_params(n)["epsc"] for n in sim.list_nodes()])
        sim.run(1.0, 1)
        return np.array([sim.get_node_params(n)["epsc"] for n in sim.list_nodes()]) - before

    a, b, c = counts(5), counts(5), counts(6)
    assert np.array_equal(a, b) and not np.array_equal(a, c)
    # One tick at 2 kHz: k ~ Poisson(2) per neuron.
    assert abs(a.mean() - 2.0) < 0.3 and abs(a.var() - 2.0) < 0.6
    lam = 50.0  # the rejection sampler's range
    big = np.concatenate([counts(s, rate=lam * 1000.0) for s in range(5)])
    assert abs(big.mean() - lam) < 1.0 and abs(big.var() / lam - 1.0) < 0.2
    sim = vorn_py.Sim()
    sim.add_neurons(2)
    assert raises_text(ValueError, sim.add_poisson_input, [0], -1.0, 1.0) == \
        "rate_hz must be >= 0, got -1"
    assert raises_text(ValueError, sim.add_poisson_input, [0], 10.0, float("nan")) == \
        "weight is not finite: NaN"


def test_weights_and_delays_as_arrays():
    sim = vorn_py.Sim()
    sim.add_neurons(3)
    sim.add_edges([0, 1], [1, 2], [0.25, 0.5])
    sim.add_edges([2], [0], -4.0, kind="static", delay_ms=3.0)
    assert sim.weights().tolist() == [0.25, 0.5, -4.0] and sim.weights().dtype == np.float32
    assert sim.delays().tolist() == [1.0, 1.0, 3.0]
    sim.set_weights(np.array([0.75, 1.0, 9.0]))
    assert sim.weights().tolist() == [0.75, 1.0, 9.0]
    e = sim.list_synapses()
    assert raises_text(ValueError, sim.set_weights, [0.1, 1.5, 0.0]) == \
        f"weights[1] = 1.5 is outside [0, 1] for synapse {e[1]}"
    assert raises_text(ValueError, sim.set_weights, [0.1]) == \
        "weights has length 1 but the sim has 3 synapses"
    sim.set_delays([0.0, 2.5, 7.0])
    assert sim.delays().tolist() == [0.0, 2.5, 7.0]
    assert raises_text(ValueError, sim.set_delays, [1.0, float("inf"), 1.0]) == \
        "delays[1] is not finite: inf"
    assert sim.weights().tolist() == [0.75, 1.0, 9.0] and sim.delays().tolist() == [0.0, 2.5, 7.0]


def test_non_finite_numbers_are_refused_and_change_nothing(sim):
    a, b = sim.add_neurons(2)
    before = sim.all_node_params()
    for call, args, text in [
        (sim.add_edge, (a, b, float("nan")), "weight is not finite: NaN"),
        (sim.stimulate, (a, float("nan"), 5.0), "current is not finite: NaN"),
        (sim.stimulate, (a, 1.0, float("inf")), "duration_ms is not finite: inf"),
        (sim.add_modulator_pulse, (0, 0.5, float("nan")), "tau_ms is not finite: NaN"),
        (sim.add_modulator_pulse, (0, float("inf"), 1.0), "amount is not finite: inf"),
        (sim.add_modulator_pulse, (0, 0.5, 0.0), "tau_ms must be > 0, got 0"),
    ]:
        assert raises_text(ValueError, call, *args) == text
    sim.run(1.0, 20)
    assert sim.n_synapses == 0 and sim.modulator_levels() == [0.0] * 4
    assert sim.all_node_params() == before


@pytest.mark.parametrize("env, expected", [("3", "3"), (None, str(len(os.sched_getaffinity(0))))])
def test_threads_default(env, expected):
    environ = {k: v for k, v in os.environ.items() if k != "VORN_THREADS"}
    if env is not None:
        environ["VORN_THREADS"] = env
    out = subprocess.run([sys.executable, "-c", "import vorn_py; print(vorn_py.Sim().threads)"],
                         capture_output=True, text=True, env=environ, timeout=60)
    assert out.stdout.strip() == expected, out.stderr
    environ["VORN_THREADS"] = "many"
    out = subprocess.run([sys.executable, "-c", "import vorn_py; vorn_py.Sim()"],
                         capture_output=True, text=True, env=environ, timeout=60)
    assert "VORN_THREADS must be a whole number in [1, 1024], got 'many'" in out.stderr
    sim = vorn_py.Sim()
    assert raises_text(ValueError, setattr, sim, "threads", 0) == "threads must be in [1, 1024], got 0"


def test_sigint_stops_a_long_run_quickly():
    code = textwrap.dedent("""
        import sys, time, numpy as np, vorn_py
        sim = vorn_py.Sim()
        sim.add_neurons(2000)
        rng = np.random.default_rng(0)
        sim.add_edges(rng.integers(0, 2000, 100000), rng.integers(0, 2000, 100000))
        mon = sim.spike_monitor()
        for n in sim.list_nodes()[:500]:
            sim.stimulate(n, 30.0, 1e12)
        print("ready", flush=True)
        try:
            sim.advance(1.0, 10**9) if sys.argv[1] == "advance" else sim.run(1.0, 10**9)
        except KeyboardInterrupt:
            t = time.monotonic()
            print("interrupted", sim.t_ms > 0, len(mon) > 0, flush=True)
            print(t, flush=True)
    """)
    for method in ("advance", "run"):
        proc = subprocess.Popen([sys.executable, "-c", code, method], stdout=subprocess.PIPE,
                                text=True)
        assert proc.stdout.readline().strip() == "ready"
        time.sleep(0.5)
        sent = time.monotonic()
        proc.send_signal(signal.SIGINT)
        out, _ = proc.communicate(timeout=30)
        lines = out.split("\n")
        assert lines[0] == "interrupted True True", out
        assert float(lines[1]) - sent < 0.2


def test_progress_callback_and_bar(capfd):
    sim, *_ = network(n=50)
    calls = []
    sim.advance(1.0, 300, progress=lambda done, total: calls.append((done, total)))
    assert calls[-1] == (300, 300) and all(t == 300 for _, t in calls)

    class Stop(Exception):
        pass

    def stop(done, total):
        raise Stop

    with pytest.raises(Stop):
        sim.advance(1.0, 10**9, progress=stop)
    assert 0 < sim.t_ms < 1e9
    assert "progress must be a bool or a callable" in raises_text(TypeError, sim.advance, 1.0, 1,
                                                                   progress="yes")
    capfd.readouterr()
    sim.advance(1.0, 50, progress=True)
    err = capfd.readouterr().err
    assert "50/50" in err or "50it" in err or "50/50 [" in err


def test_other_threads_run_during_advance_and_get_borrow_errors():
    sim, *_ = network(n=400, p=0.05)
    ticks = []
    errors = []

    def other():
        while not done.is_set():
            ticks.append(1)
            try:
                sim.n_neurons
            except RuntimeError as e:
                errors.append(str(e))
            time.sleep(0.001)

    done = threading.Event()
    worker = threading.Thread(target=other)
    worker.start()
    sim.advance(1.0, 3000)
    done.set()
    worker.join()
    assert len(ticks) > 10 and errors and set(errors) == {"Already mutably borrowed"}
