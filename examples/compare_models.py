"""Drive one neuron of each model with the same step current and compare
their spike times; plot the membrane potentials when matplotlib is installed.

Run with `python examples/compare_models.py` once vorn_py is installed.
"""

import vorn_py

DT_MS = 0.1
DURATION_MS = 200.0
STEP_ON_MS = 20.0
STEP_MS = 150.0
CURRENT = 25.0  # the same input for every model

MODELS = {
    "lif": None,
    "hh": {
        "c_m": 1.0, "g_na": 120.0, "g_k": 36.0, "g_l": 0.3, "e_na": 50.0,
        "e_k": -77.0, "e_l": -54.387, "v_rest": -65.0, "v_spike_thresh": 0.0,
        "refractory_ms": 2.0, "integrator": "rk4",
    },
    "izhikevich": {"a": 0.02, "b": 0.2, "c": -65.0, "d": 8.0, "v_peak": 30.0},
    "adex": {
        "c_m": 20.0, "g_l": 1.0, "e_l": -70.0, "v_t": -50.0, "delta_t": 2.0,
        "v_peak": 0.0, "v_reset": -58.0, "tau_w": 100.0, "a": 0.1, "b": 2.0,
    },
}


def simulate() -> tuple[dict[str, list[float]], list[float], dict[str, list[float]]]:
    sim = vorn_py.Sim()
    ids = {kind: sim.add_model_neuron(kind, config) for kind, config in MODELS.items()}
    kind_of = {node: kind for kind, node in ids.items()}
    spikes = {kind: [] for kind in MODELS}
    times, traces = [], {kind: [] for kind in MODELS}
    n_steps = round(DURATION_MS / DT_MS)
    step_on = round(STEP_ON_MS / DT_MS)
    for step in range(n_steps):
        if step == step_on:
            for node in ids.values():
                # A stimulation counts down before it applies, hence one
                # extra step so that it lasts STEP_MS.
                sim.stimulate(node, CURRENT, STEP_MS + DT_MS)
        for node, t_ms in sim.tick(DT_MS):
            spikes[kind_of[node]].append(t_ms)
        times.append(sim.t_ms)
        for kind, node in ids.items():
            traces[kind].append(sim.get_node_params(node)["v"])
    return spikes, times, traces


def plot(times: list[float], traces: dict[str, list[float]]) -> None:
    try:
        import matplotlib.pyplot as plt
    except ImportError:
        return
    fig, axes = plt.subplots(len(traces), 1, sharex=True, figsize=(8, 8))
    for ax, (kind, v) in zip(axes, traces.items()):
        ax.plot(times, v, linewidth=0.8)
        ax.set_ylabel(f"{kind}\nv (mV)")
    axes[-1].set_xlabel("t (ms)")
    fig.suptitle(f"Step current {CURRENT} from {STEP_ON_MS} to {STEP_ON_MS + STEP_MS} ms")
    fig.tight_layout()
    plt.show()


def main() -> None:
    spikes, times, traces = simulate()
    print(f"step current {CURRENT} from {STEP_ON_MS} ms for {STEP_MS} ms, dt {DT_MS} ms")
    for kind, ts in spikes.items():
        shown = ", ".join(f"{t:.1f}" for t in ts[:12]) + (" ..." if len(ts) > 12 else "")
        print(f"{kind:>10}: {len(ts):3d} spikes  [{shown}]")
    plot(times, traces)


if __name__ == "__main__":
    main()
