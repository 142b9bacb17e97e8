#pragma once
// Conversion of already-parsed method arguments to core values. Every
// function returns true on success; on failure it returns false with the
// Python exception set. A TypeError raised while converting is re-raised as
// TypeError "argument '{name}': {message}" whose __cause__ is the original;
// other exceptions (OverflowError, RuntimeError from re-entry) pass through.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/util/uuid.hpp"

namespace vorn::py {

// An exact float is read directly; anything else goes through the
// interpreter's float conversion (__float__, then __index__).
bool arg_double(PyObject* obj, const char* name, double& out);
// arg_double narrowed to single precision (round to nearest).
bool arg_float(PyObject* obj, const char* name, float& out);
// nullptr (omitted) and None leave out empty.
bool arg_optional_float(PyObject* obj, const char* name, std::optional<float>& out);

// int or any object with __index__. Negative or too large values raise the
// interpreter's OverflowError unchanged.
bool arg_u64(PyObject* obj, const char* name, std::uint64_t& out);

// str only. The view points into the str's UTF-8 cache and lives as long as obj.
bool arg_text(PyObject* obj, const char* name, std::string_view& out);
bool arg_optional_text(PyObject* obj, const char* name, std::optional<std::string_view>& out);

// Any sequence except str. Returns a new reference to a tuple snapshot of the
// items, or nullptr with the exception set.
PyObject* arg_sequence(PyObject* obj, const char* name);
// A sequence (not str) of unsigned 64-bit integers.
bool arg_u64_list(PyObject* obj, const char* name, std::vector<std::uint64_t>& out);

// A bytes object (not bytearray or another buffer), read in place; the span
// lives as long as obj.
bool arg_bytes(PyObject* obj, const char* name, std::span<const std::uint8_t>& out);

// Parses id text; failure raises ValueError "{name} must be a UUID string: {fault}".
bool parse_uuid(std::string_view text, const char* name, Uuid& out);

// An id argument, taken in two steps because methods check the type of every
// argument (in parameter order) before they parse any id text: read() or
// read_optional() runs with the other conversions, parse() afterwards. The
// text stays viewable for messages that quote the caller's spelling.
class IdArg {
  public:
    explicit IdArg(const char* name) : name_(name) {}

    // A str; anything else is an argument error.
    bool read(PyObject* obj);
    // A str, or None / omitted for no id.
    bool read_optional(PyObject* obj);

    bool present() const { return text_.has_value(); }
    std::string_view text() const { return *text_; }

    // The text as a UUID (parse_uuid's ValueError on failure); the id must
    // be present.
    bool parse(Uuid& out) const;
    // As parse, leaving out empty when there is no id.
    bool parse(std::optional<Uuid>& out) const;

  private:
    const char* name_;
    std::optional<std::string_view> text_;
};

// Re-raises a pending TypeError as "argument '{name}': {message}" with the
// original as __cause__; leaves any other pending exception alone. Always
// returns false so converters can `return argument_error(name)`.
bool argument_error(const char* name);

}  // namespace vorn::py
