"""The module's surface: registration, classes and properties, text
signatures and docstrings of every method, and the installed type stub."""

import ast
import importlib
import inspect
import os
import subprocess
import sys
import textwrap

import pytest

import vorn_py
from vorn_py import Cortex, Sim, seeds
from conftest import new_cortex, raises_text

ALL = ["Sim", "Cortex", "seeds", "__version__"]
SEED_FUNCTIONS = ["random_seed", "ring_seed", "small_world_seed", "layered_seed"]
SEED_ALIASES = ["random", "ring", "small_world", "layered"]


def test_module_and_submodule_registration():
    assert vorn_py.__version__ == "0.1.0"
    assert vorn_py.__all__ == ALL
    assert [n for n in vars(vorn_py) if n in ALL] == ALL  # added in this order
    # The monitor classes are attributes, but not part of __all__.
    assert {n for n in dir(vorn_py) if not n.startswith("_")} == {
        "Sim", "Cortex", "seeds", "SpikeMonitor", "StateMonitor"}
    doc = vorn_py.__doc__
    assert "`Sim`" in doc and "__version__" in doc
    assert (Sim.__module__, Sim.__qualname__, repr(Sim)) == ("vorn_py", "Sim",
                                                            "<class 'vorn_py.Sim'>")
    assert seeds.__name__ == "seeds" and seeds.Seed.__module__ == "seeds"
    assert seeds.__all__ == ["Seed", *SEED_FUNCTIONS, *SEED_ALIASES]
    assert [n for n in vars(seeds) if n in seeds.__all__] == seeds.__all__
    for long, short in zip(SEED_FUNCTIONS, SEED_ALIASES):
        assert getattr(seeds, short) is getattr(seeds, long)
        assert getattr(seeds, short).__name__ == long


def test_second_init_returns_same_module_and_keeps_all():
    first = sys.modules["vorn_py"]
    del sys.modules["vorn_py"]
    try:
        again = importlib.import_module("vorn_py")
    finally:
        sys.modules["vorn_py"] = first
    assert again is first and again.__all__ == ALL


@pytest.mark.parametrize(
    "code, out, err",
    [
        # The submodule is an attribute only: no dotted import.
        ("""
         import vorn_py, sys
         try:
             import vorn_py.seeds
         except ImportError:
             print("ImportError")
         from vorn_py import seeds
         print(seeds.__name__, "vorn_py.seeds" in sys.modules)
         """, "ImportError\nseeds False", ""),
        ("""
         import _testcapi, vorn_py
         print(_testcapi.run_in_subinterp("import vorn_py"))
         """, "-1", "ImportError: vorn_py does not support loading in sub-interpreters"),
        ("""
         import _interpreters
         err = _interpreters.exec(_interpreters.create(), "import vorn_py")
         print(err.type.__name__ if err else "imported")
         """, "ImportError", ""),
    ],
    ids=["dotted-submodule", "legacy-subinterpreter", "isolated-subinterpreter"],
)
def test_import_in_a_fresh_process(code, out, err):
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, timeout=60)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == out and err in proc.stderr


def test_distributed_runs_without_the_mpi_module(monkeypatch, tmp_path):
    # As where vorn_py was built without MPI: each way into a distributed run
    # says what to install, with the failed import as the cause; plain runs
    # are unaffected.
    monkeypatch.setitem(sys.modules, "vorn_py_mpi", None)
    cortex = new_cortex(tmp_path / "x")
    Sim().save_state(tmp_path / "s.cstate")
    calls = {
        "distributed": lambda: Sim.distributed(object()),
        "from_cortex": lambda: Sim.from_cortex(cortex, comm=object()),
        "load_state": lambda: Sim.load_state(tmp_path / "s.cstate", comm=object()),
    }
    for name, call in calls.items():
        with pytest.raises(ImportError) as info:
            call()
        text = str(info.value)
        for part in ("vorn_py_mpi", "Open MPI", "pip install mpi4py", "reinstall vorn_py"):
            assert part in text, (name, text)
        assert isinstance(info.value.__cause__, ImportError), name
    assert Sim.from_cortex(cortex, comm=None).ranks == 1
    assert Sim.load_state(tmp_path / "s.cstate").rank == 0


