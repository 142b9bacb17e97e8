// Between folders, files and simulations: Sim.from_cortex, checkpoints to a
// file (Sim.save_state, Sim.load_state) and into a folder
// (Cortex.save_state).
#include "python/sim_state.hpp"

#include <string>

#include "core/store/build_engine.hpp"
#include "python/arg_spec.hpp"
#include "python/args.hpp"
#include "python/cortex.hpp"
#include "python/cortex_object.hpp"
#include "python/errors.hpp"
#include "python/sim.hpp"
#include "python/sim_dist.hpp"
#include "python/sim_object.hpp"

namespace vorn::py {
namespace {

PyObject* raise_build_error(const BuildError& e) {
    if (const CortexError* store = e.store_error())
        return raise_error(*store);
    return raise_value_error(e.message());
}

// A path argument: str or os.PathLike, as the file system's bytes.
bool arg_path(PyObject* obj, const char* name, std::string& out) {
    PyObject* bytes = nullptr;
    if (!PyUnicode_FSConverter(obj, &bytes))
        return argument_error(name);
    out.assign(PyBytes_AS_STRING(bytes), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)));
    Py_DECREF(bytes);
    return true;
}

// A bool argument: True or False only.
bool arg_bool(PyObject* obj, const char* name, bool& out) {
    if (obj == nullptr)
        return true;
    if (!PyBool_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "expected bool, got %T", obj);
        return argument_error(name);
    }
    out = obj == Py_True;
    return true;
}

// Writes a checkpoint of engine to path; nullptr, or the exception raised.
// Collective in a distributed run: rank 0 gathers and writes, then tells
// every rank how it went, so that all raise the same error or none.
PyObject* write_state(SimEngine& engine, const std::string& path) {
    auto bytes = engine.save_state();
    // "" for success, else the class ('o' OSError, 'v' ValueError) and text.
    std::string outcome;
    if (!bytes) {
        outcome.push_back('v');
        outcome.append(CortexError(bytes.error()).message());
    } else if (engine.rank() == 0) {
        auto ok = write_state_file(path, *bytes);
        if (!ok) {
            outcome.push_back(ok.error().is_os_error() ? 'o' : 'v');
            outcome.append(ok.error().message());
        }
    }
    engine.broadcast(outcome);
    if (outcome.empty())
        return nullptr;
    return raise_core_error(outcome[0] == 'o' ? ErrorClass::Os : ErrorClass::Value,
                            std::string_view(outcome).substr(1));
}

constexpr MethodSpec kFromCortex{
    "from_cortex",
    {{"cortex"}, {"weights", "True", true}, {"state", "False", true}, {"comm", "None", true}},
    "A new Sim running the network of an open `cortex`. Nodes come in\n"
    "topology order with their kind (\"lif\"; \"izhikevich\" and \"adex\" with a\n"
    "complete config; \"hh\" with its config or the metadata's hh_config),\n"
    "then their init_state written key by key; edges in topology order with\n"
    "their kind (\"stdp\", \"plastic-synapse\", \"static\"), config, init_weight\n"
    "and delay_ms. With `weights`, the weights file replaces initial weights.\n"
    "With `state`, the folder's saved state (`Cortex.save_state`) is resumed\n"
    "instead. Anything the simulator cannot take raises ValueError naming the\n"
    "node or edge; no half-built Sim is returned. With an mpi4py `comm`, the\n"
    "Sim is one rank of a distributed run (see `Sim.distributed`).",
    MethodSpec::Binding::Class};

PyObject* sim_from_cortex(PyObject* type, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
    CallArgs<kFromCortex> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    if (!PyObject_TypeCheck(a[0], cortex_type())) {
        PyErr_Format(PyExc_TypeError, "expected Cortex, got %T", a[0]);
        argument_error("cortex");
        return nullptr;
    }
    BuildOptions options;
    if (!arg_bool(a[1], "weights", options.weights) || !arg_bool(a[2], "state", options.state))
        return nullptr;
    CortexObject* cortex = as_cortex(a[0]);
    auto guard = borrow_shared(cortex->borrow);
    if (!guard)
        return nullptr;
    std::shared_ptr<Exchange> exchange;
    if (a[3] != nullptr && a[3] != Py_None && !(exchange = exchange_from(a[3])))
        return nullptr;
    auto engine = build_engine(cortex->handle, options);
    if (!engine)
        return raise_build_error(engine.error());
    if (exchange)
        engine->set_exchange(std::move(exchange));
    return new_sim(reinterpret_cast<PyTypeObject*>(type), std::move(*engine));
}

