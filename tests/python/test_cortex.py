"""The Cortex class: opening and creating folders, properties, graph edits,
weights, seeds, conversions and error mapping."""

import inspect
import json
import math
import pathlib
import shutil
import struct
import uuid

import numpy as np
import pytest

import vorn_py
from vorn_py import Cortex, seeds
from conftest import f32, fresh_id, raises_text

NOW = "2024-01-01T00:00:00Z"


@pytest.fixture
def root(tmp_path):
    return str(tmp_path / "net.cortex")


@pytest.fixture
def cx(root):
    return Cortex.create(root, "net", "lif", NOW)


def folder_state(path):
    """Every file under path with its bytes, to prove a call wrote nothing."""
    base = pathlib.Path(path)
    if not base.exists():
        return None
    return {str(p.relative_to(base)): p.read_bytes() for p in base.rglob("*") if p.is_file()}


def read_json(root, name):
    with open(pathlib.Path(root) / name) as f:
        return json.load(f)


def weights_file(cx):
    return pathlib.Path(cx.root) / "weights" / cx.cortex_type / "latest.cwt"


def cwt_header(count):
    return b"CWT1" + struct.pack("<IQII", 1, count, 20, 0)


def os_error_text(call, *args, **kwargs):
    """Expects a plain OSError built from the message alone; returns the message."""
    with pytest.raises(OSError) as info:
        call(*args, **kwargs)
    e = info.value
    assert type(e) is OSError
    assert (e.errno, e.strerror, e.filename) == (None, None, None)
    return str(e)


# ---- class surface -------------------------------------------------------


def test_no_constructor_and_read_only_properties(cx):
    assert raises_text(TypeError, Cortex) == "No constructor defined for Cortex"
    for prop in ("root", "cortex_type", "name", "id", "created_at", "updated_at"):
        with pytest.raises(AttributeError):
            setattr(cx, prop, "x")
    assert isinstance(vars(Cortex)["open"], staticmethod)
    assert isinstance(vars(Cortex)["create"], staticmethod)


@pytest.mark.parametrize(
    "name, signature",
    [
        ("open", "(root)"),
        ("create", "(root, name, cortex_type, now_rfc3339, defaults_neuron_kind=None, "
                   "defaults_synapse_kind=None, source_root=None, hh_config=None)"),
        ("node_ids", "($self)"), ("list_nodes", "($self)"), ("edge_ids", "($self)"),
        ("list_synapses", "($self)"), ("n_nodes", "($self)"), ("n_edges", "($self)"),
        ("nodes", "($self)"), ("edges", "($self)"),
        ("add_neuron", '($self, label="", kind=None, node_id=None)'),
        ("add_synapse",
         "($self, pre, post, init_weight=0.5, delay_ms=None, kind=None, edge_id=None)"),
        ("remove_neuron", "($self, node_id)"), ("remove_synapse", "($self, edge_id)"),
        ("rename", "($self, new_name, now_rfc3339)"), ("save", "($self)"),
        ("persist_weights", "($self, weights)"), ("persist_weights_raw", "($self, bytes)"),
        ("load_weights", "($self)"), ("apply_seed", "($self, seed)"),
    ],
)
def test_text_signatures(name, signature):
    method = getattr(Cortex, name)
    assert method.__text_signature__ == signature
    inspect.signature(method)  # the interpreter can read it


def test_docstrings_describe_the_documented_methods():
    assert "[`PySeed`]" in Cortex.apply_seed.__doc__
    assert "`vorn::Cortex`" in Cortex.__doc__
    for name in ("open", "create", "add_neuron", "add_synapse", "remove_neuron",
                 "persist_weights", "persist_weights_raw", "load_weights", "nodes", "edges"):
        assert getattr(Cortex, name).__doc__, name
    for name in ("node_ids", "save", "rename", "remove_synapse"):
        assert getattr(Cortex, name).__doc__ is None


# ---- create and open -----------------------------------------------------


