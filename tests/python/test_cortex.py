"""The Cortex class: opening and creating folders, properties, graph edits,
weights, seeds, conversions and error mapping."""

import json
import math
import pathlib
import struct
import uuid

import numpy as np
import pytest

from vorn_py import Cortex, seeds
from conftest import NOW, CallsBack, f32, fresh_id, new_cortex, raises_text


@pytest.fixture
def root(tmp_path):
    return str(tmp_path / "net.cortex")


@pytest.fixture
def cx(root):
    return new_cortex(root)


def folder_state(path):
    """Every file under path with its bytes, to prove a call wrote nothing."""
    base = pathlib.Path(path)
    return {str(p.relative_to(base)): p.read_bytes() for p in base.rglob("*") if p.is_file()}


def read_json(root, name):
    return json.loads((pathlib.Path(root) / name).read_text())


def weights_file(cx):
    return pathlib.Path(cx.root) / "weights" / cx.cortex_type / "latest.cwt"


def cwt_header(count, reserved=0):
    return b"CWT1" + struct.pack("<IQII", 1, count, 20, reserved)


def os_error_text(call, *args, **kwargs):
    """Expects a plain OSError built from the message alone; returns the message."""
    with pytest.raises(OSError) as info:
        call(*args, **kwargs)
    e = info.value
    assert type(e) is OSError
    assert (e.errno, e.strerror, e.filename) == (None, None, None)
    return str(e)


# ---- create and open -----------------------------------------------------


def test_create_sets_properties_and_open_reads_them_back(tmp_path):
    root = str(tmp_path / "deep" / "er" / "My.cortex") + "/"
    cx = Cortex.create(root, "My net", "lif", NOW)
    assert cx.root == root
    assert (cx.name, cx.cortex_type, cx.created_at, cx.updated_at) == ("My net", "lif", NOW, NOW)
    assert str(uuid.UUID(cx.id)) == cx.id and uuid.UUID(cx.id).version == 4
    assert repr(cx) == f"Cortex(root={root}, cortex_type=lif, nodes=0, edges=0)"
    meta = read_json(root, "metadata.json")
    assert (meta["id"], meta["source_root"]) == (cx.id, root)
    assert "hh_config" not in meta
    again = Cortex.open(root)
    assert (again.id, again.name, again.cortex_type, again.created_at) == (
        cx.id, cx.name, cx.cortex_type, cx.created_at)
    hh = tmp_path / "hh"
    new_cortex(hh, "hh", source_root="/elsewhere", hh_config=' \n{"dt": 0.01, "gates": [1]}\t')
    meta = read_json(hh, "metadata.json")
    assert (meta["hh_config"], meta["source_root"]) == ({"dt": 0.01, "gates": [1]}, "/elsewhere")


@pytest.mark.parametrize(
    "cortex_type, kwargs, neuron, synapse",
    [
        # The choice of defaults is pinned in C++; here the keywords reach it.
        ("lif", {"defaults_synapse_kind": "plastic-synapse"}, "lif", "plastic-synapse"),
        ("knowledge-graph", {"defaults_neuron_kind": "knowledge-graph"}, "knowledge-graph",
         "stdp"),
    ],
)
def test_create_default_kinds(root, cortex_type, kwargs, neuron, synapse):
    new_cortex(root, cortex_type, **kwargs)
    defaults = read_json(root, "topology.json")["defaults"]
    assert defaults == {"neuron": {"kind": neuron}, "synapse": {"kind": synapse}}


@pytest.mark.parametrize("text", ["{", "{} {}"])
def test_malformed_hh_config_touches_nothing(tmp_path, text):
    missing = tmp_path / "never"
    message = raises_text(ValueError, new_cortex, missing, "hh", hh_config=text)
    assert message.startswith("hh_config must be JSON: ")
    assert len(message) > len("hh_config must be JSON: ")
    assert not missing.exists()
    existing = tmp_path / "empty"
    existing.mkdir()
    raises_text(ValueError, new_cortex, existing, "hh", hh_config=text)
    assert list(existing.iterdir()) == []


