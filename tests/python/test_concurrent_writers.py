"""A handle on a folder another writer changed since is refused with an
OSError telling to reopen (the lock and the version rules themselves are
pinned by the C++ store tests)."""

import pathlib

from vorn_py import Cortex
from conftest import new_cortex, raises_text


def test_a_stale_handle_is_refused_with_an_os_error_and_keeps_its_view(tmp_path):
    root = str(tmp_path / "net.cortex")
    first = new_cortex(root)
    second = Cortex.open(root)
    a = first.add_neuron(label="first")
    assert raises_text(OSError, second.add_neuron, label="second") == (
        f"{pathlib.Path(root) / 'topology.json'} was changed by another writer since this handle "
        "last read or wrote it; nothing was written: reopen the folder and repeat the change")
    assert second.node_ids() == []
    assert Cortex.open(root).node_ids() == [a]
