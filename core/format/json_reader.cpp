#include "core/format/json_reader.hpp"

#include "core/format/json_sax.hpp"

namespace vorn {
namespace {

class ValueReader : public JsonSax<ValueReader> {
  public:
    using JsonSax::JsonSax;

    bool on_begin(bool is_object) { return begin_opaque(is_object); }
    bool on_end(bool) { return true; }
    bool on_key(std::string_view) { return true; }
    bool on_scalar(const JsonScalar& s) {
        value = to_json_value(s);
        return true;
    }
    bool on_opaque(JsonValue&& v) {
        value = std::move(v);
        return true;
    }

    JsonValue value;
};

}  // namespace

std::string container_type_error(bool is_object, std::string_view expected) {
    return std::string("invalid type: ") + (is_object ? "object" : "array") + ", expected " +
           std::string(expected);
}

std::expected<JsonValue, JsonError> parse_json_value(JsonInput& input) {
    ValueReader reader(input);
    if (auto err = reader.run())
        return std::unexpected(std::move(*err));
    return std::move(reader.value);
}

std::expected<JsonValue, JsonError> parse_json_value(std::string_view bytes) {
    JsonInput input(bytes);
    return parse_json_value(input);
}

}  // namespace vorn
