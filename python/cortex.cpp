#include "python/cortex.hpp"

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/format/json_reader.hpp"
#include "python/arg_spec.hpp"
#include "python/args.hpp"
#include "python/attrs.hpp"
#include "python/cortex_doc.hpp"
#include "python/cortex_object.hpp"
#include "python/errors.hpp"
#include "python/results.hpp"

namespace vorn::py {
namespace {

PyObject* text_to_py(std::string_view text) {
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

std::optional<std::string> to_owned(const std::optional<std::string_view>& text) {
    return text ? std::optional<std::string>(std::string(*text)) : std::nullopt;
}

// A new Cortex object taking over handle, or nullptr with the exception set.
PyObject* wrap_handle(Cortex&& handle);

// The file system reads a path only up to its first null character, so a root
// holding one would name a different folder; refuse it before any disk access.
bool check_root(std::string_view root) {
    if (root.find('\0') == std::string_view::npos)
        return true;
    raise_value_error("root must not contain a null character");
    return false;
}

// ---- construction -------------------------------------------------------

void cortex_dealloc(PyObject* self) {
    CortexObject* cortex = as_cortex(self);
    cortex->borrow.~BorrowFlag();
    cortex->handle.~Cortex();
    Py_TYPE(self)->tp_free(self);
}

constexpr MethodSpec kOpen{"open",
                           {{"root"}},
                           "Open an existing folder. Raises `OSError` if the folder or\n"
                           "`metadata.json` is missing, `ValueError` for any format / schema\n"
                           "failure (mismatched cortex_type, dangling edges, unsupported\n"
                           "version, etc.).",
                           MethodSpec::Binding::Static};

PyObject* cortex_open(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    CallArgs<kOpen> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    std::string_view root;
    if (!arg_text(a[0], "root", root) || !check_root(root))
        return nullptr;
    auto opened = Cortex::open(std::string(root));
    if (!opened)
        return raise_error(opened.error());
    return wrap_handle(std::move(*opened));
}

constexpr MethodSpec kCreate{
    "create",
    {{"root"},
     {"name"},
     {"cortex_type"},
     {"now_rfc3339"},
     {"defaults_neuron_kind", "None"},
     {"defaults_synapse_kind", "None"},
     {"source_root", "None"},
     {"hh_config", "None"}},
    "Create a brand-new folder. `defaults_neuron_kind` selects the\n"
    "network's default neuron type: it must be \"lif\" or \"hh\" matching\n"
    "`cortex_type`, or \"lif\" together with cortex_type \"knowledge-graph\".\n"
    "`hh_config` is opaque JSON text stored in `metadata.json`.",
    MethodSpec::Binding::Static};

PyObject* cortex_create(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    CallArgs<kCreate> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    std::string_view root, name, cortex_type, now;
    std::optional<std::string_view> neuron_kind, synapse_kind, source_root, hh_text;
    if (!arg_text(a[0], "root", root) || !arg_text(a[1], "name", name) ||
        !arg_text(a[2], "cortex_type", cortex_type) || !arg_text(a[3], "now_rfc3339", now) ||
        !arg_optional_text(a[4], "defaults_neuron_kind", neuron_kind) ||
        !arg_optional_text(a[5], "defaults_synapse_kind", synapse_kind) ||
        !arg_optional_text(a[6], "source_root", source_root) ||
        !arg_optional_text(a[7], "hh_config", hh_text) || !check_root(root))
        return nullptr;
    // Absent kinds and source_root take the store's defaults: the neuron kind
    // follows cortex_type ("hh" for "hh", else "lif"), the synapse kind is
    // "stdp" and source_root is the root text.
    CreateOptions options{
        .defaults_neuron_kind = to_owned(neuron_kind),
        .defaults_synapse_kind = to_owned(synapse_kind),
        .source_root = to_owned(source_root),
        .hh_config = std::nullopt,
    };
    // Parsed before the store runs, so malformed text leaves the disk untouched.
    if (hh_text) {
        auto parsed = parse_json_value(*hh_text);
        if (!parsed)
            return raise_value_error("hh_config must be JSON: " + parsed.error().message());
        options.hh_config = std::move(*parsed);
    }
    auto created = Cortex::create(std::string(root), std::string(name), std::string(cortex_type),
                                  std::string(now), std::move(options));
    if (!created)
        return raise_error(created.error());
    return wrap_handle(std::move(*created));
}

// ---- properties and representation --------------------------------------

// A property getter reading one text field of the handle under a shared borrow.
template <std::string_view (*Field)(const Cortex&)>
PyObject* text_property(PyObject* self, void*) {
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_shared(cortex->borrow);
    if (!guard)
        return nullptr;
    return text_to_py(Field(cortex->handle));
}

std::string_view root_of(const Cortex& c) {
    return c.root();
}
std::string_view type_of(const Cortex& c) {
    return c.metadata().cortex_type;
}
std::string_view name_of(const Cortex& c) {
    return c.metadata().name;
}
std::string_view created_of(const Cortex& c) {
    return c.metadata().created_at;
}
std::string_view updated_of(const Cortex& c) {
    return c.metadata().updated_at;
}

PyObject* cortex_get_id(PyObject* self, void*) {
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_shared(cortex->borrow);
    if (!guard)
        return nullptr;
    return id_to_py(cortex->handle.metadata().id);
}

PyObject* cortex_repr(PyObject* self) {
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_shared(cortex->borrow);
    if (!guard)
        return nullptr;
    const Cortex& c = cortex->handle;
    PyObject* root = text_to_py(c.root());
    if (root == nullptr)
        return nullptr;
    PyObject* repr = PyUnicode_FromFormat("Cortex(root=%U, cortex_type=%s, nodes=%zu, edges=%zu)",
                                          root, c.metadata().cortex_type.c_str(),
                                          c.topology().nodes.size(), c.topology().edges.size());
    Py_DECREF(root);
    return repr;
}

// ---- reading the graph --------------------------------------------------

template <typename Items>
PyObject* id_list(const Items& items) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(items.size()));
    if (list == nullptr)
        return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* id = id_to_py(items[i].id);
        if (id == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), id);
    }
    return list;
}

