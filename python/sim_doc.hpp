#pragma once
// Docstrings of the Sim class and of its documented methods that take no
// arguments; a method docstring starts with the text signature the
// interpreter reads. Methods with arguments carry theirs in their MethodSpec.

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

inline constexpr const char kWeightSnapshotDoc[] =
    "weight_snapshot($self)\n--\n\n"
    "Snapshot of every synapse's current weight, as\n"
    "`[(edge_id_str, weight), ...]`. The shape consumers serialize\n"
    "for persistence / replay.";

}  // namespace vorn::py
