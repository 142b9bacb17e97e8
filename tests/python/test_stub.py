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


def decorators(node: ast.FunctionDef) -> set[str]:
    return {getattr(d, "id", None) for d in node.decorator_list}


def stub_params(node: ast.FunctionDef, skip_self: bool) -> list:
    args = node.args.args[1:] if skip_self else node.args.args
    defaults = [None] * (len(args) - len(node.args.defaults)) + node.args.defaults
    return [
        (a.arg, inspect.Parameter.empty if d is None else ast.literal_eval(d))
        for a, d in zip(args, defaults)
    ]


def real_params(fn, skip_self: bool) -> list:
    params = list(inspect.signature(fn).parameters.values())
    return [(p.name, p.default) for p in (params[1:] if skip_self else params)]


def check_class(stub: ast.ClassDef, cls: type) -> set[str]:
    """Compares the stub's methods with the class; returns the stub's properties."""
    methods = {}
    properties = set()
    for node in stub.body:
        if isinstance(node, ast.FunctionDef) and node.name != "__init__":
            if "property" in decorators(node):
                properties.add(node.name)
            else:
                methods[node.name] = node
    real = {
        name for name, value in vars(cls).items()
        if not name.startswith("_") and callable(value)
    }
    assert set(methods) == real
    for name, node in methods.items():
        static = "staticmethod" in decorators(node)
        assert isinstance(vars(cls)[name], staticmethod) == static, name
        fn = getattr(cls, name)
        assert stub_params(node, not static) == real_params(fn, not static), name
    return properties


def real_properties(cls: type) -> set[str]:
    return {n for n, v in vars(cls).items() if type(v).__name__ == "getset_descriptor"
            and not n.startswith("_")}


def test_stub_classes_match_signatures():
    tree = load_stub()
    for name in ("Sim", "Cortex"):
        cls = getattr(vorn_py, name)
        assert check_class(stub_class(tree, name), cls) == real_properties(cls), name


def test_stub_seeds_namespace_matches_submodule():
    seeds = vorn_py.seeds
    stub = stub_class(load_stub(), "seeds")
    functions = {n.name: n for n in stub.body if isinstance(n, ast.FunctionDef)}
    aliases = {
        t.id: n.value.id for n in stub.body if isinstance(n, ast.Assign) for t in n.targets
    }
    assert set(functions) | set(aliases) == set(seeds.__all__) - {"Seed"}
    for name, node in functions.items():
        assert stub_params(node, False) == real_params(getattr(seeds, name), False), name
    for short, long in aliases.items():
        assert getattr(seeds, short) is getattr(seeds, long)
    seed_stub = stub_class(stub, "Seed")
    assert check_class(seed_stub, seeds.Seed) == real_properties(seeds.Seed)
