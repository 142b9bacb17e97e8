#include "python/results.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <new>

#include "python/convert.hpp"

namespace vorn::py {

PyObject* ids_to_list(const std::vector<Uuid>& ids) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(ids.size()));
    if (list == nullptr)
        return nullptr;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        PyObject* id = id_to_py(ids[i]);
        if (id == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), id);
    }
    return list;
}

namespace {

// Pauses the cyclic garbage collector for its lifetime. Every tuple
// allocation counts towards the collection thresholds, even once untracked,
// and each young-generation pass walks the whole half-built list: for a run
// with a million spikes that made building the list quadratic in practice.
// No Python code runs while the list is built, so nothing else is affected.
class GcPause {
  public:
    GcPause() : was_enabled_(PyGC_Disable()) {}
    ~GcPause() {
        if (was_enabled_)
            PyGC_Enable();
    }
    GcPause(const GcPause&) = delete;
    GcPause& operator=(const GcPause&) = delete;

  private:
    int was_enabled_;
};

}  // namespace

void SpikeListBuilder::add(const std::vector<std::uint32_t>& spikes, double t_ms) {
    if (spikes.empty())
        return;
    // Geometric growth with room for a whole tick, so the cost of appending
    // stays linear over a run.
    if (neurons_.capacity() - neurons_.size() < spikes.size())
        neurons_.reserve(std::max(2 * neurons_.capacity(), neurons_.size() + spikes.size()));
    if (times_.size() == times_.capacity())
        times_.reserve(std::max<std::size_t>(64, 2 * times_.capacity()));
    neurons_.insert(neurons_.end(), spikes.begin(), spikes.end());
    if (times_.empty() ||
        std::bit_cast<std::uint64_t>(times_.back().t_ms) != std::bit_cast<std::uint64_t>(t_ms))
        times_.push_back({t_ms, 0});
    times_.back().end = neurons_.size();
}

PyObject* SpikeListBuilder::finish(const SimEngine& engine) {
    try {
        if (id_strings_.size() < engine.n_neurons())
            id_strings_.resize(engine.n_neurons(), nullptr);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return nullptr;
    }
    for (std::uint32_t n : neurons_) {
        PyObject*& cached = id_strings_[n];
        if (cached == nullptr && (cached = id_to_py(engine.node_id(n))) == nullptr)
            return nullptr;
    }
    GcPause pause;
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(neurons_.size()));
    if (list == nullptr)
        return nullptr;
    std::size_t i = 0;
    for (const TimeRun& run : times_) {
        // Spikes with the same time share one float object.
        PyObject* time = PyFloat_FromDouble(run.t_ms);
        if (time == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        for (; i < run.end; ++i) {
            PyObject* tuple = PyTuple_New(2);
            if (tuple == nullptr) {
                Py_DECREF(time);
                Py_DECREF(list);
                return nullptr;
            }
            PyTuple_SET_ITEM(tuple, 0, Py_NewRef(id_strings_[neurons_[i]]));
            PyTuple_SET_ITEM(tuple, 1, Py_NewRef(time));
            // A tuple of a str and a float can never be part of a cycle; left
            // tracked, a run's million spike tuples would make every garbage
            // collection pass walk them all.
            PyObject_GC_UnTrack(tuple);
            PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), tuple);
        }
        Py_DECREF(time);
    }
    return list;
}

// A new dict {id_str: params_dict} in the order given, or nullptr.
PyObject* params_to_dict(const std::vector<std::pair<Uuid, JsonValue>>& entries) {
    PyObject* dict = PyDict_New();
    if (dict == nullptr)
        return nullptr;
    for (const auto& [id, params] : entries) {
        PyObject* key = id_to_py(id);
        PyObject* value = key == nullptr ? nullptr : json_to_py(params);
        int rc = value == nullptr ? -1 : PyDict_SetItem(dict, key, value);
        Py_XDECREF(key);
        Py_XDECREF(value);
        if (rc < 0) {
            Py_DECREF(dict);
            return nullptr;
        }
    }
    return dict;
}

}  // namespace vorn::py
