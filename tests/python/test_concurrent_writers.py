"""Several writers on one folder: edits are serialised by the folder lock, a
handle whose view is out of date is refused and must reopen, no acknowledged
edit is lost and no reader ever sees a torn document."""

import json
import pathlib
import subprocess
import sys
import textwrap

from vorn_py import Cortex, seeds
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


WRITER = textwrap.dedent("""
    import json, os, sys, time
    import vorn_py

    root, name, count, start = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    while not os.path.exists(start):
        time.sleep(0.001)
    cx = vorn_py.Cortex.open(root)
    live, added, removed, edges, stale = [], [], [], [], 0
    step = 0
    while len(added) < count:
        try:
            if step % 5 == 4 and len(live) > 2:
                victim = live[0]
                cx.remove_neuron(victim)
                live.pop(0)
                removed.append(victim)
                edges = [e for e in edges if victim not in e[1:]]
            elif step % 5 == 2 and len(live) > 1:
                edge = cx.add_synapse(live[-1], live[-2])
                edges.append((edge, live[-1], live[-2]))
            else:
                node = cx.add_neuron(label=f"{name}-{step}")
                live.append(node)
                added.append(node)
        except OSError as err:
            # Refused because the other writer got there first: start again
            # from the folder as it is now.
            if "reopen the folder" not in str(err):
                raise
            stale += 1
            cx = vorn_py.Cortex.open(root)
            continue
        step += 1
    print(json.dumps({"added": added, "removed": removed, "edges": [e[0] for e in edges],
                      "stale": stale}))
""")

READER = textwrap.dedent("""
    import json, os, pathlib, sys, time
    import vorn_py

    root, start, stop = sys.argv[1], sys.argv[2], sys.argv[3]
    while not os.path.exists(start):
        time.sleep(0.001)
    opens = torn = 0
    while not os.path.exists(stop):
        try:
            vorn_py.Cortex.open(root)
            json.loads((pathlib.Path(root) / "topology.json").read_bytes())
            opens += 1
        except (OSError, ValueError) as err:
            torn += 1
            print(repr(err), file=sys.stderr)
    print(json.dumps({"opens": opens, "torn": torn}))
""")


def test_two_writers_and_a_reader_lose_nothing_and_see_nothing_torn(tmp_path):
    root = str(tmp_path / "busy.cortex")
    new_cortex(root).apply_seed(seeds.ring(20, 2))
    start, stop = tmp_path / "start", tmp_path / "stop"
    writers = [subprocess.Popen([sys.executable, "-c", WRITER, root, name, "300", str(start)],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
               for name in ("w1", "w2")]
    reader = subprocess.Popen([sys.executable, "-c", READER, root, str(start), str(stop)],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        start.touch()
        results = []
        for w in writers:
            out, err = w.communicate(timeout=600)
            assert w.returncode == 0, err
            results.append(json.loads(out))
        stop.touch()
        out, err = reader.communicate(timeout=600)
        assert reader.returncode == 0, err
        reads = json.loads(out)
    finally:
        # A failed writer must not leave the others running after the test.
        stop.touch()
        for p in writers + [reader]:
            if p.poll() is None:
                p.kill()
                p.communicate()

    final = Cortex.open(root)
    nodes, edges = set(final.node_ids()), set(final.edge_ids())
    added = {n for r in results for n in r["added"]}
    removed = {n for r in results for n in r["removed"]}
    kept_edges = {e for r in results for e in r["edges"]}
    lost = (added - removed - nodes) | (kept_edges - edges)
    resurrected = removed & nodes
    assert (len(lost), len(resurrected), reads["torn"]) == (0, 0, 0), err
    assert len(nodes) == 20 + len(added) - len(removed)
    # The writers really did get in each other's way, and the reader kept reading.
    assert sum(r["stale"] for r in results) > 0
    assert reads["opens"] > 0
    # One journal line per acknowledged edit, none of them torn.
    lines = (pathlib.Path(root) / "events.jsonl").read_text().splitlines()
    kinds = [json.loads(line)["kind"] for line in lines]
    assert kinds.count("neuron_add") == len(added)
    assert kinds.count("neuron_remove") == len(removed)
    assert not list(pathlib.Path(root).glob("*.tmp"))
