#pragma once
// JsonWriter: appends JSON text to one growing string, pretty-printed (two
// spaces per level, ": " after keys, "[]" and "{}" when empty) or compact.
// Strings must be valid UTF-8 and nesting at most kMaxJsonDepth deep; the
// first fault is recorded as an error and the caller discards the output.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/errors.hpp"
#include "core/util/json_value.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

class JsonWriter {
  public:
    JsonWriter(std::string& out, bool pretty);

    void begin_object();
    void end_object();
    void begin_array();
    void end_array();
    // Writes the member name; the next call writes its value.
    void key(std::string_view name);

    void null();
    void boolean(bool b);
    void unsigned_int(std::uint64_t u);
    void signed_int(std::int64_t i);
    void f32(float v);   // shortest f32 digits; null when not finite
    void f64(double v);  // shortest f64 digits; null when not finite
    void string(std::string_view s);
    void uuid(const Uuid& id);  // canonical 36-character text
    // Any value; object members come out in the object's (ascending) key order.
    void value(const JsonValue& v);

    // The first error met (ill-formed UTF-8, nesting too deep), if any.
    const std::optional<JsonError>& error() const { return error_; }

  private:
    // Records an error when one more container would nest deeper than a
    // reader accepts.
    void check_depth();
    void before_value();
    void newline_indent(std::size_t depth);
    void write_escaped(std::string_view s);

    std::string& out_;
    bool pretty_;
    bool after_key_ = false;
    std::vector<std::uint8_t> has_items_;  // per open container: written an item yet
    std::optional<JsonError> error_;
};

}  // namespace vorn
