// Distributed runs from Python: Sim.distributed binds a new Sim to an mpi4py
// communicator through the vorn_py_mpi module (loaded only then), and the
// collective reads that bring a rank's parts to rank 0.
#include "python/sim_dist.hpp"

#include <cstring>
#include <memory>
#include <string>

#include "python/arg_spec.hpp"
#include "python/arrays.hpp"
#include "python/errors.hpp"
#include "python/monitors.hpp"
#include "python/sim.hpp"
#include "python/sim_object.hpp"

namespace vorn::py {
namespace {

constexpr const char kMissingMpi[] =
    "distributed runs need vorn_py_mpi, which is built with vorn_py when Open MPI is "
    "present: install Open MPI (Debian: apt-get install openmpi-bin libopenmpi-dev) and "
    "mpi4py (pip install mpi4py), then reinstall vorn_py";

constexpr MethodSpec kDistributed{
    "distributed",
    {{"comm"}},
    "A new, empty Sim that is one rank of a distributed run over the mpi4py\n"
    "communicator `comm`. Every rank runs the same script and makes the same\n"
    "calls; each holds and steps a range of the neurons and the synapses onto\n"
    "them, and the ranks swap spikes once per tick. Results are the same bits\n"
    "as one process. Ids and the listing orders are global. Reads of a neuron\n"
    "or synapse another rank holds are refused, `weights()` gives NaN for\n"
    "them, state monitors record NaN for them, spike monitors record every\n"
    "spike; `gather_weights` and `gather` collect onto rank 0. Needs\n"
    "vorn_py_mpi (built when Open MPI is present) and mpi4py.",
    MethodSpec::Binding::Class};

}  // namespace

std::shared_ptr<Exchange> exchange_from(PyObject* comm) {
    PyObject* module = PyImport_ImportModule("vorn_py_mpi");
    if (module == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_ImportError)) {
            PyObject* cause = PyErr_GetRaisedException();
            PyErr_SetString(PyExc_ImportError, kMissingMpi);
            PyObject* exc = PyErr_GetRaisedException();
            PyException_SetCause(exc, cause);
            PyErr_SetRaisedException(exc);
        }
        return nullptr;
    }
    PyObject* capsule = PyObject_CallMethod(module, "exchange", "O", comm);
    Py_DECREF(module);
    if (capsule == nullptr)
        return nullptr;
    auto* held =
        static_cast<std::shared_ptr<Exchange>*>(PyCapsule_GetPointer(capsule, "vorn_py.exchange"));
    std::shared_ptr<Exchange> out = held == nullptr ? nullptr : *held;
    Py_DECREF(capsule);
    return out;
}

namespace {

PyObject* sim_distributed(PyObject* type, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
    CallArgs<kDistributed> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    std::shared_ptr<Exchange> exchange = exchange_from(a[0]);
    if (!exchange)
        return nullptr;
    SimEngine engine;
    engine.set_exchange(std::move(exchange));
    return new_sim(reinterpret_cast<PyTypeObject*>(type), std::move(engine));
}

constexpr MethodSpec kGatherWeights{
    "gather_weights",
    {},
    "Every synapse's weight (numpy float32, `list_synapses()` order) on rank\n"
    "0 of a distributed run, None on the other ranks; every rank must call\n"
    "it. Alone, the same as `weights()`."};

PyObject* sim_gather_weights(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    if (!bind_args(kGatherWeights, args, nargs, kwnames, nullptr))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::optional<std::vector<float>> all = sim->engine.gather_weights();
    if (!all)
        Py_RETURN_NONE;
    return new_array("float32", all->size(), 0, all->data(), sizeof(float));
}

constexpr MethodSpec kGather{
    "gather",
    {{"monitor"}},
    "A monitor's whole data on rank 0 of a distributed run, None on the\n"
    "other ranks; every rank must call it. For a SpikeMonitor the tuple\n"
    "(index, t_ms), for a StateMonitor the tuple (t_ms, values) with every\n"
    "rank's columns filled in. Alone, the monitor's own data."};

PyObject* sim_gather(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    CallArgs<kGather> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    SimEngine& engine = sim->engine;
    if (std::shared_ptr<SpikeRecord> spikes = spike_record_of(a[0])) {
        // Every rank records every spike: rank 0's copy is the whole.
        if (engine.rank() != 0)
            Py_RETURN_NONE;
        PyObject* index = PyObject_GetAttrString(a[0], "index");
        PyObject* t = index == nullptr ? nullptr : PyObject_GetAttrString(a[0], "t_ms");
        PyObject* out = t == nullptr ? nullptr : PyTuple_Pack(2, index, t);
        Py_XDECREF(index);
        Py_XDECREF(t);
        return out;
    }
    std::shared_ptr<StateRecord> state = state_record_of(a[0]);
    if (!state) {
        PyErr_Format(PyExc_TypeError, "expected a SpikeMonitor or StateMonitor, got %T", a[0]);
        return nullptr;
    }
    // Each rank sends the columns of the neurons it holds; rank 0 fills
    // them into its copy.
    std::vector<float> values;
    std::vector<double> t_ms;
    std::vector<std::uint32_t> neurons;
    {
        std::lock_guard<std::mutex> hold(state->lock);
        values = state->values;
        t_ms = state->t_ms;
        neurons = state->neurons;
    }
    const std::size_t cols = neurons.size();
    const std::size_t rows = t_ms.size();
    std::string mine;
    for (std::uint32_t c = 0; c < cols; ++c) {
        if (!engine.holds_node(neurons[c]))
            continue;
        mine.append(reinterpret_cast<const char*>(&c), sizeof c);
        for (std::size_t r = 0; r < rows; ++r)
            mine.append(reinterpret_cast<const char*>(&values[r * cols + c]), sizeof(float));
    }
    std::vector<std::string> parts = engine.gather(mine);
    if (engine.rank() != 0)
        Py_RETURN_NONE;
    const std::size_t column_bytes = sizeof(std::uint32_t) + rows * sizeof(float);
    for (const std::string& part : parts) {
        for (std::size_t at = 0; at + column_bytes <= part.size(); at += column_bytes) {
            std::uint32_t c;
            std::memcpy(&c, part.data() + at, sizeof c);
            for (std::size_t r = 0; r < rows; ++r)
                std::memcpy(&values[r * cols + c], part.data() + at + 4 + r * 4, 4);
        }
    }
    PyObject* t = new_array("float64", rows, 0, t_ms.data(), sizeof(double));
    PyObject* v = t == nullptr ? nullptr : new_array("float32", rows, cols, values.data(), 4);
    PyObject* out = v == nullptr ? nullptr : PyTuple_Pack(2, t, v);
    Py_XDECREF(t);
    Py_XDECREF(v);
    return out;
}

}  // namespace

void add_dist_methods(std::vector<PyMethodDef>& table) {
    table.push_back(method_def(kDistributed, guarded<sim_distributed>));
    table.push_back(method_def(kGatherWeights, guarded<sim_gather_weights>));
    table.push_back(method_def(kGather, guarded<sim_gather>));
}

PyObject* sim_get_rank(PyObject* self, void*) {
    return PyLong_FromLong(as_sim(self)->engine.rank());
}

PyObject* sim_get_ranks(PyObject* self, void*) {
    return PyLong_FromLong(as_sim(self)->engine.ranks());
}

}  // namespace vorn::py
