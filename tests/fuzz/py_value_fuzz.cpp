// Conversion of Python values to JSON values and back, inside an embedded
// interpreter. Each input builds one Python value (grammar in
// py_value_grammar.hpp) together with the JSON value the conversion must
// produce, or the error it must raise. The conversion agrees with that
// expectation, never crashes or trips a sanitizer, and converting the result
// back to Python and again to JSON gives the same value.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <variant>

#include "fuzz_check.hpp"
#include "py_value_grammar.hpp"
#include "python/convert.hpp"

using namespace vorn;
using vorn::fuzz::PyTag;

namespace {

// Nesting at which the conversion refuses a container (RecursionError).
constexpr int kMaxConvertDepth = 512;

// What converting a value must give: the JSON value, or the failure.
enum class Failure { None, NotJson, NotFinite, DictKey, TooDeep };

struct Expected {
    Failure failure = Failure::None;
    JsonValue value;
};

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint64_t u64() {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= static_cast<std::uint64_t>(byte()) << (8 * i);
        return v;
    }
    std::string bytes(std::size_t n) {
        std::string out;
        while (n-- > 0 && !empty())
            out.push_back(static_cast<char>(byte()));
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

PyObject* g_float_like = nullptr;  // class FloatLike: __float__ returns self.v

// The first failure wins, as in the depth-first walk.
void fail(Expected& e, Failure f) {
    if (e.failure == Failure::None)
        e.failure = f;
}

// Builds the next value. Returns a new reference (nullptr only when the
// interpreter itself failed) and fills expected. depth counts enclosing
// containers; budget bounds the number of values per input.
PyObject* build(Reader& in, Expected& expected, int depth, int& budget);

PyObject* build_number_like(double d, Expected& expected) {
    if (std::isfinite(d))
        expected.value = JsonValue::number(d);
    else
        fail(expected, Failure::NotFinite);
    return PyFloat_FromDouble(d);
}

PyObject* build_int_from_bytes(const std::string& raw, Expected& expected) {
    PyObject* value =
        PyLong_FromNativeBytes(raw.data(), raw.size(), Py_ASNATIVEBYTES_LITTLE_ENDIAN);
    if (value == nullptr)
        return nullptr;
    int overflow = 0;
    long long s = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow == 0) {
        expected.value = JsonValue::signed_int(s);
    } else if (overflow > 0) {
        unsigned long long u = PyLong_AsUnsignedLongLong(value);
        if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
            PyErr_Clear();
            double d = PyLong_AsDouble(value);
            if (d == -1.0 && PyErr_Occurred()) {
                PyErr_Clear();
                fail(expected, Failure::NotJson);  // too large even for a double
            } else {
                expected.value = JsonValue::number(d);
            }
        } else {
            expected.value = JsonValue::unsigned_int(u);
        }
    } else {
        double d = PyLong_AsDouble(value);
        if (d == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            fail(expected, Failure::NotJson);
        } else {
            expected.value = JsonValue::number(d);
        }
    }
    return value;
}

PyObject* build_str(const std::string& raw, Expected& expected, bool as_key) {
    PyObject* value =
        PyUnicode_DecodeUTF8(raw.data(), static_cast<Py_ssize_t>(raw.size()), "surrogatepass");
    if (value == nullptr) {
        PyErr_Clear();
        value = PyUnicode_DecodeLatin1(raw.data(), static_cast<Py_ssize_t>(raw.size()), nullptr);
    }
    if (value == nullptr)
        return nullptr;
    Py_ssize_t n = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value, &n);
    if (utf8 == nullptr) {
        // Lone surrogates have no UTF-8 form, so the text is not JSON text.
        PyErr_Clear();
        fail(expected, as_key ? Failure::DictKey : Failure::NotJson);
    } else {
        expected.value = JsonValue::string(std::string(utf8, static_cast<std::size_t>(n)));
    }
    return value;
}