def test_create_sets_properties_and_writes_documents(tmp_path):
    root = str(tmp_path / "deep" / "er" / "My.cortex") + "/"
    cx = Cortex.create(root, "My net", "lif", NOW)
    assert cx.root == root
    assert (cx.name, cx.cortex_type, cx.created_at, cx.updated_at) == ("My net", "lif", NOW, NOW)
    assert str(uuid.UUID(cx.id)) == cx.id and uuid.UUID(cx.id).version == 4
    assert repr(cx) == f"Cortex(root={root}, cortex_type=lif, nodes=0, edges=0)"
    meta = read_json(root, "metadata.json")
    assert (meta["id"], meta["source_root"]) == (cx.id, root)
    assert "hh_config" not in meta
    topo = read_json(root, "topology.json")
    assert topo["defaults"] == {"neuron": {"kind": "lif"}, "synapse": {"kind": "stdp"}}


@pytest.mark.parametrize(
    "cortex_type, kwargs, neuron, synapse",
    [
        ("hh", {}, "hh", "stdp"),
        ("knowledge-graph", {}, "lif", "stdp"),
        ("lif", {"defaults_synapse_kind": "plastic-synapse"}, "lif", "plastic-synapse"),
        ("knowledge-graph", {"defaults_neuron_kind": "knowledge-graph"}, "knowledge-graph",
         "stdp"),
    ],
)
def test_create_default_kinds(root, cortex_type, kwargs, neuron, synapse):
    Cortex.create(root, "n", cortex_type, NOW, **kwargs)
    defaults = read_json(root, "topology.json")["defaults"]
    assert (defaults["neuron"]["kind"], defaults["synapse"]["kind"]) == (neuron, synapse)


def test_create_refuses_a_mismatched_neuron_kind(root):
    message = raises_text(ValueError, Cortex.create, root, "n", "lif", NOW,
                          defaults_neuron_kind="hh")
    assert message == "defaults.neuron.kind 'hh' does not match cortex_type 'lif'"


def test_create_stores_hh_config_and_source_root(root):
    Cortex.create(root, "n", "hh", NOW, source_root="/elsewhere",
                  hh_config=' \n{"dt": 0.01, "gates": [1, 2]}\t')
    meta = read_json(root, "metadata.json")
    assert meta["hh_config"] == {"dt": 0.01, "gates": [1, 2]}
    assert meta["source_root"] == "/elsewhere"


@pytest.mark.parametrize("text", ["{", "", "{} {}", "[1,]", "nul"])
def test_malformed_hh_config_touches_nothing(tmp_path, text):
    missing = str(tmp_path / "never")
    message = raises_text(ValueError, Cortex.create, missing, "n", "hh", NOW, hh_config=text)
    assert message.startswith("hh_config must be JSON: ")
    assert len(message) > len("hh_config must be JSON: ")
    assert not pathlib.Path(missing).exists()
    existing = tmp_path / "empty"
    existing.mkdir()
    raises_text(ValueError, Cortex.create, str(existing), "n", "hh", NOW, hh_config=text)
    assert list(existing.iterdir()) == []


def test_create_argument_types(tmp_path):
    root = tmp_path / "x"
    text = raises_text(TypeError, Cortex.create, str(root), "n", "hh", NOW, hh_config={"a": 1})
    assert text.startswith("argument 'hh_config': ")
    assert raises_text(TypeError, Cortex.create, root, "n", "lif", NOW).startswith(
        "argument 'root': ")
    assert raises_text(TypeError, Cortex.open, root).startswith("argument 'root': ")
    # Arguments convert in order: the bad name is reported before the bad kind.
    assert raises_text(TypeError, Cortex.create, str(root), 1, "lif", NOW,
                       defaults_neuron_kind=2).startswith("argument 'name': ")
    assert not root.exists()


def test_root_with_a_null_character_is_refused(tmp_path):
    # The file system would stop reading the path at the null character and
    # act on the folder named by its prefix.
    empty = tmp_path / "empty"
    empty.mkdir()
    message = "root must not contain a null character"
    assert raises_text(ValueError, Cortex.create, f"{empty}\0/x", "n", "lif", NOW) == message
    assert list(empty.iterdir()) == []
    made = str(tmp_path / "made")
    Cortex.create(made, "n", "lif", NOW)
    assert raises_text(ValueError, Cortex.open, f"{made}\0.other") == message


def test_create_over_existing_metadata_is_an_os_error(cx, root):
    before = folder_state(root)
    message = os_error_text(Cortex.create, root, "again", "lif", NOW)
    meta_path = str(pathlib.Path(root) / "metadata.json")
    assert message == f"disk I/O error: metadata already exists at {meta_path}"
    assert folder_state(root) == before


