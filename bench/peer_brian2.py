"""Times the reference network in Brian2 and in vorn_py on the same machine.

The network (bench/peer_network.py): 10,000 current-based leaky
integrate-and-fire neurons, about 1,000,000 STDP synapses with g_syn = 1, every
neuron driven by its own constant current. Each Brian2 run is a child
process: the cpp_standalone device without OpenMP (one thread) and with
openmp_threads = 2, and the Cython runtime; vorn_py runs in this process, once
with sim.threads = 1 and once, on a freshly built network, with
sim.threads = 2 (set explicitly both times: a new Sim starts with every
available core). Every simulator gets 100 warm-up steps of 1 ms, then timed
runs of 1,000 steps: the fastest of three for Brian2's C++ programs (rerun
from the start) and for vorn (continuing the simulation), one for the Cython
runtime, which is shortened if it would take too long. Printed figures are
nanoseconds per synapse per step.

One thread: the process CPU time of the timed run divided by steps and
synapses, which on a shared machine varies far less than wall time;
speedup_vs_brian2_cpp = brian2 cpp ns / vorn ns, both on one thread.

Two threads: CPU time adds up the time of both threads, so it would charge
for the parallelism rather than credit it; brian2_cpp_2threads_synapse_step_ns
and vorn_2threads_synapse_tick_ns are the wall-clock time of the timed run
(again the fastest of three), and speedup_vs_brian2_cpp_2threads is their
ratio. Brian2 measures its wall time inside the generated program around the
run loop; vorn's covers sim.run() including the spike list it returns. On a
machine whose cores are busy with other work these figures suffer first:
a thread that is descheduled holds up the others at each step's barrier.
Brian2's OpenMP threads are also slowed there by libgomp's default of
spinning at barriers before sleeping, so its two-thread programs are run
three times under the OMP_WAIT_POLICY of the environment (normally unset)
and three times with OMP_WAIT_POLICY=PASSIVE, and the fastest run counts; a
comment line gives both.

Brian2 also runs with the STDP traces declared event-driven, which many
models use: each synapse's traces are decayed from its last update when one
of its pathways fires rather than on every step. It is printed as a comment
line only (one thread by CPU time, two by wall time).

Lines starting with '#' are comments: settings, Brian2's two-thread time
under each wait policy, the event-driven runs, the one-thread figures by
wall-clock time, how much two threads gain over one, the two-thread runs'
CPU time, spike counts (every run counts the warm-up and its first timed
run; vorn's two runs agree exactly, Brian2's may differ from vorn's by the
rounding drift described below), shortened runs.

How each vorn step maps onto Brian2's schedule (one step = one tick):
- Input: vorn forms J = (stimulus + synaptic input) + epsc, integrates v with
  J and stores epsc = J * exp(-dt/tau_syn), so a tick's input joins the
  current trace before it decays. Brian2 does the same in a run_regularly
  operation at the start of each step, writing J and epsc and clearing the
  synaptic accumulator I_syn.
- Membrane: dv/dt = (J + (v_rest - v)) / tau_m with forward Euler, which is
  exactly vorn's v += dt * ((J + (v_rest - v)) / tau_m).
- Refractoriness: vorn clamps v to v_reset on the 2 ticks after a spike and
  integrates again on the third. Brian2 counts its refractory period from the
  spike step and integrates once timestep(t - lastspike) reaches it, so the
  same two clamped steps need refractory = 2 ms + dt here. The reset already
  puts v at v_reset, and Brian2 holds it there.
- Delivery: a spike on step k adds w * g_syn to the target's input on step
  k+1. Brian2 delivers with zero synaptic delay into I_syn during step k's
  synapse slot, after the threshold; the input takes effect in the next
  step's update, which is the same one-step conduction. The delivering
  pathway is ordered after both plasticity pathways, so it sends the weight
  after step k's STDP, as vorn's tick k+1 does.
- STDP: both pre and post traces are clock-driven and decay on every step for
  every synapse (exact exponential, as vorn's trace *= exp(-dt/tau)); a pre
  spike adds 1 to the pre trace and depresses w by a_minus * post_trace, then
  a post spike adds 1 to the post trace and potentiates w by
  a_plus * pre_trace; w is clipped to [0, 1] after each change. Brian2 runs
  the pre pathway before the post pathway, matching vorn's order on ticks
  where both neurons spike.

Remaining differences:
- Brian2 runs in single precision here (core.default_float_dtype = float32)
  like vorn, but its code generator rearranges expressions and hoists
  constants, its C++ is compiled with -ffast-math, and it sums synaptic input
  per target in spike order rather than vorn's creation order; results agree
  to rounding, so spike trains can drift apart after many steps.
- With OpenMP, Brian2 splits its synapses between the threads by index range
  for the per-synapse work (trace decay, plasticity), but runs the delivering
  pathway, which adds into a per-target variable, on one thread over the
  spiking synapses in the same order as without OpenMP; so its two-thread
  run sums input in the same order as its one-thread run.
- Event-driven traces are decayed by exp(-(t - lastupdate) / tau) in one
  step rather than by a product of per-step factors, which rounds
  differently again.
- vorn reads every neuron's stimulus from a table of stimulations that counts
  down; here the drive is a constant per-neuron current (durations of 1e9 ms
  never expire in either simulator).
- vorn's run() returns each spike as a Python tuple; Brian2 counts spikes in
  a SpikeMonitor without recording them.
- Work per step differs by design: Brian2 decays both traces of every
  synapse on every step, while vorn's engine keeps one trace per neuron for
  all synapses whose trace parameters and values coincide (all of them here),
  so its per-step cost scales with neurons plus the synapses of the neurons
  that spiked. The figures compare the two programs as written.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import warnings

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peer_network  # noqa: E402

# Brian2 range-checks single-precision state against 1e50 after each run and
# writing; the cast of that bound overflows harmlessly.
warnings.filterwarnings("ignore", "overflow encountered in cast", RuntimeWarning)

DT_MS = 1.0
V_REST = -65.0
V_THRESH = -50.0
V_RESET = -70.0
TAU_M_MS = 20.0
TAU_SYN_MS = 5.0
REFRACTORY_MS = 2.0
A_PLUS = 0.01
A_MINUS = 0.012
TAU_PLUS_MS = 20.0
TAU_MINUS_MS = 20.0
W_MIN = 0.0
W_MAX = 1.0
G_SYN = 1.0

# The Cython runtime is timed over fewer steps when 1,000 would take longer.
CYTHON_BUDGET_S = 90.0

NEURON_MODEL = """
dv/dt = (J + (v_rest - v)) / tau_m : 1 (unless refractory)
J : 1
epsc : 1
I_syn : 1
I_stim : 1 (constant)
"""
CURRENT_UPDATE = """
J = I_stim + I_syn + epsc
epsc = J * exp(-dt / tau_syn)
I_syn = 0
"""
SYNAPSE_MODEL = """
w : 1
g_syn : 1 (constant)
dpre_trace/dt = -pre_trace / tau_plus : 1 ({traces})
dpost_trace/dt = -post_trace / tau_minus : 1 ({traces})
"""
ON_PRE = """
pre_trace += 1
w = clip(w - a_minus * post_trace, w_min, w_max)
"""
ON_POST = """
post_trace += 1
w = clip(w + a_plus * pre_trace, w_min, w_max)
"""
DELIVER = "I_syn_post += w * g_syn"


def brian2_model(net, record_spikes=False, event_driven=False):
    """Builds the network as Brian2 objects on the current device.

    The STDP traces are clock-driven, or event-driven when event_driven is
    set. Returns (network, neurons, synapses, spike_monitor). Units:
    potentials and currents are plain numbers (mV and vorn's current unit),
    times in ms.
    """
    import brian2 as b2

    ms = b2.ms
    ns = {
        "v_rest": V_REST,
        "v_thresh": V_THRESH,
        "v_reset": V_RESET,
        "tau_m": TAU_M_MS * ms,
        "tau_syn": TAU_SYN_MS * ms,
        "a_plus": A_PLUS,
        "a_minus": A_MINUS,
        "tau_plus": TAU_PLUS_MS * ms,
        "tau_minus": TAU_MINUS_MS * ms,
        "w_min": W_MIN,
        "w_max": W_MAX,
    }
    b2.defaultclock.dt = DT_MS * ms
    neurons = b2.NeuronGroup(
        net.n,
        NEURON_MODEL,
        threshold="v >= v_thresh",
        reset="v = v_reset",
        refractory=(REFRACTORY_MS + DT_MS) * ms,
        method="euler",
        namespace=ns,
        name="neurons",
    )
    neurons.run_regularly(CURRENT_UPDATE, when="start", name="neurons_current")
    neurons.v = V_REST
    neurons.I_stim = net.stim
    synapses = b2.Synapses(
        neurons,
        neurons,
        SYNAPSE_MODEL.format(traces="event-driven" if event_driven else "clock-driven"),
        on_pre={"pre": ON_PRE, "deliver": DELIVER},
        on_post={"post": ON_POST},
        method="exact",
        namespace=ns,
        name="synapses",
    )
    synapses.connect(i=net.pre, j=net.post)
    synapses.w = net.weight
    synapses.g_syn = G_SYN
    synapses.deliver.order = 2  # after the pre (-1) and post (1) plasticity pathways
    monitor = b2.SpikeMonitor(neurons, record=record_spikes, name="spikes")
    network = b2.Network(neurons, synapses, monitor)
    return network, neurons, synapses, monitor


CPU_SECONDS_FILE = "peer_cpu_seconds.txt"


def _time_cpp(net, steps, warmup, repeat, build_dir, threads, event_driven):
    """Times the C++ program; threads = 0 builds it without OpenMP."""
    import brian2 as b2

    b2.set_device("cpp_standalone", directory=build_dir, build_on_run=False)
    b2.prefs.devices.cpp_standalone.openmp_threads = threads
    network, _, _, monitor = brian2_model(net, event_driven=event_driven)
    network.run(warmup * DT_MS * b2.ms)
    # Process CPU time of the timed run (all threads), written by the
    # generated program.
    b2.device.insert_code("main", "std::clock_t peer_cpu_start = std::clock();")
    network.run(steps * DT_MS * b2.ms)
    b2.device.insert_code(
        "main",
        f'std::ofstream(brian::results_dir + "{CPU_SECONDS_FILE}") << std::scientific '
        "<< double(std::clock() - peer_cpu_start) / CLOCKS_PER_SEC;",
    )
    b2.device.build(directory=build_dir, compile=True, run=False)
    # With OpenMP the program runs under the wait policy this process was
    # given and then under the passive one: libgomp's idle threads spin for a
    # while at every barrier, which is quickest on idle cores but very slow
    # when other work shares them.
    policies = [os.environ.get("OMP_WAIT_POLICY", "unset")] + (["PASSIVE"] if threads else [])
    cpu, wall = [], {}
    for p, policy in enumerate(policies):
        if p:
            env = dict(b2.prefs.devices.cpp_standalone.run_environment_variables)
            env["OMP_WAIT_POLICY"] = policy
            b2.prefs.devices.cpp_standalone.run_environment_variables = env
        for _ in range(repeat):  # the same program each time, from the same initial state
            b2.device.run(directory=build_dir, with_output=False)
            wall.setdefault(policy, []).append(b2.device._last_run_time)
            with open(os.path.join(b2.device.results_dir, CPU_SECONDS_FILE)) as f:
                cpu.append(float(f.read()))
    wall = {policy: min(times) for policy, times in wall.items()}
    return {"cpu": min(cpu), "wall": min(wall.values()), "wall_by_policy": wall,
            "steps": steps, "spikes": int(monitor.num_spikes)}


def _time_cython(net, steps, warmup):
    import brian2 as b2

    b2.prefs.codegen.target = "cython"
    network, _, _, monitor = brian2_model(net)
    network.run(warmup * DT_MS * b2.ms)  # compiles, then runs the warm-up
    per_step = b2.device._last_run_time / warmup
    timed = steps
    if per_step * steps > CYTHON_BUDGET_S:
        timed = max(100, int(CYTHON_BUDGET_S / per_step))
    # Process CPU time at the start of every step; the run's code generation
    # before its first step is left out, as for the wall time.
    marks = []
    network.add(b2.NetworkOperation(lambda: marks.append(time.process_time()), when="start"))
    network.run(timed * DT_MS * b2.ms)
    wall = b2.device._last_run_time
    cpu = (marks[-1] - marks[0]) * timed / (timed - 1)
    return {"cpu": cpu, "wall": wall, "steps": timed, "spikes": int(monitor.num_spikes)}


def _child_main(args):
    import brian2 as b2

    b2.prefs.core.default_float_dtype = np.float32
    net = peer_network.load_network(args.network)
    if args.child == "cpp":
        result = _time_cpp(net, args.steps, args.warmup, args.repeat, args.build_dir,
                           args.threads, args.event_driven)
    else:
        result = _time_cython(net, args.steps, args.warmup)
    result["synapses"] = net.n_edges
    print(json.dumps(result))


def _run_child(device, net_path, args, build_dir, threads=0, event_driven=False):
    cmd = [sys.executable, os.path.abspath(__file__), "--child", device, "--network", net_path,
           "--steps", str(args.steps), "--warmup", str(args.warmup), "--repeat", str(args.repeat),
           "--build-dir", build_dir, "--threads", str(threads)]
    if event_driven:
        cmd.append("--event-driven")
    done = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, text=True)
    return json.loads(done.stdout.strip().splitlines()[-1])


def build_vorn(net, vorn_py):
    """Builds the network through vorn_py.Sim in node and edge order."""
    sim = vorn_py.Sim()
    for i in range(net.n):
        sim.add_neuron(peer_network.node_id_text(i))
    edge_ids = [peer_network.edge_id_text(int(lo)) for lo in net.edge_lo()]
    pre = net.pre.tolist()
    post = net.post.tolist()
    weight = net.weight.tolist()
    node = peer_network.node_id_text
    for e, i, j, w in zip(edge_ids, pre, post, weight):
        sim.add_edge(node(i), node(j), w, e)
    for e in edge_ids:
        sim.set_synapse_param(e, "g_syn", G_SYN)
    for i, current in enumerate(net.stim.tolist()):
        sim.stimulate(node(i), current, peer_network.STIM_DURATION_MS)
    return sim


def time_vorn(net, steps, warmup, repeat, threads):
    """Builds the network, sets the tick's thread count, then runs the warm-up
    and `repeat` timed runs of `steps` ticks each continuing the same
    simulation; spikes counts the warm-up and the first timed run."""
    import vorn_py

    start = time.perf_counter()
    sim = build_vorn(net, vorn_py)
    built = time.perf_counter() - start
    sim.threads = threads  # the default is every available core
    spikes = len(sim.run(DT_MS, warmup))
    cpu, wall = [], []
    for r in range(repeat):
        wall_start, cpu_start = time.perf_counter(), time.process_time()
        fired = sim.run(DT_MS, steps)
        cpu.append(time.process_time() - cpu_start)
        wall.append(time.perf_counter() - wall_start)
        if r == 0:
            spikes += len(fired)
    return {"cpu": min(cpu), "wall": min(wall), "steps": steps, "spikes": spikes,
            "synapses": sim.n_synapses, "build_seconds": built}


def _ns_per_synapse_step(result, clock="cpu"):
    return result[clock] * 1e9 / (result["steps"] * result["synapses"])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--steps", type=int, default=1000)
    parser.add_argument("--warmup", type=int, default=100)
    parser.add_argument("--repeat", type=int, default=3,
                        help="timed runs of brian2 cpp and vorn; the fastest counts")
    parser.add_argument("--n", type=int, default=peer_network.DEFAULT_N)
    parser.add_argument("--skip-vorn", action="store_true", help="time Brian2 only")
    parser.add_argument("--skip-event-driven", action="store_true",
                        help="leave out Brian2 with event-driven STDP traces")
    parser.add_argument("--child", choices=["cpp", "cython"], help=argparse.SUPPRESS)
    parser.add_argument("--network", help=argparse.SUPPRESS)
    parser.add_argument("--build-dir", help=argparse.SUPPRESS)
    parser.add_argument("--threads", type=int, default=0, help=argparse.SUPPRESS)
    parser.add_argument("--event-driven", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        _child_main(args)
        return

    work = tempfile.mkdtemp(prefix="peer_brian2_")
    try:
        net = peer_network.build_network(args.n)
        net_path = os.path.join(work, "network.npz")
        peer_network.save_network(net, net_path)
        print(f"# network: {net.n} neurons, {net.n_edges} synapses, dt {DT_MS} ms, "
              f"{args.warmup} warm-up steps, {args.steps} timed steps, fastest of "
              f"{args.repeat} timed runs for brian2 cpp and vorn, one for brian2 cython; "
              f"1-thread figures by process CPU time, 2-thread figures by wall-clock time")
        cpp = _run_child("cpp", net_path, args, os.path.join(work, "cpp"))
        cpp2 = _run_child("cpp", net_path, args, os.path.join(work, "cpp2"), threads=2)
        cython = _run_child("cython", net_path, args, work)
        event = None
        if not args.skip_event_driven:
            event = (_run_child("cpp", net_path, args, os.path.join(work, "cpp_event"),
                                event_driven=True),
                     _run_child("cpp", net_path, args, os.path.join(work, "cpp2_event"),
                                threads=2, event_driven=True))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    ns = _ns_per_synapse_step
    cpp_ns = ns(cpp)
    cpp2_ns = ns(cpp2, "wall")
    print(f"brian2_cpp_synapse_step_ns={cpp_ns:.4f}")
    print(f"brian2_cpp_2threads_synapse_step_ns={cpp2_ns:.4f}")
    by_policy = ", ".join(f"{policy} {wall * 1e9 / (cpp2['steps'] * cpp2['synapses']):.4f}"
                          for policy, wall in cpp2["wall_by_policy"].items())
    print(f"# brian2 cpp 2 threads, wall-clock ns per synapse-step by OMP_WAIT_POLICY: "
          f"{by_policy}; the faster counts")
    if cython["steps"] != args.steps:
        print(f"# brian2 cython runtime timed over {cython['steps']} steps instead of "
              f"{args.steps} to keep the run short")
    print(f"brian2_cython_synapse_step_ns={ns(cython):.4f}")
    if event:
        print(f"# brian2 cpp with event-driven STDP traces, ns per synapse-step: 1 thread "
              f"{ns(event[0]):.4f} (cpu), 2 threads {ns(event[1], 'wall'):.4f} (wall, faster "
              f"wait policy); "
              f"spikes {event[0]['spikes']}, {event[1]['spikes']}")
    wall = (f"# wall-clock ns per synapse-step: brian2 cpp {ns(cpp, 'wall'):.4f}"
            f", brian2 cython {ns(cython, 'wall'):.4f}")
    cpu2 = f"# process CPU ns per synapse-step on 2 threads: brian2 cpp {ns(cpp2):.4f}"
    spikes = f"# spikes over all steps: brian2 cpp {cpp['spikes']}, brian2 cpp 2 threads " \
             f"{cpp2['spikes']}"
    if args.skip_vorn:
        print(wall)
        print(cpu2)
        print(spikes)
        return
    vorn = time_vorn(net, args.steps, args.warmup, args.repeat, threads=1)
    vorn_ns = ns(vorn)
    print(f"vorn_synapse_tick_ns={vorn_ns:.4f}")
    print(f"speedup_vs_brian2_cpp={cpp_ns / vorn_ns:.3f}")
    vorn2 = time_vorn(net, args.steps, args.warmup, args.repeat, threads=2)
    vorn2_ns = ns(vorn2, "wall")
    print(f"vorn_2threads_synapse_tick_ns={vorn2_ns:.4f}")
    print(f"speedup_vs_brian2_cpp_2threads={cpp2_ns / vorn2_ns:.3f}")
    vorn_wall = ns(vorn, "wall")
    print(f"{wall}, vorn {vorn_wall:.4f} (speedup {ns(cpp, 'wall') / vorn_wall:.3f})")
    print(f"# vorn wall-clock 2 threads against 1: {vorn_wall / vorn2_ns:.3f}x, "
          f"brian2 cpp: {ns(cpp, 'wall') / cpp2_ns:.3f}x")
    print(f"{cpu2}, vorn {ns(vorn2):.4f}")
    print(f"{spikes}, vorn {vorn['spikes']}, vorn 2 threads {vorn2['spikes']}; vorn network "
          f"built in {vorn['build_seconds']:.1f} s")


if __name__ == "__main__":
    main()
