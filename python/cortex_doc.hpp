#pragma once
// Docstrings of the Cortex class and of its methods that read the graph; a
// method docstring starts with the text signature the interpreter reads.
// Methods with arguments carry theirs in their MethodSpec. Internal
// linkage: only cortex.cpp includes this header.

namespace vorn::py {

constexpr const char kCortexDoc[] =
    "A handle on a network folder, mirroring `vorn::Cortex`. It opens or\n"
    "creates a `.cortex/` folder, lets Python add and remove neurons and\n"
    "synapses, and streams weights through the on-disk binary format.\n"
    "\n"
    "Example\n"
    "-------\n"
    ">>> import vorn_py\n"
    ">>> cx = vorn_py.Cortex.open(\"My.cortex\")\n"
    ">>> print(cx.cortex_type, cx.name, len(cx.node_ids()))\n"
    ">>> a = cx.add_neuron(label=\"input\")\n"
    ">>> b = cx.add_neuron(label=\"hidden\")\n"
    ">>> e = cx.add_synapse(a, b, init_weight=0.4)\n"
    ">>> cx.persist_weights([(e, 0.42)])\n";

constexpr const char kCortexNodesDoc[] =
    "nodes($self)\n--\n\n"
    "The nodes as `(node_id, label, kind)` tuples in topology order;\n"
    "`kind` is the node's own kind, or None when it follows the default.";

constexpr const char kCortexEdgesDoc[] =
    "edges($self)\n--\n\n"
    "The edges as `(edge_id, pre, post, init_weight, delay_ms, kind)`\n"
    "tuples in topology order; `kind` is the edge's own kind, or None\n"
    "when it follows the default.";

}  // namespace vorn::py
