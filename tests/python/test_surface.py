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


def test_stub_all_and_seed_aliases_match_the_module():
    tree = _stub_tree()
    assign = next(n for n in tree.body
                  if isinstance(n, ast.Assign) and any(t.id == "__all__" for t in n.targets))
    assert ast.literal_eval(assign.value) == vorn_py.__all__
    seeds_class = next(n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == "seeds")
    aliases = {t.id: n.value.id for n in seeds_class.body if isinstance(n, ast.Assign)
               for t in n.targets}
    assert aliases == dict(zip(SEED_ALIASES, SEED_FUNCTIONS))


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


# The first surface's accessors keep an empty docstring.
BARE = {f"Sim.{n}" for n in ("list_nodes", "list_synapses", "get_node_params",
                              "get_synapse_params", "all_node_params", "all_synapse_params",
                              "set_node_param", "set_synapse_param")} | {
    f"Cortex.{n}" for n in ("node_ids", "list_nodes", "edge_ids", "list_synapses", "n_nodes",
                            "n_edges", "remove_synapse", "rename", "save")}


def test_every_class_and_method_outside_the_bare_accessors_has_a_docstring():
    owners = {"Sim": Sim, "Cortex": Cortex, "Seed": seeds.Seed,
              "SpikeMonitor": vorn_py.SpikeMonitor, "StateMonitor": vorn_py.StateMonitor}
    for owner, cls in owners.items():
        assert cls.__doc__ and cls.__doc__.strip(), owner
        for name, value in vars(cls).items():
            if name.startswith("_") or not callable(value):
                continue
            doc = getattr(cls, name).__doc__
            if f"{owner}.{name}" in BARE:
                assert doc is None, f"{owner}.{name}"
            else:
                assert doc and doc.strip(), f"{owner}.{name}"
    for name in SEED_FUNCTIONS:
        assert getattr(seeds, name).__doc__.strip(), name
    assert seeds.__doc__.strip()