def test_open_reads_back_what_create_wrote(cx, root):
    a = cx.add_neuron("input")
    b = cx.add_neuron("hidden", kind="hh")
    cx.add_synapse(a, b, init_weight=0.25, delay_ms=2.0, kind="plastic-synapse")
    again = Cortex.open(root)
    assert (again.id, again.name, again.cortex_type, again.created_at) == (
        cx.id, cx.name, cx.cortex_type, cx.created_at)
    assert again.nodes() == cx.nodes() == [(a, "input", None), (b, "hidden", "hh")]
    assert again.edges() == cx.edges()
    assert again.edges()[0][1:] == (a, b, 0.25, 2.0, "plastic-synapse")


def test_open_failures(tmp_path):
    missing = str(tmp_path / "missing")
    assert os_error_text(Cortex.open, missing) == f"{missing} is not a directory"
    plain = tmp_path / "file"
    plain.write_text("x")
    assert os_error_text(Cortex.open, str(plain)) == f"{plain} is not a directory"
    empty = tmp_path / "empty"
    empty.mkdir()
    meta = str(empty / "metadata.json")
    assert os_error_text(Cortex.open, str(empty)) == f"expected file does not exist: {meta}"
    pathlib.Path(meta).write_text("{ not json")
    raises_text(ValueError, Cortex.open, str(empty))


def test_open_without_topology_is_empty_until_an_edit(cx, root):
    (pathlib.Path(root) / "topology.json").unlink()
    again = Cortex.open(root)
    assert (again.n_nodes(), again.n_edges()) == (0, 0)
    assert not (pathlib.Path(root) / "topology.json").exists()
    again.add_neuron()
    assert len(read_json(root, "topology.json")["nodes"]) == 1


def test_topology_of_another_type_is_refused(tmp_path):
    hh = str(tmp_path / "hh")
    lif = str(tmp_path / "lif")
    Cortex.create(hh, "a", "hh", NOW)
    Cortex.create(lif, "b", "lif", NOW)
    shutil.copy(pathlib.Path(lif) / "topology.json", pathlib.Path(hh) / "topology.json")
    assert raises_text(ValueError, Cortex.open, hh) == (
        "topology says 'lif' but metadata says 'hh'")


# ---- graph edits ---------------------------------------------------------


def test_add_neuron_ids_labels_and_kinds(cx):
    a = cx.add_neuron()
    assert str(uuid.UUID(a)) == a
    assert cx.nodes() == [(a, "", None)]
    given = uuid.uuid4()
    b = cx.add_neuron(label="x", kind="hh", node_id="{" + str(given).upper() + "}")
    assert b == str(given)
    assert cx.nodes()[1] == (b, "x", "hh")
    assert cx.node_ids() == cx.list_nodes() == [a, b]
    assert cx.n_nodes() == 2


def test_add_neuron_failures_leave_graph_and_disk_alone(cx, root):
    a = cx.add_neuron()
    before = folder_state(root)
    message = raises_text(ValueError, cx.add_neuron, node_id="xyz")
    assert message.startswith("node_id must be a UUID string: ")
    assert raises_text(ValueError, cx.add_neuron, node_id=a) == f"duplicate node id {a}"
    raises_text(ValueError, cx.add_neuron, kind="Not A Slug")
    assert raises_text(TypeError, cx.add_neuron, label=None).startswith("argument 'label': ")
    assert cx.node_ids() == [a]
    assert folder_state(root) == before


def test_add_synapse_defaults_and_values(cx):
    a, b = cx.add_neuron(), cx.add_neuron()
    e = cx.add_synapse(a, b)
    assert cx.edges() == [(e, a, b, 0.5, 1.0, None)]
    given = str(uuid.uuid4())
    f = cx.add_synapse(b, a, init_weight=1, delay_ms=0.1, kind="stdp", edge_id=given.upper())
    assert f == given
    assert cx.edges()[1] == (f, b, a, 1.0, f32(0.1), "stdp")
    assert cx.edge_ids() == cx.list_synapses() == [e, f]
    assert cx.n_edges() == 2


