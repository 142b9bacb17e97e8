#pragma once
// JsonValue: the JSON-like value of the system (parameter objects and the
// store's opaque configuration values). Objects keep unique keys in ascending
// byte order. The core depends on no JSON library; readers build these values.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vorn {

class JsonValue;
using JsonArray = std::vector<JsonValue>;

// Map from string key to value, unique keys kept in ascending byte order.
class JsonObject {
  public:
    using Member = std::pair<std::string, JsonValue>;

    JsonObject() = default;

    // Inserts or replaces the value under key; keeps the key order.
    void insert_or_assign(std::string key, JsonValue value);
    // Appends a member whose key is greater than every present key. Returns
    // false (and changes nothing) otherwise; readers use it for sorted input.
    bool append_sorted(std::string key, JsonValue value);
    // Nullptr when the key is absent.
    const JsonValue* find(std::string_view key) const;
    JsonValue* find(std::string_view key);
    bool erase(std::string_view key);

    // Defined below JsonValue: the members' type must be complete first.
    std::size_t size() const;
    bool empty() const;
    std::vector<Member>::const_iterator begin() const;
    std::vector<Member>::const_iterator end() const;
    void reserve(std::size_t n);

    friend bool operator==(const JsonObject&, const JsonObject&);

  private:
    std::vector<Member> members_;
};

class JsonValue {
  public:
    enum class Kind : std::uint8_t { Null, Bool, UInt, Int, Double, String, Array, Object };

    JsonValue() = default;  // null
    JsonValue(JsonArray a) : v_(std::move(a)) {}
    JsonValue(JsonObject o) : v_(std::move(o)) {}

    static JsonValue null() { return JsonValue(); }
    static JsonValue boolean(bool b);
    static JsonValue unsigned_int(std::uint64_t u);
    // Negative values are kept signed; others become unsigned.
    static JsonValue signed_int(std::int64_t i);
    // The caller guarantees a finite value.
    static JsonValue number(double d);
    // An f32 field: the value widened exactly to double, or null when not finite.
    static JsonValue from_f32(float f);
    static JsonValue string(std::string s);

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    bool is_null() const { return kind() == Kind::Null; }
    bool is_bool() const { return kind() == Kind::Bool; }
    bool is_number() const {
        Kind k = kind();
        return k == Kind::UInt || k == Kind::Int || k == Kind::Double;
    }
    bool is_string() const { return kind() == Kind::String; }
    bool is_array() const { return kind() == Kind::Array; }
    bool is_object() const { return kind() == Kind::Object; }

    bool as_bool() const { return std::get<bool>(v_); }
    std::uint64_t as_u64() const { return std::get<std::uint64_t>(v_); }
    std::int64_t as_i64() const { return std::get<std::int64_t>(v_); }
    double as_raw_double() const { return std::get<double>(v_); }
    // Any number converted to double (integers as the conversion rounds them).
    double to_double() const;
    const std::string& as_string() const { return std::get<std::string>(v_); }
    const JsonArray& as_array() const { return std::get<JsonArray>(v_); }
    JsonArray& as_array() { return std::get<JsonArray>(v_); }
    const JsonObject& as_object() const { return std::get<JsonObject>(v_); }
    JsonObject& as_object() { return std::get<JsonObject>(v_); }

    friend bool operator==(const JsonValue&, const JsonValue&) = default;

  private:
    std::variant<std::monostate, bool, std::uint64_t, std::int64_t, double, std::string, JsonArray,
                 JsonObject>
        v_;
};

inline std::size_t JsonObject::size() const {
    return members_.size();
}
inline bool JsonObject::empty() const {
    return members_.empty();
}
inline std::vector<JsonObject::Member>::const_iterator JsonObject::begin() const {
    return members_.begin();
}
inline std::vector<JsonObject::Member>::const_iterator JsonObject::end() const {
    return members_.end();
}
inline void JsonObject::reserve(std::size_t n) {
    members_.reserve(n);
}

}  // namespace vorn