def test_constructors_and_read_only_properties(tmp_path):
    for cls in (Cortex, seeds.Seed):
        assert raises_text(TypeError, cls) == f"No constructor defined for {cls.__name__}"
    instances = {
        Sim(): ("t_ms", "n_neurons", "n_synapses"),
        new_cortex(tmp_path / "x"): ("root", "cortex_type", "name", "id", "created_at",
                                     "updated_at"),
        seeds.ring(3, 1): ("n_nodes", "n_edges"),
    }
    for obj, props in instances.items():
        for prop in props:
            with pytest.raises(AttributeError):
                setattr(obj, prop, 1)
    assert isinstance(vars(Cortex)["open"], staticmethod)
    assert isinstance(vars(Cortex)["create"], staticmethod)
    assert Sim.t_ms.__doc__ == "Current simulated time, in ms."
    assert Sim.n_neurons.__doc__ is None and Sim.n_synapses.__doc__ is None


def test_class_docstrings():
    assert Sim.__doc__.startswith(
        "A spiking-neural-network simulator. Thin Python wrapper around the\n"
        "`vorn::SimEngine` state machine.\n\nExample\n-------\n"
    )
    assert Cortex.__doc__.startswith("A handle on a network folder, mirroring `vorn::Cortex`.")
    assert "Cortex.apply_seed" in seeds.Seed.__doc__ and "ValueError" in seeds.Seed.__doc__


