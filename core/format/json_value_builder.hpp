#pragma once
// JsonValueBuilder: assembles one JsonValue from the reader's container and
// scalar events (opaque values such as configs and metadata). A key given
// twice in one object is refused.

#include <string>
#include <string_view>
#include <vector>

#include "core/util/json_value.hpp"

namespace vorn {

class JsonValueBuilder {
  public:
    bool active() const { return !stack_.empty(); }

    void begin(bool is_object);
    void key(std::string_view k) { stack_.back().key.assign(k); }
    // Adds a finished value to the open container. False when it repeats a
    // key of the open object; duplicate_key() then names it.
    bool add(JsonValue v);
    // Closes the open container. Returns true when that completed the whole
    // value, which take() then hands out; false when it was nested (it has
    // then been added to its parent, which can also fail: see add()).
    bool end(bool& ok);
    JsonValue take() { return std::move(done_); }
    const std::string& duplicate_key() const { return duplicate_; }

  private:
    struct Open {
        JsonValue value;
        std::string key;  // pending member name of an object
    };
    std::vector<Open> stack_;
    JsonValue done_;
    std::string duplicate_;
};

}  // namespace vorn
