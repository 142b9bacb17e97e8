"""The installed type stub must describe the real module."""

import ast
import inspect
import os

import vorn_py


def load_stub() -> ast.Module:
    path = os.path.join(os.path.dirname(vorn_py.__file__), "vorn_py.pyi")
    with open(path) as f:
        return ast.parse(f.read())


def stub_class(tree: ast.Module, name: str) -> ast.ClassDef:
    return next(n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == name)


def test_stub_all_matches_module():
    tree = load_stub()
    assign = next(
        n for n in tree.body
        if isinstance(n, ast.Assign) and any(t.id == "__all__" for t in n.targets)
    )
    assert ast.literal_eval(assign.value) == vorn_py.__all__


def test_stub_methods_match_signatures():
    cls = stub_class(load_stub(), "Sim")
    methods = {}
    properties = set()
    for node in cls.body:
        if isinstance(node, ast.FunctionDef) and node.name != "__init__":
            if any(getattr(d, "id", None) == "property" for d in node.decorator_list):
                properties.add(node.name)
            else:
                methods[node.name] = node
    real = {
        name for name, value in vars(vorn_py.Sim).items()
        if not name.startswith("_") and callable(value)
    }
    assert set(methods) == real
    assert properties == {"t_ms", "n_neurons", "n_synapses"}
    for name, node in methods.items():
        args = node.args.args[1:]
        defaults = [None] * (len(args) - len(node.args.defaults)) + node.args.defaults
        stub_params = [
            (a.arg, inspect.Parameter.empty if d is None else ast.literal_eval(d))
            for a, d in zip(args, defaults)
        ]
        sig = inspect.signature(getattr(vorn_py.Sim, name))
        real_params = [(p.name, p.default) for p in list(sig.parameters.values())[1:]]
        assert stub_params == real_params, name
