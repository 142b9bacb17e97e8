#include "python/seeds.hpp"

#include <cstdint>
#include <expected>
#include <optional>
#include <utility>
#include <vector>

#include "core/seeds/generators.hpp"
#include "python/arg_spec.hpp"
#include "python/args.hpp"
#include "python/attrs.hpp"
#include "python/errors.hpp"
#include "python/seed.hpp"

namespace vorn::py {
namespace {

constexpr const char kSeedsDoc[] =
    "Seed networks: deterministic generators of pre-built networks, each\n"
    "returning a `Seed` to be applied with `Cortex.apply_seed`.";

// The optional arguments every generator shares, converted in signature order
// after the generator's own arguments.
struct CommonArgs {
    std::uint64_t seed = 0;
    std::optional<float> weight_lo;
    std::optional<float> weight_hi;
    std::optional<float> delay_ms;
};

bool convert_common(PyObject* seed_arg, PyObject* lo_arg, PyObject* hi_arg, PyObject* delay_arg,
                    CommonArgs& out) {
    return (seed_arg == nullptr || arg_u64(seed_arg, "seed", out.seed)) &&
           arg_optional_float(lo_arg, "weight_lo", out.weight_lo) &&
           arg_optional_float(hi_arg, "weight_hi", out.weight_hi) &&
           arg_optional_float(delay_arg, "delay_ms", out.delay_ms);
}

// The weight range is taken only when both bounds are given; a lone bound is
// ignored so that the range never mixes a caller's bound with a default one.
SeedParams make_params(const CommonArgs& args) {
    SeedParams params;
    if (args.weight_lo && args.weight_hi) {
        params.weight_lo = *args.weight_lo;
        params.weight_hi = *args.weight_hi;
    }
    if (args.delay_ms)
        params.delay_ms = *args.delay_ms;
    return params;
}

PyObject* seed_result(std::expected<Seed, SeedError>&& generated) {
    if (!generated)
        return raise_error(generated.error());
    return new_seed(std::move(*generated));
}

constexpr MethodSpec kRandomSeed{
    "random_seed",
    {{"n"},
     {"p"},
     {"seed", "0"},
     {"weight_lo", "None"},
     {"weight_hi", "None"},
     {"delay_ms", "None"}},
    "`vorn_py.seeds.random(n, p, seed=0, weight_lo=0.4, weight_hi=0.6, delay_ms=1.0)`",
    MethodSpec::Binding::Function};

PyObject* random_seed(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    CallArgs<kRandomSeed> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    std::uint64_t n = 0;
    float p = 0.0f;
    CommonArgs common;
    if (!arg_u64(a[0], "n", n) || !arg_float(a[1], "p", p) ||
        !convert_common(a[2], a[3], a[4], a[5], common))
        return nullptr;
    return seed_result(vorn::random(n, p, common.seed, make_params(common)));
}

constexpr MethodSpec kRingSeed{
    "ring_seed",
    {{"n"},
     {"k"},
     {"seed", "0"},
     {"weight_lo", "None"},
     {"weight_hi", "None"},
     {"delay_ms", "None"}},
    "`vorn_py.seeds.ring(n, k, seed=0, weight_lo=..., weight_hi=..., delay_ms=...)`",
    MethodSpec::Binding::Function};

PyObject* ring_seed(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    CallArgs<kRingSeed> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    std::uint64_t n = 0;
    std::uint64_t k = 0;
    CommonArgs common;
    if (!arg_u64(a[0], "n", n) || !arg_u64(a[1], "k", k) ||
        !convert_common(a[2], a[3], a[4], a[5], common))
        return nullptr;
    return seed_result(vorn::ring(n, k, common.seed, make_params(common)));
}

constexpr MethodSpec kSmallWorldSeed{"small_world_seed",
                                     {{"n"},
                                      {"k"},
                                      {"p_rewire"},
                                      {"seed", "0"},
                                      {"weight_lo", "None"},
                                      {"weight_hi", "None"},
                                      {"delay_ms", "None"}},
                                     "`vorn_py.seeds.small_world(n, k, p_rewire, seed=0, ...)`",
                                     MethodSpec::Binding::Function};

PyObject* small_world_seed(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    CallArgs<kSmallWorldSeed> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    std::uint64_t n = 0;
    std::uint64_t k = 0;
    float p_rewire = 0.0f;
    CommonArgs common;
    if (!arg_u64(a[0], "n", n) || !arg_u64(a[1], "k", k) ||
        !arg_float(a[2], "p_rewire", p_rewire) || !convert_common(a[3], a[4], a[5], a[6], common))
        return nullptr;
    return seed_result(vorn::small_world(n, k, common.seed, make_params(common), p_rewire));
}

constexpr MethodSpec kLayeredSeed{
    "layered_seed",
    {{"layers"}, {"seed", "0"}, {"weight_lo", "None"}, {"weight_hi", "None"}, {"delay_ms", "None"}},
    "`vorn_py.seeds.layered(layers, seed=0, ...)` \u2014 layers is a list\n"
    "of layer sizes, e.g. `[2, 5, 1]`.",
    MethodSpec::Binding::Function};

PyObject* layered_seed(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    CallArgs<kLayeredSeed> a;
    if (!a.bind(args, nargs, kwnames))
        return nullptr;
    std::vector<std::uint64_t> layers;
    CommonArgs common;
    if (!arg_u64_list(a[0], "layers", layers) || !convert_common(a[1], a[2], a[3], a[4], common))
        return nullptr;
    return seed_result(vorn::layered(layers, common.seed, make_params(common)));
}

constexpr const char* kAliases[][2] = {
    {"random_seed", "random"},
    {"ring_seed", "ring"},
    {"small_world_seed", "small_world"},
    {"layered_seed", "layered"},
};

PyModuleDef kSeedsDef = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "seeds",
    .m_doc = kSeedsDoc,
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

// Adds obj to module under the name read from obj's own __name__.
int add_under_own_name(PyObject* module, PyObject* obj) {
    PyObject* name = PyObject_GetAttrString(obj, "__name__");
    if (name == nullptr)
        return -1;
    const char* text = PyUnicode_AsUTF8(name);
    int rc = text == nullptr ? -1 : add_attribute(module, text, obj);
    Py_DECREF(name);
    return rc;
}

int add_functions(PyObject* seeds) {
    // Static: the function objects keep pointers to these entries for the
    // life of the process.
    static PyMethodDef functions[] = {
        method_def(kRandomSeed, guarded<random_seed>),
        method_def(kRingSeed, guarded<ring_seed>),
        method_def(kSmallWorldSeed, guarded<small_world_seed>),
        method_def(kLayeredSeed, guarded<layered_seed>),
    };
    PyObject* module_name = PyModule_GetNameObject(seeds);
    if (module_name == nullptr)
        return -1;
    for (PyMethodDef& def : functions) {
        // Bound to the module like functions of an ordinary extension module,
        // so __module__ reads "seeds".
        PyObject* fn = PyCFunction_NewEx(&def, seeds, module_name);
        if (fn == nullptr) {
            Py_DECREF(module_name);
            return -1;
        }
        int rc = add_under_own_name(seeds, fn);
        Py_DECREF(fn);
        if (rc < 0) {
            Py_DECREF(module_name);
            return -1;
        }
    }
    Py_DECREF(module_name);
    return 0;
}

// Each short name is bound to the very object found under the long name.
int add_aliases(PyObject* seeds) {
    for (const auto& [long_name, short_name] : kAliases) {
        PyObject* fn = PyObject_GetAttrString(seeds, long_name);
        if (fn == nullptr)
            return -1;
        int rc = add_attribute(seeds, short_name, fn);
        Py_DECREF(fn);
        if (rc < 0)
            return -1;
    }
    return 0;
}

}  // namespace

int register_seeds(PyObject* module) {
    // Only an attribute of the parent: never entered in sys.modules, so
    // `import vorn_py.seeds` fails while `from vorn_py import seeds` works.
    PyObject* seeds = PyModule_Create(&kSeedsDef);
    if (seeds == nullptr)
        return -1;
    int rc = -1;
    if (register_seed_type(seeds) == 0 && add_functions(seeds) == 0 && add_aliases(seeds) == 0)
        rc = add_under_own_name(module, seeds);
    Py_DECREF(seeds);
    return rc;
}

}  // namespace vorn::py