def test_create_and_open_argument_refusals_touch_nothing(tmp_path):
    root = tmp_path / "x"
    text = raises_text(TypeError, new_cortex, root, "hh", hh_config={"a": 1})
    assert text.startswith("argument 'hh_config': ")
    assert raises_text(TypeError, Cortex.create, root, "n", "lif", NOW).startswith(
        "argument 'root': ")
    assert raises_text(TypeError, Cortex.open, root).startswith("argument 'root': ")
    # Arguments convert in order: the bad name is reported before the bad kind.
    assert raises_text(TypeError, Cortex.create, str(root), 1, "lif", NOW,
                       defaults_neuron_kind=2).startswith("argument 'name': ")
    assert not root.exists()
    # The file system would stop reading the path at a null character and
    # act on the folder named by its prefix.
    empty = tmp_path / "empty"
    empty.mkdir()
    message = "root must not contain a null character"
    assert raises_text(ValueError, new_cortex, f"{empty}\0/x") == message
    assert list(empty.iterdir()) == []
    made = str(tmp_path / "made")
    new_cortex(made)
    assert raises_text(ValueError, Cortex.open, f"{made}\0.other") == message


def test_store_errors_map_to_plain_os_error_or_value_error(tmp_path, cx, root):
    before = folder_state(root)
    meta = pathlib.Path(root) / "metadata.json"
    assert os_error_text(new_cortex, root) == f"disk I/O error: metadata already exists at {meta}"
    assert folder_state(root) == before
    missing = str(tmp_path / "missing")
    assert os_error_text(Cortex.open, missing) == f"{missing} is not a directory"
    empty = tmp_path / "empty"
    empty.mkdir()
    meta = empty / "metadata.json"
    assert os_error_text(Cortex.open, str(empty)) == f"expected file does not exist: {meta}"
    meta.write_text("{ not json")
    raises_text(ValueError, Cortex.open, str(empty))


# ---- graph edits ---------------------------------------------------------


def test_add_neuron_ids_labels_kinds_and_refusals(cx):
    a = cx.add_neuron()
    assert str(uuid.UUID(a)) == a
    given = uuid.uuid4()
    b = cx.add_neuron(label="x", kind="hh", node_id="{" + str(given).upper() + "}")
    assert b == str(given)
    assert cx.nodes() == [(a, "", None), (b, "x", "hh")]
    assert cx.node_ids() == cx.list_nodes() == [a, b]
    assert cx.n_nodes() == 2
    before = folder_state(cx.root)
    message = raises_text(ValueError, cx.add_neuron, node_id="xyz")
    assert message.startswith("node_id must be a UUID string: ")
    assert raises_text(ValueError, cx.add_neuron, node_id=a) == f"duplicate node id {a}"
    assert raises_text(TypeError, cx.add_neuron, label=None).startswith("argument 'label': ")
    assert cx.node_ids() == [a, b]
    assert folder_state(cx.root) == before


def test_add_synapse_defaults_values_and_refusal(cx, root):
    a, b = cx.add_neuron(), cx.add_neuron()
    e = cx.add_synapse(a, b)
    given = str(uuid.uuid4())
    f = cx.add_synapse(b, a, init_weight=1, delay_ms=0.1, kind="stdp", edge_id=given.upper())
    assert f == given
    assert cx.edges() == [(e, a, b, 0.5, 1.0, None), (f, b, a, 1.0, f32(0.1), "stdp")]
    assert cx.edge_ids() == cx.list_synapses() == [e, f]
    assert cx.n_edges() == 2
    before = folder_state(root)
    bad_id = str(uuid.uuid4())
    assert raises_text(ValueError, cx.add_synapse, a, b, init_weight=1.5, edge_id=bad_id) == (
        f"edge {bad_id} init_weight 1.5 is not finite or outside [0.0, 1.0]")
    assert (cx.n_edges(), folder_state(root)) == (2, before)


