#include "core/format/json_value_builder.hpp"

#include <iterator>

namespace vorn {

void JsonValueBuilder::begin(bool is_object) {
    Open open;
    if (is_object)
        open.value = JsonValue(JsonObject{});
    else
        open.value = JsonValue(JsonArray{});
    stack_.push_back(std::move(open));
}

bool JsonValueBuilder::add(JsonValue v) {
    Open& top = stack_.back();
    if (top.value.is_array()) {
        top.value.as_array().push_back(std::move(v));
        return true;
    }
    JsonObject& obj = top.value.as_object();
    // Input written by this system has sorted keys: append in O(1).
    if (obj.empty() || std::prev(obj.end())->first < top.key) {
        obj.append_sorted(std::move(top.key), std::move(v));
        top.key.clear();
        return true;
    }
    if (obj.find(top.key) != nullptr) {
        duplicate_ = top.key;
        return false;
    }
    obj.insert_or_assign(std::move(top.key), std::move(v));
    top.key.clear();
    return true;
}

bool JsonValueBuilder::end(bool& ok) {
    JsonValue finished = std::move(stack_.back().value);
    stack_.pop_back();
    ok = true;
    if (stack_.empty()) {
        done_ = std::move(finished);
        return true;
    }
    ok = add(std::move(finished));
    return false;
}

}  // namespace vorn
