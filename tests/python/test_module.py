import importlib
import subprocess
import sys
import textwrap

import vorn_py


ALL = ["Sim", "Cortex", "seeds", "__version__"]


def test_version_and_all():
    assert vorn_py.__version__ == "0.1.0"
    assert vorn_py.__all__ == ALL
    for name in vorn_py.__all__:
        assert hasattr(vorn_py, name)


def test_attributes_added_in_order():
    added = [n for n in vars(vorn_py) if n in ALL]
    assert added == ALL


def test_only_listed_public_attributes():
    public = {n for n in dir(vorn_py) if not n.startswith("_")}
    assert public == {"Sim", "Cortex", "seeds"}
    assert not hasattr(vorn_py, "PanicException")


def test_module_docstring_mentions_what_import_provides():
    doc = vorn_py.__doc__
    assert "`Sim`" in doc and "__version__" in doc


def test_sim_type_identity():
    assert vorn_py.Sim.__module__ == "vorn_py"
    assert vorn_py.Sim.__qualname__ == "Sim"
    assert repr(vorn_py.Sim) == "<class 'vorn_py.Sim'>"


def test_second_init_returns_same_module_and_keeps_all():
    first = sys.modules["vorn_py"]
    del sys.modules["vorn_py"]
    try:
        again = importlib.import_module("vorn_py")
    finally:
        sys.modules["vorn_py"] = first
    assert again is first
    assert again.__all__ == ALL


def _run_isolated(code: str) -> str:
    proc = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert proc.returncode == 0, proc.stderr
    return proc.stdout.strip()


def test_legacy_subinterpreter_import_fails():
    out = _run_isolated(
        """
        import os, tempfile, _testcapi
        import vorn_py
        path = os.path.join(tempfile.mkdtemp(), "result")
        code = (
            "try:\\n"
            "    import vorn_py\\n"
            "    result = 'imported'\\n"
            "except ImportError as e:\\n"
            "    result = 'ImportError: ' + str(e)\\n"
            f"open({path!r}, 'w').write(result)\\n"
        )
        _testcapi.run_in_subinterp(code)
        print(open(path).read())
        """
    )
    assert out == "ImportError: vorn_py does not support loading in sub-interpreters"


def test_isolated_subinterpreter_import_fails():
    out = _run_isolated(
        """
        import _interpreters
        interp = _interpreters.create()
        err = _interpreters.exec(interp, "import vorn_py")
        print(err.type.__name__ if err else "imported")
        """
    )
    assert out == "ImportError"