# name -> (text signature, start of the docstring; None: no docstring text)
SIGNATURES = {
    "Sim.add_neuron": ("($self, node_id=None)", "Add a neuron. If `node_id` is None, a fresh"),
    "Sim.add_edge": ("($self, pre, post, weight=0.5, edge_id=None)", "Add an STDP synapse from"),
    "Sim.stimulate": ("($self, node_id, current, duration_ms)", "Inject an external stimulation"),
    "Sim.tick": ("($self, dt_ms)", "Advance the simulator by `dt_ms` and return the list of"),
    "Sim.run": ("($self, dt_ms, n_steps)", "Run `n_steps` ticks of `dt_ms` each. Returns every"),
    "Sim.weight_snapshot": ("($self)", "Snapshot of every synapse's current weight, as"),
    "Sim.list_nodes": ("($self)", None),
    "Sim.list_synapses": ("($self)", None),
    "Sim.get_node_params": ("($self, node_id)", None),
    "Sim.get_synapse_params": ("($self, edge_id)", None),
    "Sim.all_node_params": ("($self)", None),
    "Sim.all_synapse_params": ("($self)", None),
    "Sim.set_node_param": ("($self, node_id, key, value)", None),
    "Sim.set_synapse_param": ("($self, edge_id, key, value)", None),
    "Sim.add_model_neuron": ("($self, kind, config=None, node_id=None)", "Add a neuron of model"),
    "Sim.add_plastic_edge": ("($self, pre, post, config, weight=0.5, edge_id=None, *, "
                             "delay_ms=1.0)",
                             "Add a dopamine-modulated plastic synapse from `pre` to `post`"),
    "Sim.add_neurons": ('($self, count, kind="lif", config=None)', "Add `count` neurons of model"),
    "Sim.add_edges": ('($self, pre, post, weight=0.5, *, kind="stdp", config=None, delay_ms=1.0)',
                      "Add one synapse per position of the equal-length integer arrays"),
    "Sim.add_static_edge": ("($self, pre, post, weight, edge_id=None, *, delay_ms=1.0)",
                            "Add a static synapse from `pre` to `post`"),
    "Sim.add_poisson_input": ("($self, nodes, rate_hz, weight, seed=0)",
                              "Add Poisson background noise to `nodes`"),
    "Sim.weights": ("($self)", "Every synapse's weight as a numpy float32 array"),
    "Sim.set_weights": ("($self, weights)", "Set every synapse's weight from an array"),
    "Sim.delays": ("($self)", "Every synapse's delay in ms as a numpy float32 array"),
    "Sim.set_delays": ("($self, delays)", "Set every synapse's delay in ms from an array"),
    "Sim.spike_monitor": ("($self)", "A SpikeMonitor recording every spike from now on"),
    "Sim.state_monitor": ("($self, nodes, key, every=1)",
                          "A StateMonitor sampling the numeric parameter `key`"),
    "Sim.advance": ("($self, dt_ms, n_steps, *, progress=False)",
                    "Run `n_steps` ticks of `dt_ms` like `run`"),
    "Sim.from_cortex": ("($type, cortex, *, weights=True, state=False, comm=None)",
                        "A new Sim running the network of an open `cortex`."),
    "Sim.save_state": ("($self, path)", "Write a checkpoint of the whole simulation"),
    "Sim.load_state": ("($type, path, *, comm=None)",
                       "A new Sim rebuilt whole from a checkpoint file"),
    "Sim.distributed": ("($type, comm)", "A new, empty Sim that is one rank of a distributed"),
    "Sim.gather_weights": ("($self)", "Every synapse's weight (numpy float32"),
    "Sim.gather": ("($self, monitor)", "A monitor's whole data on rank 0"),
    "Cortex.save_state": ("($self, sim)", "Write a checkpoint of `sim` into the folder"),
    "Sim.set_modulator_base": ("($self, channel, level)", "Set the base level of modulator"),
    "Sim.add_modulator_pulse": ("($self, channel, amount, tau_ms)", "Add a pulse of `amount`"),
    "Sim.modulator_levels": ("($self)", "The four channel levels used by the most recent tick"),
    "Cortex.open": ("(root)", "Open an existing folder. Raises `OSError` if the folder or"),
    "Cortex.create": ("(root, name, cortex_type, now_rfc3339, defaults_neuron_kind=None, "
                      "defaults_synapse_kind=None, source_root=None, hh_config=None)",
                      "Create a brand-new folder."),
    "Cortex.node_ids": ("($self)", None),
    "Cortex.list_nodes": ("($self)", None),
    "Cortex.edge_ids": ("($self)", None),
    "Cortex.list_synapses": ("($self)", None),
    "Cortex.n_nodes": ("($self)", None),
    "Cortex.n_edges": ("($self)", None),
    "Cortex.nodes": ("($self)", "The nodes as `(node_id, label, kind)` tuples"),
    "Cortex.edges": ("($self)", "The edges as `(edge_id, pre, post, init_weight, delay_ms, kind)`"),
    "Cortex.add_neuron": ('($self, label="", kind=None, node_id=None)', "Add a neuron. When"),
    "Cortex.add_synapse": ("($self, pre, post, init_weight=0.5, delay_ms=None, kind=None, "
                           "edge_id=None)", "Add a synapse. `init_weight` must be in [0.0, 1.0]"),
    "Cortex.remove_neuron": ("($self, node_id)", "Remove a neuron and cascade to incident edges."),
    "Cortex.remove_synapse": ("($self, edge_id)", None),
    "Cortex.rename": ("($self, new_name, now_rfc3339)", None),
    "Cortex.save": ("($self)", None),
    "Cortex.persist_weights": ("($self, weights)", "Persist a list of `(edge_id_str, weight)`"),
    "Cortex.persist_weights_raw": ("($self, bytes)", "Fast path for callers holding a packed"),
    "Cortex.load_weights": ("($self)", "Load weights as a list of `(edge_id_str, weight)` pairs."),
    "Cortex.apply_seed": ("($self, seed)", "Bulk-apply a [`PySeed`] generated by"),
    "seeds.random_seed": (
        "(n, p, seed=0, weight_lo=None, weight_hi=None, delay_ms=None)",
        "`vorn_py.seeds.random(n, p, seed=0, weight_lo=0.4, weight_hi=0.6, delay_ms=1.0)`"),
    "seeds.ring_seed": (
        "(n, k, seed=0, weight_lo=None, weight_hi=None, delay_ms=None)",
        "`vorn_py.seeds.ring(n, k, seed=0, weight_lo=..., weight_hi=..., delay_ms=...)`"),
    "seeds.small_world_seed": (
        "(n, k, p_rewire, seed=0, weight_lo=None, weight_hi=None, delay_ms=None)",
        "`vorn_py.seeds.small_world(n, k, p_rewire, seed=0, ...)`"),
    "seeds.layered_seed": (
        "(layers, seed=0, weight_lo=None, weight_hi=None, delay_ms=None)",
        "`vorn_py.seeds.layered(layers, seed=0, ...)` \u2014 layers is a list\n"
        "of layer sizes, e.g. `[2, 5, 1]`."),
}