PyObject* cortex_node_ids(PyObject* self, PyObject*) {
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_shared(cortex->borrow);
    if (!guard)
        return nullptr;
    return id_list(cortex->handle.topology().nodes);
}

PyObject* cortex_edge_ids(PyObject* self, PyObject*) {
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_shared(cortex->borrow);
    if (!guard)
        return nullptr;
    return id_list(cortex->handle.topology().edges);
}

PyObject* cortex_n_nodes(PyObject* self, PyObject*) {
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_shared(cortex->borrow);
    if (!guard)
        return nullptr;
    return PyLong_FromSize_t(cortex->handle.topology().nodes.size());
}

PyObject* cortex_n_edges(PyObject* self, PyObject*) {
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_shared(cortex->borrow);
    if (!guard)
        return nullptr;
    return PyLong_FromSize_t(cortex->handle.topology().edges.size());
}

// The kind text of a spec, or None when the item follows the network default.
template <typename Spec>
PyObject* kind_to_py(const std::optional<Spec>& spec) {
    return spec ? text_to_py(spec->kind) : Py_NewRef(Py_None);
}

PyObject* node_tuple(const TopologyNode& node) {
    PyObject* id = id_to_py(node.id);
    PyObject* label = text_to_py(node.label);
    PyObject* kind = kind_to_py(node.kind);
    PyObject* tuple = nullptr;
    if (id != nullptr && label != nullptr && kind != nullptr)
        tuple = PyTuple_Pack(3, id, label, kind);
    Py_XDECREF(id);
    Py_XDECREF(label);
    Py_XDECREF(kind);
    return tuple;
}

PyObject* edge_tuple(const TopologyEdge& edge) {
    PyObject* items[6] = {
        id_to_py(edge.id),
        id_to_py(edge.pre),
        id_to_py(edge.post),
        PyFloat_FromDouble(edge.init_weight),
        PyFloat_FromDouble(edge.delay_ms),
        kind_to_py(edge.kind),
    };
    PyObject* tuple = nullptr;
    bool complete = true;
    for (PyObject* item : items)
        complete = complete && item != nullptr;
    if (complete)
        tuple = PyTuple_Pack(6, items[0], items[1], items[2], items[3], items[4], items[5]);
    for (PyObject* item : items)
        Py_XDECREF(item);
    return tuple;
}

template <typename Items, typename MakeTuple>
PyObject* tuple_list(const Items& items, MakeTuple make_tuple) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(items.size()));
    if (list == nullptr)
        return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* tuple = make_tuple(items[i]);
        if (tuple == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), tuple);
    }
    return list;
}

PyObject* cortex_nodes(PyObject* self, PyObject*) {
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_shared(cortex->borrow);
    if (!guard)
        return nullptr;
    return tuple_list(cortex->handle.topology().nodes, node_tuple);
}

PyObject* cortex_edges(PyObject* self, PyObject*) {
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_shared(cortex->borrow);
    if (!guard)
        return nullptr;
    return tuple_list(cortex->handle.topology().edges, edge_tuple);
}

// ---- folder-level operations -------------------------------------------

constexpr MethodSpec kRename{"rename", {{"new_name"}, {"now_rfc3339"}}, ""};

