#pragma once
// Python objects for results handed back by the classes: ids, id lists,
// spike lists and parameter maps. Each returns a new reference, or nullptr
// with the exception set.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "core/engine/sim_engine.hpp"
#include "core/util/json_value.hpp"
#include "core/util/uuid.hpp"

namespace vorn::py {

// The canonical 36-character id, written straight into a new compact ASCII
// str: this runs once per spike.
inline PyObject* id_to_py(const Uuid& id) {
    PyObject* text = PyUnicode_New(36, 127);
    if (text == nullptr)
        return nullptr;
    id.write_to(reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(text)));
    return text;
}

// A list of id strings in the given order.
PyObject* ids_to_list(const std::vector<Uuid>& ids);

// Collects the spikes of one tick or of a whole run, tick by tick, and then
// builds their list of (id_str, t_ms) tuples in one pass. While the ticks run
// it keeps only a neuron index per spike and one time per tick with spikes,
// touches no Python object (so it may run without the interpreter lock) and
// leaves the engine's working set in cache. id_strings caches one str per
// neuron index (owned references, null until first needed): a neuron that
// spikes again reuses its id object.
class SpikeListBuilder {
  public:
    explicit SpikeListBuilder(std::vector<PyObject*>& id_strings) : id_strings_(id_strings) {}
    SpikeListBuilder(const SpikeListBuilder&) = delete;
    SpikeListBuilder& operator=(const SpikeListBuilder&) = delete;

    // Records one tick's spiking neurons (dense indices) at time t_ms.
    // Throws std::bad_alloc and then keeps what it had.
    void add(const std::vector<std::uint32_t>& spikes, double t_ms);
    // The list of everything added, or nullptr with the exception set.
    PyObject* finish(const SimEngine& engine);

  private:
    struct TimeRun {
        double t_ms;
        std::size_t end;  // one past the last spike with this time
    };

    std::vector<PyObject*>& id_strings_;
    std::vector<std::uint32_t> neurons_;
    std::vector<TimeRun> times_;
};

// A dict {id_str: params_dict} inserted in the given order; a repeated id
// keeps its first position and takes the later value.
PyObject* params_to_dict(const std::vector<std::pair<Uuid, JsonValue>>& entries);

}  // namespace vorn::py