def test_add_synapse_refusals(cx, root):
    a, b = cx.add_neuron(), cx.add_neuron()
    before = folder_state(root)
    bad_id = str(uuid.uuid4())
    assert raises_text(ValueError, cx.add_synapse, a, b, init_weight=1.5, edge_id=bad_id) == (
        f"edge {bad_id} init_weight 1.5 is not finite or outside [0.0, 1.0]")
    assert "self-loop" in raises_text(ValueError, cx.add_synapse, a, a)
    ghost = fresh_id()
    assert raises_text(ValueError, cx.add_synapse, a, ghost, edge_id=bad_id) == (
        f"edge {bad_id} references missing node {ghost}")
    assert (cx.n_edges(), folder_state(root)) == (0, before)


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


def test_remove_neuron_cascades_and_remove_synapse(cx, root):
    a, b, c = cx.add_neuron(), cx.add_neuron(), cx.add_neuron()
    cx.add_synapse(a, b)
    cx.add_synapse(a, c)
    cx.add_synapse(c, a)
    keep = cx.add_synapse(b, c)
    assert cx.remove_neuron(a) == 3
    assert cx.edge_ids() == [keep]
    assert [e["id"] for e in read_json(root, "topology.json")["edges"]] == [keep]
    last = json.loads((pathlib.Path(root) / "events.jsonl").read_text().splitlines()[-1])
    assert (last["kind"], last["id"], last["cascaded_edges"]) == ("neuron_remove", a, 3)
    before = folder_state(root)
    assert cx.remove_neuron(fresh_id()) == 0
    assert cx.remove_synapse(fresh_id()) is False
    assert folder_state(root) == before
    assert cx.remove_synapse(keep) is True
    assert cx.n_edges() == 0
    assert raises_text(ValueError, cx.remove_neuron, "nope").startswith(
        "node_id must be a UUID string: ")
    assert raises_text(ValueError, cx.remove_synapse, "nope").startswith(
        "edge_id must be a UUID string: ")


def test_rename_and_save(cx, root):
    cx.rename("renamed", "2025-02-02T00:00:00Z")
    assert (cx.name, cx.updated_at, cx.created_at) == ("renamed", "2025-02-02T00:00:00Z", NOW)
    assert Cortex.open(root).name == "renamed"
    assert raises_text(ValueError, cx.rename, "", NOW) == "metadata.name must not be empty"
    assert Cortex.open(root).name == "renamed"
    # The refused name stays in memory; fix it and save everything.
    cx.rename("fixed", NOW)
    (pathlib.Path(root) / "topology.json").unlink()
    assert cx.save() is None
    assert Cortex.open(root).name == "fixed"
    assert (pathlib.Path(root) / "topology.json").exists()


def test_failed_topology_write_is_a_plain_os_error(cx, root):
    # A directory where topology.json belongs makes the rename fail.
    topo = pathlib.Path(root) / "topology.json"
    topo.unlink()
    topo.mkdir()
    (topo / "keep").write_text("x")
    message = os_error_text(cx.add_neuron, "pending")
    assert message.startswith("disk I/O error: ")
    assert cx.n_nodes() == 1  # memory is ahead of the disk
    shutil.rmtree(topo)
    cx.save()
    assert [n["label"] for n in read_json(root, "topology.json")["nodes"]] == ["pending"]


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


def test_empty_weights_file_layout(cx):
    cx.persist_weights([])
    assert weights_file(cx).read_bytes() == cwt_header(0)
    assert cx.load_weights() == []


def test_persist_weights_refusals_write_nothing(cx):
    good = (fresh_id(), 0.5)
    cx.persist_weights([good])
    before = weights_file(cx).read_bytes()
    cases = [
        (TypeError, [good, [fresh_id(), 0.5]], "argument 'weights': "),
        (TypeError, [(fresh_id(), 0.5, 1)], "argument 'weights': "),
        (TypeError, [(fresh_id(),)], "argument 'weights': "),
        (TypeError, "ab", "argument 'weights': "),
        (TypeError, 5, "argument 'weights': "),
        (TypeError, [(uuid.uuid4(), 0.5)], "argument 'weights': "),
        (TypeError, [(fresh_id(), "0.5")], "argument 'weights': "),
        (ValueError, [good, ("nope", 0.5)], "edge_id must be a UUID string: "),
        # Conversion of every item comes before parsing any id.
        (TypeError, [("nope", 0.5), (fresh_id(), None)], "argument 'weights': "),
        (ValueError, [good, (fresh_id(), math.nan)],
         "weights record at index 1 has non-finite value (NaN)"),
    ]
    for exc, weights, prefix in cases:
        assert raises_text(exc, cx.persist_weights, weights).startswith(prefix), weights
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
    back = np.frombuffer(weights_file(cx).read_bytes()[24:], dtype=rows.dtype)
    assert back.tobytes() == rows.tobytes()


