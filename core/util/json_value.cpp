#include "core/util/json_value.hpp"

#include <algorithm>
#include <cmath>

namespace vorn {
namespace {

auto lower_bound_key(auto& members, std::string_view key) {
    return std::lower_bound(members.begin(), members.end(), key,
                            [](const auto& m, std::string_view k) { return m.first < k; });
}

}  // namespace

void JsonObject::insert_or_assign(std::string key, JsonValue value) {
    auto it = lower_bound_key(members_, key);
    if (it != members_.end() && it->first == key) {
        it->second = std::move(value);
        return;
    }
    members_.emplace(it, std::move(key), std::move(value));
}

bool JsonObject::append_sorted(std::string key, JsonValue value) {
    if (!members_.empty() && !(members_.back().first < key))
        return false;
    members_.emplace_back(std::move(key), std::move(value));
    return true;
}

const JsonValue* JsonObject::find(std::string_view key) const {
    auto it = lower_bound_key(members_, key);
    return it != members_.end() && it->first == key ? &it->second : nullptr;
}

JsonValue* JsonObject::find(std::string_view key) {
    auto it = lower_bound_key(members_, key);
    return it != members_.end() && it->first == key ? &it->second : nullptr;
}

bool JsonObject::erase(std::string_view key) {
    auto it = lower_bound_key(members_, key);
    if (it == members_.end() || it->first != key)
        return false;
    members_.erase(it);
    return true;
}

bool operator==(const JsonObject& a, const JsonObject& b) {
    return a.members_ == b.members_;
}

JsonValue JsonValue::boolean(bool b) {
    JsonValue v;
    v.v_ = b;
    return v;
}

JsonValue JsonValue::unsigned_int(std::uint64_t u) {
    JsonValue v;
    v.v_ = u;
    return v;
}

JsonValue JsonValue::signed_int(std::int64_t i) {
    if (i >= 0)
        return unsigned_int(static_cast<std::uint64_t>(i));
    JsonValue v;
    v.v_ = i;
    return v;
}

JsonValue JsonValue::number(double d) {
    JsonValue v;
    v.v_ = d;
    return v;
}

JsonValue JsonValue::from_f32(float f) {
    return std::isfinite(f) ? number(static_cast<double>(f)) : null();
}

JsonValue JsonValue::string(std::string s) {
    JsonValue v;
    v.v_ = std::move(s);
    return v;
}

double JsonValue::to_double() const {
    switch (kind()) {
        case Kind::UInt:
            return static_cast<double>(as_u64());
        case Kind::Int:
            return static_cast<double>(as_i64());
        case Kind::Double:
            return as_raw_double();
        default:
            return 0.0;
    }
}

}  // namespace vorn