PyObject* cortex_rename(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
    CallArgs<kRename> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    CortexObject* cortex = as_cortex(self);
    auto guard = borrow_exclusive(cortex->borrow);
    if (!guard)
        return nullptr;
    std::string_view name;
    std::string_view now;
    if (!arg_text(a[0], "new_name", name) || !arg_text(a[1], "now_rfc3339", now))
        return nullptr;
    auto renamed = cortex->handle.rename(std::string(name), std::string(now));
    if (!renamed)
        return raise_error(renamed.error());
    Py_RETURN_NONE;
}

PyObject* cortex_save(PyObject* self, PyObject*) {
    CortexObject* cortex = as_cortex(self);
    // Exclusive: a save records the versions it wrote in the handle.
    auto guard = borrow_exclusive(cortex->borrow);
    if (!guard)
        return nullptr;
    auto saved = cortex->handle.save();
    if (!saved)
        return raise_error(saved.error());
    Py_RETURN_NONE;
}

// ---- type object --------------------------------------------------------

// The methods in the order help() lists them; built once at registration.
std::vector<PyMethodDef> cortex_methods() {
    std::vector<PyMethodDef> t = {
        method_def(kOpen, guarded<cortex_open>),
        method_def(kCreate, guarded<cortex_create>),
    };
    add_cortex_state_methods(t);
    t.insert(t.end(),
             {
                 {"node_ids", as_cfunction(guarded<cortex_node_ids>), METH_NOARGS,
                  "node_ids($self)\n--\n\n"},
                 {"list_nodes", as_cfunction(guarded<cortex_node_ids>), METH_NOARGS,
                  "list_nodes($self)\n--\n\n"},
                 {"edge_ids", as_cfunction(guarded<cortex_edge_ids>), METH_NOARGS,
                  "edge_ids($self)\n--\n\n"},
                 {"list_synapses", as_cfunction(guarded<cortex_edge_ids>), METH_NOARGS,
                  "list_synapses($self)\n--\n\n"},
                 {"n_nodes", as_cfunction(guarded<cortex_n_nodes>), METH_NOARGS,
                  "n_nodes($self)\n--\n\n"},
                 {"n_edges", as_cfunction(guarded<cortex_n_edges>), METH_NOARGS,
                  "n_edges($self)\n--\n\n"},
                 {"nodes", as_cfunction(guarded<cortex_nodes>), METH_NOARGS, kCortexNodesDoc},
                 {"edges", as_cfunction(guarded<cortex_edges>), METH_NOARGS, kCortexEdgesDoc},
             });
    add_edit_methods(t);
    t.push_back(method_def(kRename, guarded<cortex_rename>));
    t.push_back({"save", as_cfunction(guarded<cortex_save>), METH_NOARGS, "save($self)\n--\n\n"});
    add_weight_methods(t);
    t.push_back({nullptr, nullptr, 0, nullptr});
    return t;
}

PyGetSetDef kCortexGetSet[] = {
    {"root", guarded<text_property<root_of>>, nullptr, nullptr, nullptr},
    {"cortex_type", guarded<text_property<type_of>>, nullptr, nullptr, nullptr},
    {"name", guarded<text_property<name_of>>, nullptr, nullptr, nullptr},
    {"id", guarded<cortex_get_id>, nullptr, nullptr, nullptr},
    {"created_at", guarded<text_property<created_of>>, nullptr, nullptr, nullptr},
    {"updated_at", guarded<text_property<updated_of>>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// clang-format off
PyTypeObject kCortexType = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "vorn_py.Cortex",
    .tp_basicsize = sizeof(CortexObject),
    .tp_itemsize = 0,
    .tp_dealloc = cortex_dealloc,
    .tp_repr = guarded<cortex_repr>,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = kCortexDoc,
    .tp_methods = nullptr,
    .tp_getset = kCortexGetSet,
    .tp_new = no_constructor,
};
// clang-format on

PyObject* wrap_handle(Cortex&& handle) {
    PyObject* self = kCortexType.tp_alloc(&kCortexType, 0);
    if (self == nullptr)
        return nullptr;
    CortexObject* cortex = as_cortex(self);
    new (&cortex->handle) Cortex(std::move(handle));
    new (&cortex->borrow) BorrowFlag();
    return self;
}

}  // namespace

PyTypeObject* cortex_type() {
    return &kCortexType;
}

int register_cortex(PyObject* module) {
    static std::vector<PyMethodDef> methods = cortex_methods();
    kCortexType.tp_methods = methods.data();
    if (PyType_Ready(&kCortexType) < 0)
        return -1;
    return add_attribute(module, "Cortex", reinterpret_cast<PyObject*>(&kCortexType));
}

}  // namespace vorn::py