@pytest.mark.parametrize("qualname", sorted(SIGNATURES))
def test_text_signature_and_docstring(qualname):
    owner, name = qualname.split(".")
    fn = getattr({"Sim": Sim, "Cortex": Cortex, "seeds": seeds}[owner], name)
    signature, doc = SIGNATURES[qualname]
    assert fn.__text_signature__ == signature
    # The interpreter reads it: self comes back positional-only, and a class
    # method is bound to its class.
    assert str(inspect.signature(fn)).replace("'", '"') == signature.replace(
        "$self", "self, /").replace("$type, ", "")
    if doc is None:
        assert fn.__doc__ is None
    else:
        assert fn.__doc__.startswith(doc)


def test_every_method_has_a_signature_entry():
    for owner, cls in (("Sim", Sim), ("Cortex", Cortex)):
        methods = {n for n, v in vars(cls).items() if not n.startswith("_") and callable(v)}
        assert methods == {q.split(".")[1] for q in SIGNATURES if q.startswith(owner + ".")}


def test_installed_stub_matches_the_module():
    with open(os.path.join(os.path.dirname(vorn_py.__file__), "vorn_py.pyi")) as f:
        tree = ast.parse(f.read())
    assign = next(n for n in tree.body
                  if isinstance(n, ast.Assign) and any(t.id == "__all__" for t in n.targets))
    assert ast.literal_eval(assign.value) == vorn_py.__all__
    classes = {n.name: n for n in tree.body if isinstance(n, ast.ClassDef)}
    classes["Seed"] = next(n for n in classes["seeds"].body if isinstance(n, ast.ClassDef))
    aliases = {t.id: n.value.id for n in classes["seeds"].body if isinstance(n, ast.Assign)
               for t in n.targets}
    assert aliases == dict(zip(SEED_ALIASES, SEED_FUNCTIONS))
    for owner, real in (("Sim", Sim), ("Cortex", Cortex), ("seeds", seeds), ("Seed", seeds.Seed)):
        # A property's setter is part of the property.
        functions = [n for n in classes[owner].body
                     if isinstance(n, ast.FunctionDef) and n.name != "__init__"
                     and not any(isinstance(d, ast.Attribute) for d in n.decorator_list)]
        kinds = {n.name: {getattr(d, "id", None) for d in n.decorator_list} for n in functions}
        assert {n for n, k in kinds.items() if "property" in k} == {
            n for n, v in vars(real).items()
            if type(v).__name__ == "getset_descriptor" and not n.startswith("_")}
        stubbed = {}
        for node in functions:
            if "property" in kinds[node.name]:
                continue
            args = node.args.args
            defaults = [None] * (len(args) - len(node.args.defaults)) + node.args.defaults
            params = [a.arg if d is None else f"{a.arg}={ast.unparse(d)}"
                      for a, d in zip(args, defaults)]
            if node.args.kwonlyargs:
                params.append("*")
                params += [a.arg if d is None else f"{a.arg}={ast.unparse(d)}"
                           for a, d in zip(node.args.kwonlyargs, node.args.kw_defaults)]
            if "classmethod" in kinds[node.name]:
                params[0] = "$type"
            elif "staticmethod" not in kinds[node.name]:
                params[0] = "$self"
            stubbed[node.name] = "(" + ", ".join(params) + ")"
        assert stubbed == {q.split(".")[1]: sig.replace('"', "'") for q, (sig, _) in
                           SIGNATURES.items() if q.split(".")[0] == owner}, owner


def _stub_tree():
    with open(os.path.join(os.path.dirname(vorn_py.__file__), "vorn_py.pyi")) as f:
        return ast.parse(f.read())


