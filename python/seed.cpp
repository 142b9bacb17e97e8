#include "python/seed.hpp"

#include <new>
#include <utility>

#include "python/attrs.hpp"
#include "python/errors.hpp"

namespace vorn::py {
namespace {

constexpr const char kSeedDoc[] =
    "A pre-built seed network, made by `vorn_py.seeds.random`, `.ring`,\n"
    "`.small_world` or `.layered` and applied with `Cortex.apply_seed`.\n"
    "\n"
    "Applying empties the object, so a second apply raises `ValueError`.\n"
    "Applying the same network twice would otherwise reuse its identifiers\n"
    "and fail later in duplicate-id validation; emptying turns that into an\n"
    "immediate error.";

PySeed* as_seed(PyObject* self) {
    return reinterpret_cast<PySeed*>(self);
}

void seed_dealloc(PyObject* self) {
    PySeed* seed = as_seed(self);
    seed->borrow.~BorrowFlag();
    seed->record.~optional();
    Py_TYPE(self)->tp_free(self);
}

PyObject* seed_get_n_nodes(PyObject* self, void*) {
    PySeed* seed = as_seed(self);
    auto guard = borrow_shared(seed->borrow);
    if (!guard)
        return nullptr;
    return PyLong_FromSize_t(seed->record ? seed->record->nodes.size() : 0);
}

PyObject* seed_get_n_edges(PyObject* self, void*) {
    PySeed* seed = as_seed(self);
    auto guard = borrow_shared(seed->borrow);
    if (!guard)
        return nullptr;
    return PyLong_FromSize_t(seed->record ? seed->record->edges.size() : 0);
}

PyObject* seed_repr(PyObject* self) {
    PySeed* seed = as_seed(self);
    auto guard = borrow_shared(seed->borrow);
    if (!guard)
        return nullptr;
    if (!seed->record)
        return PyUnicode_FromString("Seed(applied)");
    return PyUnicode_FromFormat("Seed(n_nodes=%zu, n_edges=%zu)", seed->record->nodes.size(),
                                seed->record->edges.size());
}

PyGetSetDef kSeedGetSet[] = {
    {"n_nodes", guarded<seed_get_n_nodes>, nullptr, nullptr, nullptr},
    {"n_edges", guarded<seed_get_n_edges>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// clang-format off
PyTypeObject kSeedType = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "seeds.Seed",
    .tp_basicsize = sizeof(PySeed),
    .tp_itemsize = 0,
    .tp_dealloc = seed_dealloc,
    .tp_repr = guarded<seed_repr>,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = kSeedDoc,
    .tp_getset = kSeedGetSet,
    .tp_new = no_constructor,
};
// clang-format on

}  // namespace

PyTypeObject* seed_type() {
    return &kSeedType;
}

bool is_seed(PyObject* obj) {
    return PyObject_TypeCheck(obj, &kSeedType);
}

PyObject* new_seed(Seed&& record) {
    PyObject* self = kSeedType.tp_alloc(&kSeedType, 0);
    if (self == nullptr)
        return nullptr;
    PySeed* seed = as_seed(self);
    new (&seed->record) std::optional<Seed>(std::move(record));
    new (&seed->borrow) BorrowFlag();
    return self;
}

int register_seed_type(PyObject* module) {
    if (PyType_Ready(&kSeedType) < 0)
        return -1;
    return add_attribute(module, "Seed", reinterpret_cast<PyObject*>(&kSeedType));
}

}  // namespace vorn::py