def test_add_synapse_conversion_then_id_order(cx):
    a = cx.add_neuron()
    # Every argument converts before any id is parsed ...
    message = raises_text(TypeError, cx.add_synapse, "xyz", a, init_weight="heavy")
    assert message.startswith("argument 'init_weight': ")
    assert raises_text(TypeError, cx.add_synapse, a, a, kind=3).startswith("argument 'kind': ")
    # ... and edge_id is parsed first, then pre, then post.
    message = raises_text(ValueError, cx.add_synapse, "bad-pre", "bad-post", edge_id="bad-edge")
    assert message.startswith("edge_id must be a UUID string: ")
    message = raises_text(ValueError, cx.add_synapse, "bad-pre", "bad-post")
    assert message.startswith("pre must be a UUID string: ")
    assert raises_text(ValueError, cx.add_synapse, a, "bad").startswith(
        "post must be a UUID string: ")


def test_remove_neuron_and_synapse_results(cx, root):
    a, b, c = cx.add_neuron(), cx.add_neuron(), cx.add_neuron()
    cx.add_synapse(a, b)
    cx.add_synapse(c, a)
    keep = cx.add_synapse(b, c)
    assert cx.remove_neuron(a) == 2
    assert cx.edge_ids() == [keep]
    before = folder_state(root)
    assert cx.remove_neuron(fresh_id()) == 0
    assert cx.remove_synapse(fresh_id()) is False
    assert folder_state(root) == before
    assert cx.remove_synapse(keep) is True and cx.n_edges() == 0
    for method, name in ((cx.remove_neuron, "node_id"), (cx.remove_synapse, "edge_id")):
        assert raises_text(ValueError, method, "nope").startswith(f"{name} must be a UUID string: ")


def test_rename_and_save(cx, root):
    assert cx.rename("renamed", "2025-02-02T00:00:00Z") is None
    assert (cx.name, cx.updated_at, cx.created_at) == ("renamed", "2025-02-02T00:00:00Z", NOW)
    assert Cortex.open(root).name == "renamed"
    (pathlib.Path(root) / "topology.json").unlink()
    assert cx.save() is None
    assert (pathlib.Path(root) / "topology.json").exists()


# ---- weights -------------------------------------------------------------


def test_weights_round_trip(cx):
    assert cx.load_weights() == []
    assert not weights_file(cx).exists()
    ids = [fresh_id() for _ in range(3)]
    values = [0.1, 3.5, -2]  # any finite weight is stored, ids need not exist
    cx.persist_weights([(i, w) for i, w in zip(ids, values)])
    assert cx.load_weights() == [(i, f32(w)) for i, w in zip(ids, values)]
    cx.persist_weights(((ids[0].upper(), 0.5),))  # any sequence; ids parsed leniently
    assert cx.load_weights() == [(ids[0], 0.5)]
    cx.persist_weights([])
    assert weights_file(cx).read_bytes() == cwt_header(0)
    assert cx.load_weights() == []


def test_persist_weights_refusals_write_nothing(cx):
    good = (fresh_id(), 0.5)
    cx.persist_weights([good])
    before = weights_file(cx).read_bytes()
    cases = [
        (TypeError, [good, [fresh_id(), 0.5]],
         "argument 'weights': expected a (edge_id, weight) tuple, got list"),
        (TypeError, [(fresh_id(), 0.5, 1)],
         "argument 'weights': expected a (edge_id, weight) tuple, got a tuple of 3 items"),
        (TypeError, 5, "argument 'weights': "),
        (TypeError, [(uuid.uuid4(), 0.5)], "argument 'weights': "),
        (ValueError, [good, ("nope", 0.5)], "edge_id must be a UUID string: "),
        # Conversion of every item comes before parsing any id.
        (TypeError, [("nope", 0.5), (fresh_id(), None)], "argument 'weights': "),
        (ValueError, [good, (fresh_id(), math.nan)],
         "weights record at index 1 has non-finite value (NaN)"),
    ]
    # A text ending in ": " is a prefix (the rest comes from the cause); others are whole.
    for exc, weights, expected in cases:
        text = raises_text(exc, cx.persist_weights, weights)
        assert text.startswith(expected) if expected.endswith(": ") else text == expected, text
    assert weights_file(cx).read_bytes() == before