PyObject* build_container(Reader& in, PyTag tag, Expected& expected, int depth, int& budget) {
    if (depth >= kMaxConvertDepth)
        fail(expected, Failure::TooDeep);
    const std::size_t count = in.byte() % 8;
    if (tag == PyTag::Dict) {
        PyObject* dict = PyDict_New();
        JsonObject object;
        for (std::size_t i = 0; i < count && dict != nullptr && budget > 0; ++i) {
            Expected key_expected;
            PyObject* key = build(in, key_expected, depth + 1, budget);
            if (key == nullptr) {
                Py_CLEAR(dict);
                break;
            }
            Expected value_expected;
            PyObject* value = build(in, value_expected, depth + 1, budget);
            if (value == nullptr || PyObject_Hash(key) == -1) {
                // An unhashable key (a list, a dict) cannot enter a dict.
                PyErr_Clear();
                Py_DECREF(key);
                Py_XDECREF(value);
                continue;
            }
            int present = PyDict_Contains(dict, key);
            if (present != 0 || PyDict_SetItem(dict, key, value) < 0) {
                // A repeated key: the dict keeps one entry, in its first place.
                PyErr_Clear();
                Py_DECREF(key);
                Py_DECREF(value);
                continue;
            }
            // Keys are walked in insertion order: key first, then its value.
            if (!PyUnicode_Check(key))
                fail(expected, Failure::DictKey);
            else if (key_expected.failure != Failure::None)
                fail(expected, Failure::DictKey);
            fail(expected, value_expected.failure);
            if (expected.failure == Failure::None)
                object.insert_or_assign(key_expected.value.as_string(),
                                        std::move(value_expected.value));
            Py_DECREF(key);
            Py_DECREF(value);
        }
        if (expected.failure == Failure::None)
            expected.value = JsonValue(std::move(object));
        return dict;
    }
    PyObject* list = PyList_New(0);
    JsonArray array;
    for (std::size_t i = 0; i < count && list != nullptr && budget > 0; ++i) {
        Expected item_expected;
        PyObject* item = build(in, item_expected, depth + 1, budget);
        if (item == nullptr || PyList_Append(list, item) < 0)
            Py_CLEAR(list);
        Py_XDECREF(item);
        fail(expected, item_expected.failure);
        if (expected.failure == Failure::None)
            array.push_back(std::move(item_expected.value));
    }
    if (expected.failure == Failure::None)
        expected.value = JsonValue(std::move(array));
    if (list == nullptr || tag == PyTag::List)
        return list;
    PyObject* tuple = PyList_AsTuple(list);
    Py_DECREF(list);
    return tuple;
}

PyObject* build(Reader& in, Expected& expected, int depth, int& budget) {
    --budget;
    const auto tag = static_cast<PyTag>(in.byte() % static_cast<std::uint8_t>(PyTag::Count));
    switch (tag) {
        case PyTag::None:
            expected.value = JsonValue::null();
            return Py_NewRef(Py_None);
        case PyTag::Bool: {
            const bool b = in.byte() & 1;
            expected.value = JsonValue::boolean(b);
            return PyBool_FromLong(b);
        }
        case PyTag::Int64: {
            const auto v = static_cast<std::int64_t>(in.u64());
            expected.value = JsonValue::signed_int(v);
            return PyLong_FromLongLong(v);
        }
        case PyTag::BigInt:
            return build_int_from_bytes(in.bytes(in.byte()), expected);
        case PyTag::Float: {
            const std::uint64_t bits = in.u64();
            double d;
            std::memcpy(&d, &bits, sizeof d);
            return build_number_like(d, expected);
        }
        case PyTag::Str:
            return build_str(in.bytes(in.byte()), expected, false);
        case PyTag::Bytes: {
            const std::string raw = in.bytes(in.byte());
            fail(expected, Failure::NotJson);
            return PyBytes_FromStringAndSize(raw.data(), static_cast<Py_ssize_t>(raw.size()));
        }
        case PyTag::List:
        case PyTag::Tuple:
        case PyTag::Dict:
            return build_container(in, tag, expected, depth, budget);
        case PyTag::Nest: {
            const int levels = in.byte() | (in.byte() << 2);  // up to 1023
            budget -= levels;
            Expected inner;
            PyObject* value = build(in, inner, depth + levels, budget);
            // The innermost list is at depth + levels - 1.
            for (int level = levels - 1; level >= 0 && value != nullptr; --level) {
                if (depth + level >= kMaxConvertDepth)
                    inner.failure = Failure::TooDeep;
                PyObject* list = PyList_New(1);
                if (list == nullptr) {
                    Py_DECREF(value);
                    return nullptr;
                }
                PyList_SET_ITEM(list, 0, value);
                value = list;
                if (inner.failure == Failure::None) {
                    JsonArray wrapped;
                    wrapped.push_back(std::move(inner.value));
                    inner.value = JsonValue(std::move(wrapped));
                }
            }
            fail(expected, inner.failure);
            expected.value = std::move(inner.value);
            return value;
        }
        case PyTag::FloatLike: {
            const std::uint64_t bits = in.u64();
            double d;
            std::memcpy(&d, &bits, sizeof d);
            PyObject* number = build_number_like(d, expected);
            if (number == nullptr)
                return nullptr;
            PyObject* obj = PyObject_CallNoArgs(g_float_like);
            if (obj != nullptr && PyObject_SetAttrString(obj, "v", number) < 0)
                Py_CLEAR(obj);
            Py_DECREF(number);
            return obj;
        }
        case PyTag::Count:
            break;
    }
    return Py_NewRef(Py_None);
}

