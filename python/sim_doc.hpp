#pragma once
// Docstrings of the Sim class and of its documented methods; each method
// docstring starts with the text signature the interpreter reads.

namespace vorn::py {

inline constexpr const char kSimDoc[] =
    "A spiking-neural-network simulator. Thin Python wrapper around the\n"
    "`vorn::SimEngine` state machine.\n"
    "\n"
    "Example\n"
    "-------\n"
    ">>> import vorn_py\n"
    ">>> sim = vorn_py.Sim()\n"
    ">>> a = sim.add_neuron()\n"
    ">>> b = sim.add_neuron()\n"
    ">>> sim.add_edge(a, b, weight=0.7)\n"
    ">>> sim.stimulate(a, current=40.0, duration_ms=20.0)\n"
    ">>> for _ in range(100):\n"
    "...     events = sim.tick(1.0)  # one ms\n"
    "...     if events:\n"
    "...         print(events)\n";

inline constexpr const char kAddNeuronDoc[] =
    "add_neuron($self, node_id=None)\n--\n\n"
    "Add a neuron. If `node_id` is None, a fresh UUIDv4 is minted and\n"
    "returned. If provided, it must be a valid UUID string; the id is\n"
    "returned unchanged. Idempotent \u2014 adding an id twice is a no-op.";

inline constexpr const char kAddEdgeDoc[] =
    "add_edge($self, pre, post, weight=0.5, edge_id=None)\n--\n\n"
    "Add an STDP synapse from `pre` to `post`. `edge_id` is optional;\n"
    "if omitted, a fresh UUIDv4 is minted and returned. Weight is\n"
    "clamped to [0, 1] by the substrate. Self-edges (pre == post)\n"
    "are silently dropped.";

inline constexpr const char kStimulateDoc[] =
    "stimulate($self, node_id, current, duration_ms)\n--\n\n"
    "Inject an external stimulation current into `node_id`, lasting\n"
    "`duration_ms`. Replaces any in-flight stimulation on the same\n"
    "node (last-write-wins, matching the substrate's behavior).";

inline constexpr const char kTickDoc[] =
    "tick($self, dt_ms)\n--\n\n"
    "Advance the simulator by `dt_ms` and return the list of spikes\n"
    "emitted on this tick as `(node_id_str, t_ms)` tuples. Empty\n"
    "list when nothing fires.";

inline constexpr const char kRunDoc[] =
    "run($self, dt_ms, n_steps)\n--\n\n"
    "Run `n_steps` ticks of `dt_ms` each. Returns every spike that\n"
    "fired during the run as `(node_id_str, t_ms)`.\n"
    "Cheaper than calling `tick` in a Python loop for long simulations:\n"
    "the whole run stays in native code.";

inline constexpr const char kWeightSnapshotDoc[] =
    "weight_snapshot($self)\n--\n\n"
    "Snapshot of every synapse's current weight, as\n"
    "`[(edge_id_str, weight), ...]`. The shape consumers serialize\n"
    "for persistence / replay.";

}  // namespace vorn::py
