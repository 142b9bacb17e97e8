#pragma once
// The memory layout of a vorn_py.Sim object, shared by the files that
// implement its methods.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <string>
#include <vector>

#include "core/engine/sim_engine.hpp"
#include "python/borrow.hpp"
#include "python/errors.hpp"

namespace vorn::py {

struct SimObject {
    PyObject ob_base;
    SimEngine engine;
    BorrowFlag borrow;
    // Id strs of spiking neurons by dense index, shared by every spike tuple.
    std::vector<PyObject*> id_strings;
};

inline SimObject* as_sim(PyObject* self) {
    return reinterpret_cast<SimObject*>(self);
}

// Reads of a neuron or synapse that another rank of a distributed run
// holds are refused: the text, else nullopt.
inline std::optional<std::string> held_elsewhere_node(const SimEngine& e, const Uuid& id) {
    auto index = e.node_index(id);
    if (!index || e.holds_node(*index))
        return std::nullopt;
    return "node " + id.to_string() + " is held by rank " + std::to_string(e.node_rank(*index)) +
           " (this is rank " + std::to_string(e.rank()) + ")";
}
inline std::optional<std::string> held_elsewhere_synapse(const SimEngine& e, const Uuid& id) {
    auto slot = e.synapse_slot(id);
    if (!slot || e.holds_synapse(*slot))
        return std::nullopt;
    return "synapse " + id.to_string() + " is held by another rank (this is rank " +
           std::to_string(e.rank()) + ")";
}

}  // namespace vorn::py