def _stub_params(node, drop_first):
    """The stub function's parameters as (name, kind, default) triples, the
    default as a Python value (inspect.Parameter.empty when there is none)."""
    args = node.args
    positional = args.posonlyargs + args.args
    defaults = [inspect.Parameter.empty] * (len(positional) - len(args.defaults)) + [
        ast.literal_eval(d) for d in args.defaults]
    params = [(a.arg, inspect.Parameter.POSITIONAL_OR_KEYWORD, d)
              for a, d in zip(positional, defaults)]
    params += [(a.arg, inspect.Parameter.KEYWORD_ONLY,
                inspect.Parameter.empty if d is None else ast.literal_eval(d))
               for a, d in zip(args.kwonlyargs, args.kw_defaults)]
    assert args.vararg is None and args.kwarg is None, node.name
    return params[1:] if drop_first else params


def _real_params(fn, drop_self):
    params = list(inspect.signature(fn).parameters.values())
    if drop_self:
        assert params[0].name == "self" and params[0].kind is inspect.Parameter.POSITIONAL_ONLY
        params = params[1:]
    return [(p.name, p.kind, p.default) for p in params]


def test_stub_signatures_match_the_runtime_signatures():
    # Independent of the SIGNATURES table above: what the interpreter reports
    # for every public method and function against the stub, parameter by
    # parameter (name, order, keyword-only or not, default value and type).
    tree = _stub_tree()
    classes = {n.name: n for n in tree.body if isinstance(n, ast.ClassDef)}
    owners = {"Sim": Sim, "Cortex": Cortex, "seeds": seeds,
              "SpikeMonitor": vorn_py.SpikeMonitor, "StateMonitor": vorn_py.StateMonitor}
    checked = 0
    for owner, real in owners.items():
        stubbed = {}
        for node in classes[owner].body:
            if not isinstance(node, ast.FunctionDef) or node.name.startswith("_"):
                continue
            decorators = {ast.unparse(d) for d in node.decorator_list}
            if decorators & {"property"} or any(d.endswith(".setter") for d in decorators):
                continue
            stubbed[node.name] = (node, decorators)
        if real is seeds:
            runtime = {n for n, v in vars(seeds).items()
                       if not n.startswith("_") and inspect.isbuiltin(v) and v.__name__ == n}
        else:
            runtime = {n for n, v in vars(real).items() if not n.startswith("_") and callable(v)}
        assert set(stubbed) == runtime, owner
        for name, (node, decorators) in stubbed.items():
            raw = vars(real)[name]
            kind = ("static" if isinstance(raw, staticmethod) or real is seeds
                    else "class" if type(raw).__name__ == "classmethod_descriptor"
                    else "method")
            expected = {"static": "staticmethod", "class": "classmethod", "method": None}[kind]
            assert (expected in decorators) if expected else not decorators, (owner, name)
            stub = _stub_params(node, drop_first=kind != "static")
            # A class method is read through the class, which binds cls.
            got = _real_params(getattr(real, name), drop_self=kind == "method")
            assert len(stub) == len(got), (owner, name, stub, got)
            for s, g in zip(stub, got):
                assert s[:2] == g[:2], (owner, name, s, g)
                assert s[2] == g[2] and type(s[2]) is type(g[2]), (owner, name, s, g)
            checked += 1
    assert checked >= 60


def test_methods_beyond_the_first_surface_have_docstrings():
    # The first surface's bare methods keep an empty docstring (pinned in
    # SIGNATURES); every class and every other public method says what it does.
    bare = {q for q, (_, doc) in SIGNATURES.items() if doc is None}
    owners = {"Sim": Sim, "Cortex": Cortex, "Seed": seeds.Seed,
              "SpikeMonitor": vorn_py.SpikeMonitor, "StateMonitor": vorn_py.StateMonitor}
    for owner, cls in owners.items():
        assert cls.__doc__ and cls.__doc__.strip(), owner
        for name, value in vars(cls).items():
            if name.startswith("_") or not callable(value) or f"{owner}.{name}" in bare:
                continue
            doc = getattr(cls, name).__doc__
            assert doc and doc.strip(), f"{owner}.{name}"
    for name in SEED_FUNCTIONS:
        assert getattr(seeds, name).__doc__.strip(), name
    assert seeds.__doc__.strip()