def test_raw_weights_from_a_numpy_structured_array(cx):
    ids = [uuid.uuid4() for _ in range(4)]
    rows = np.array([(i.bytes, w) for i, w in zip(ids, [0.25, 0.5, 0.75, 1.5])],
                    dtype=[("id", "V16"), ("w", "<f4")])
    assert rows.itemsize == 20
    payload = cwt_header(len(rows)) + rows.tobytes()
    cx.persist_weights_raw(payload)
    assert cx.load_weights() == [(str(i), float(w)) for i, w in zip(ids, rows["w"])]
    assert weights_file(cx).read_bytes() == payload
    # The file is re-encoded from the decoded records: the reserved field is zero.
    cx.persist_weights_raw(cwt_header(len(rows), reserved=0xDEADBEEF) + rows.tobytes())
    assert weights_file(cx).read_bytes() == payload


def test_raw_weights_refusals_write_nothing_and_a_corrupt_file_is_refused(cx):
    record = uuid.uuid4().bytes + struct.pack("<f", math.inf)
    cases = [
        (b"", "weights header truncated: read 0 bytes"),
        (cwt_header(1) + record, "weights record at index 0 has non-finite value (inf)"),
    ]
    for payload, message in cases:
        assert raises_text(ValueError, cx.persist_weights_raw, payload) == (
            f"persist_weights_raw: {message}")
    for wrong in (bytearray(cwt_header(0)), memoryview(cwt_header(0)), "CWT1"):
        assert raises_text(TypeError, cx.persist_weights_raw, wrong).startswith(
            "argument 'bytes': ")
    assert not weights_file(cx).exists()
    weights_file(cx).parent.mkdir(parents=True)
    weights_file(cx).write_bytes(b"0123456789")
    assert raises_text(ValueError, cx.load_weights) == "weights header truncated: read 10 bytes"


# ---- seeds ----------------------------------------------------------------


def test_apply_seed_counts_and_order(cx, root):
    assert cx.apply_seed(seeds.ring(5, 2)) == (5, 20)
    assert [n[1] for n in cx.nodes()] == [f"n{i}" for i in range(5)]
    assert repr(cx) == f"Cortex(root={root}, cortex_type=lif, nodes=5, edges=20)"
    assert cx.apply_seed(seed=seeds.layered([1, 2], seed=9)) == (3, 2)
    for wrong in ("seed", None, seeds.ring):
        assert raises_text(TypeError, cx.apply_seed, wrong).startswith("argument 'seed': ")
    assert cx.n_nodes() == 8


# ---- re-entrancy ---------------------------------------------------------


def test_reentry_during_a_call(cx):
    a, b = cx.add_neuron(), cx.add_neuron()
    weight = CallsBack(cx.n_nodes, 0.5)
    with pytest.raises(RuntimeError):
        cx.add_synapse(a, b, init_weight=weight)
    assert weight.error == "Already mutably borrowed"
    assert cx.n_edges() == 0
    # Editing during a read is refused; reading is not.
    writer = CallsBack(cx.add_neuron, 0.5)
    with pytest.raises(RuntimeError):
        cx.persist_weights([(fresh_id(), writer)])
    assert writer.error == "Already borrowed"
    assert cx.n_nodes() == 2 and not weights_file(cx).exists()
    reader = CallsBack(cx.node_ids, 0.5)
    cx.persist_weights([(fresh_id(), reader)])
    assert reader.error is None and len(cx.load_weights()) == 1