constexpr MethodSpec kSaveState{
    "save_state",
    {{"path"}},
    "Write a checkpoint of the whole simulation (network, state, inputs,\n"
    "spikes in flight) to the file `path`, atomically. `Sim.load_state`\n"
    "rebuilds it; continuing gives the same results as never stopping.\n"
    "Monitors and the thread count are not saved."};

PyObject* sim_save_state(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    CallArgs<kSaveState> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    SimObject* sim = as_sim(self);
    auto guard = borrow_exclusive(sim->borrow);
    if (!guard)
        return nullptr;
    std::string path;
    if (!arg_path(a[0], "path", path))
        return nullptr;
    if (write_state(sim->engine, path) == nullptr && PyErr_Occurred())
        return nullptr;
    Py_RETURN_NONE;
}

constexpr MethodSpec kLoadState{
    "load_state",
    {{"path"}, {"comm", "None", true}},
    "A new Sim rebuilt whole from a checkpoint file written by `save_state`.\n"
    "A file of another format or a newer version, or broken content, raises\n"
    "ValueError. With an mpi4py `comm`, the Sim is one rank of a distributed\n"
    "run (every rank reads the file).",
    MethodSpec::Binding::Class};

PyObject* sim_load_state(PyObject* type, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    CallArgs<kLoadState> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    std::string path;
    if (!arg_path(a[0], "path", path))
        return nullptr;
    std::shared_ptr<Exchange> exchange;
    if (a[1] != nullptr && a[1] != Py_None && !(exchange = exchange_from(a[1])))
        return nullptr;
    auto bytes = read_state_file(path);
    if (!bytes)
        return raise_error(bytes.error());
    auto engine = SimEngine::load_state(*bytes);
    if (!engine)
        return raise_error(CortexError(engine.error()));
    if (exchange)
        engine->set_exchange(std::move(exchange));
    return new_sim(reinterpret_cast<PyTypeObject*>(type), std::move(*engine));
}

constexpr MethodSpec kCortexSaveState{
    "save_state",
    {{"sim"}},
    "Write a checkpoint of `sim` into the folder as state/latest.cstate,\n"
    "atomically. `Sim.from_cortex(cortex, state=True)` resumes from it. The\n"
    "Sim's neurons and synapses must be the folder's nodes and edges, in\n"
    "order, else ValueError."};

PyObject* cortex_save_state(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    CallArgs<kCortexSaveState> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    PyObject* sim_arg = a[0];
    if (!PyObject_TypeCheck(sim_arg, sim_type())) {
        PyErr_Format(PyExc_TypeError, "expected Sim, got %T", sim_arg);
        argument_error("sim");
        return nullptr;
    }
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_shared(cortex->borrow);
    if (!guard)
        return nullptr;
    SimObject* sim = as_sim(sim_arg);
    auto sim_guard = borrow_exclusive(sim->borrow);
    if (!sim_guard)
        return nullptr;
    if (auto match = check_state_matches(cortex->handle, sim->engine); !match)
        return raise_build_error(match.error());
    if (write_state(sim->engine, state_file_path(cortex->handle)) == nullptr && PyErr_Occurred())
        return nullptr;
    Py_RETURN_NONE;
}

}  // namespace

void add_state_methods(std::vector<PyMethodDef>& table) {
    table.push_back(method_def(kFromCortex, guarded<sim_from_cortex>));
    table.push_back(method_def(kSaveState, guarded<sim_save_state>));
    table.push_back(method_def(kLoadState, guarded<sim_load_state>));
}

void add_cortex_state_methods(std::vector<PyMethodDef>& table) {
    table.push_back(method_def(kCortexSaveState, guarded<cortex_save_state>));
}

}  // namespace vorn::py