def test_raw_weights_reserved_field_is_rewritten_as_zero(cx):
    rid = uuid.uuid4()
    header = b"CWT1" + struct.pack("<IQII", 1, 1, 20, 0xDEADBEEF)
    record = rid.bytes + struct.pack("<f", 0.5)
    cx.persist_weights_raw(header + record)
    assert weights_file(cx).read_bytes() == cwt_header(1) + record


def test_raw_weights_refusals_write_nothing(cx):
    record = uuid.uuid4().bytes + struct.pack("<f", 0.5)
    cases = [
        (b"", "weights header truncated: read 0 bytes"),
        (b"CWT2" + cwt_header(0)[4:],
         "weights file bad magic [67, 87, 84, 50] (expected [67, 87, 84, 49])"),
        (cwt_header(1) + record + b"\0",
         "weights body length mismatch: expected 20 bytes, got 21"),
        (cwt_header(1) + record[:16] + struct.pack("<f", math.inf),
         "weights record at index 0 has non-finite value (inf)"),
    ]
    for payload, message in cases:
        assert raises_text(ValueError, cx.persist_weights_raw, payload) == (
            f"persist_weights_raw: {message}")
    assert not weights_file(cx).exists()
    for wrong in (bytearray(cwt_header(0)), memoryview(cwt_header(0)), "CWT1"):
        assert raises_text(TypeError, cx.persist_weights_raw, wrong).startswith(
            "argument 'bytes': ")
    assert not weights_file(cx).exists()


def test_corrupt_weights_file_on_load(cx):
    weights_file(cx).parent.mkdir(parents=True)
    weights_file(cx).write_bytes(b"0123456789")
    assert raises_text(ValueError, cx.load_weights) == "weights header truncated: read 10 bytes"


# ---- seeds ----------------------------------------------------------------


def test_apply_seed_counts_and_order(cx, root):
    assert cx.apply_seed(seeds.ring(5, 2)) == (5, 20)
    assert [n[1] for n in cx.nodes()] == [f"n{i}" for i in range(5)]
    assert repr(cx) == f"Cortex(root={root}, cortex_type=lif, nodes=5, edges=20)"
    assert len(read_json(root, "topology.json")["edges"]) == 20
    events = (pathlib.Path(root) / "events.jsonl").read_text().splitlines()
    assert [json.loads(line)["kind"] for line in events] == ["seed_apply"]
    assert cx.apply_seed(seed=seeds.layered([1, 2], seed=9)) == (3, 2)


def test_apply_seed_needs_a_seed(cx):
    for wrong in ("seed", None, seeds.ring):
        assert raises_text(TypeError, cx.apply_seed, wrong).startswith("argument 'seed': ")
    assert cx.n_nodes() == 0


# ---- re-entrancy ---------------------------------------------------------


class CallsBack:
    """A float whose conversion first runs `action`, recording what it raised."""

    def __init__(self, action, value=0.5):
        self.action, self.value, self.error = action, value, None

    def __float__(self):
        try:
            self.action()
        except RuntimeError as e:
            self.error = str(e)
            raise
        return self.value


def test_reading_during_an_edit_is_refused(cx):
    a, b = cx.add_neuron(), cx.add_neuron()
    weight = CallsBack(cx.n_nodes)
    with pytest.raises(RuntimeError):
        cx.add_synapse(a, b, init_weight=weight)
    assert weight.error == "Already mutably borrowed"
    assert cx.n_edges() == 0


def test_editing_during_a_read_is_refused_but_reading_is_not(cx):
    writer = CallsBack(cx.add_neuron)
    with pytest.raises(RuntimeError):
        cx.persist_weights([(fresh_id(), writer)])
    assert writer.error == "Already borrowed"
    assert cx.n_nodes() == 0 and not weights_file(cx).exists()
    reader = CallsBack(cx.node_ids)
    cx.persist_weights([(fresh_id(), reader)])
    assert reader.error is None and len(cx.load_weights()) == 1
