#pragma once
// Strict reading of a whole JSON text into a JsonValue (event lines, tools).

#include <expected>
#include <string_view>

#include "core/format/errors.hpp"
#include "core/format/json_input.hpp"
#include "core/util/json_value.hpp"

namespace vorn {

// The value, or the first syntax error (RFC 8259, UTF-8, trailing text,
// duplicate keys, nesting limit) with its position.
std::expected<JsonValue, JsonError> parse_json_value(std::string_view bytes);
std::expected<JsonValue, JsonError> parse_json_value(JsonInput& input);

// "invalid type: object, expected {expected}" for a container where a scalar belongs.
std::string container_type_error(bool is_object, std::string_view expected);

}  // namespace vorn