std::optional<Failure> failure_of_pending_error() {
    if (PyErr_ExceptionMatches(PyExc_RecursionError)) {
        PyErr_Clear();
        return Failure::TooDeep;
    }
    if (!PyErr_ExceptionMatches(PyExc_ValueError))
        return std::nullopt;
    PyObject* exc = PyErr_GetRaisedException();
    PyObject* text = PyObject_Str(exc);
    Py_DECREF(exc);
    const char* message = text != nullptr ? PyUnicode_AsUTF8(text) : nullptr;
    std::optional<Failure> out;
    if (message == nullptr)
        out = std::nullopt;
    else if (std::strcmp(message, py::kNotJsonMessage) == 0)
        out = Failure::NotJson;
    else if (std::strcmp(message, py::kNotFiniteMessage) == 0)
        out = Failure::NotFinite;
    else if (std::strcmp(message, py::kDictKeyMessage) == 0)
        out = Failure::DictKey;
    Py_XDECREF(text);
    PyErr_Clear();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    PyConfig config;
    PyConfig_InitIsolatedConfig(&config);
    config.install_signal_handlers = 0;  // the fuzzer's own handlers stay
    PyStatus status = PyConfig_SetBytesString(&config, &config.home, VORN_PYTHON_HOME);
    if (!PyStatus_Exception(status))
        status = Py_InitializeFromConfig(&config);
    PyConfig_Clear(&config);
    fuzz::check(!PyStatus_Exception(status), "the embedded interpreter starts");
    PyObject* globals = PyDict_New();
    PyObject* done =
        PyRun_String("class FloatLike:\n    def __float__(self):\n        return self.v\n",
                     Py_file_input, globals, globals);
    fuzz::check(done != nullptr, "FloatLike is defined");
    Py_DECREF(done);
    g_float_like = Py_NewRef(PyDict_GetItemString(globals, "FloatLike"));
    Py_DECREF(globals);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    Expected expected;
    int budget = 2000;
    PyObject* value = build(in, expected, 0, budget);
    if (value == nullptr) {
        PyErr_Clear();
        return 0;
    }
    JsonValue converted;
    const bool ok = py::py_to_json(value, converted);
    Py_DECREF(value);
    if (!ok) {
        auto failure = failure_of_pending_error();
        FUZZ_CHECK(failure.has_value());
        FUZZ_CHECK(*failure == expected.failure);
        return 0;
    }
    FUZZ_CHECK(expected.failure == Failure::None);
    FUZZ_CHECK(converted == expected.value);
    PyObject* back = py::json_to_py(converted);
    FUZZ_CHECK(back != nullptr);
    JsonValue again;
    FUZZ_CHECK(py::py_to_json(back, again));
    Py_DECREF(back);
    FUZZ_CHECK(again == converted);
    return 0;
}
