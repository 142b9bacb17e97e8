#include "core/format/json_scalar.hpp"

#include <charconv>
#include <cmath>
#include <limits>

namespace vorn {

std::string describe(const JsonScalar& s) {
    switch (s.type) {
        case JsonScalar::Type::Null:
            return "null";
        case JsonScalar::Type::Bool:
            return s.b ? "boolean `true`" : "boolean `false`";
        case JsonScalar::Type::UInt:
            return "integer `" + std::to_string(s.u) + "`";
        case JsonScalar::Type::Int:
            return "integer `" + std::to_string(s.i) + "`";
        case JsonScalar::Type::Double:
            return "floating point `" + std::string(s.text) + "`";
        case JsonScalar::Type::String:
            return "string \"" + std::string(s.text) + "\"";
    }
    return {};
}

std::string invalid_type(const JsonScalar& s, std::string_view expected) {
    return "invalid type: " + describe(s) + ", expected " + std::string(expected);
}

JsonValue to_json_value(const JsonScalar& s) {
    switch (s.type) {
        case JsonScalar::Type::Null:
            return JsonValue::null();
        case JsonScalar::Type::Bool:
            return JsonValue::boolean(s.b);
        case JsonScalar::Type::UInt:
            return JsonValue::unsigned_int(s.u);
        case JsonScalar::Type::Int:
            return JsonValue::signed_int(s.i);
        case JsonScalar::Type::Double:
            return JsonValue::number(s.d);
        case JsonScalar::Type::String:
            return JsonValue::string(std::string(s.text));
    }
    return {};
}

std::expected<std::string_view, std::string> to_string_view(const JsonScalar& s) {
    if (s.type != JsonScalar::Type::String)
        return std::unexpected(invalid_type(s, "a string"));
    return s.text;
}

std::expected<std::uint32_t, std::string> to_u32(const JsonScalar& s) {
    if (s.type == JsonScalar::Type::UInt && s.u <= std::numeric_limits<std::uint32_t>::max())
        return static_cast<std::uint32_t>(s.u);
    if (s.type == JsonScalar::Type::UInt || s.type == JsonScalar::Type::Int)
        return std::unexpected("invalid value: " + describe(s) + ", expected u32");
    return std::unexpected(invalid_type(s, "u32"));
}

std::expected<std::uint64_t, std::string> to_u64(const JsonScalar& s) {
    if (s.type == JsonScalar::Type::UInt)
        return s.u;
    if (s.type == JsonScalar::Type::Int)
        return std::unexpected("invalid value: " + describe(s) + ", expected u64");
    return std::unexpected(invalid_type(s, "u64"));
}

std::expected<float, std::string> to_f32(const JsonScalar& s) {
    switch (s.type) {
        case JsonScalar::Type::UInt:
            return static_cast<float>(s.u);
        case JsonScalar::Type::Int:
            return static_cast<float>(s.i);
        case JsonScalar::Type::Double: {
            // Round the decimal text straight to f32; going through the
            // double could round twice.
            float f = 0.0f;
            auto r = std::from_chars(s.text.data(), s.text.data() + s.text.size(), f);
            if (r.ec == std::errc::result_out_of_range) {
                bool huge = std::fabs(s.d) > 1.0;
                f = huge ? std::numeric_limits<float>::infinity() : 0.0f;
                return std::signbit(s.d) ? -f : f;
            }
            if (r.ec != std::errc())
                return static_cast<float>(s.d);
            return f;
        }
        default:
            return std::unexpected(invalid_type(s, "f32"));
    }
}

std::expected<double, std::string> to_f64(const JsonScalar& s) {
    switch (s.type) {
        case JsonScalar::Type::UInt:
            return static_cast<double>(s.u);
        case JsonScalar::Type::Int:
            return static_cast<double>(s.i);
        case JsonScalar::Type::Double:
            return s.d;
        default:
            return std::unexpected(invalid_type(s, "f64"));
    }
}

std::expected<Uuid, std::string> to_uuid(const JsonScalar& s) {
    if (s.type != JsonScalar::Type::String)
        return std::unexpected(invalid_type(s, "a UUID string"));
    auto id = Uuid::parse(s.text);
    if (!id)
        return std::unexpected("invalid UUID \"" + std::string(s.text) + "\": " + id.error());
    return *id;
}

}  // namespace vorn
