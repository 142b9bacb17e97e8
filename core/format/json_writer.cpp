#include "core/format/json_writer.hpp"

#include <charconv>

#include "core/format/json_number.hpp"
#include "core/format/utf8.hpp"

namespace vorn {

JsonWriter::JsonWriter(std::string& out, bool pretty) : out_(out), pretty_(pretty) {
    has_items_.reserve(16);
}

void JsonWriter::newline_indent(std::size_t depth) {
    // A line feed and the indentation of the common depths in one append.
    static constexpr std::string_view kBreak =
        "\n                                                                ";
    std::size_t n = 1 + depth * 2;
    if (n <= kBreak.size()) {
        out_.append(kBreak.data(), n);
        return;
    }
    out_.push_back('\n');
    out_.append(depth * 2, ' ');
}

// Separates this value from the previous item of the enclosing container.
void JsonWriter::before_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (has_items_.empty())
        return;
    if (has_items_.back())
        out_.push_back(',');
    has_items_.back() = 1;
    if (pretty_)
        newline_indent(has_items_.size());
}

void JsonWriter::check_depth() {
    if (has_items_.size() >= kMaxJsonDepth && !error_)
        error_ =
            JsonError{"nesting deeper than " + std::to_string(kMaxJsonDepth) + " levels", 0, 0};
}

void JsonWriter::begin_object() {
    check_depth();
    before_value();
    out_.push_back('{');
    has_items_.push_back(0);
}

void JsonWriter::end_object() {
    bool had = has_items_.back();
    has_items_.pop_back();
    if (had && pretty_)
        newline_indent(has_items_.size());
    out_.push_back('}');
}

void JsonWriter::begin_array() {
    check_depth();
    before_value();
    out_.push_back('[');
    has_items_.push_back(0);
}

void JsonWriter::end_array() {
    bool had = has_items_.back();
    has_items_.pop_back();
    if (had && pretty_)
        newline_indent(has_items_.size());
    out_.push_back(']');
}

void JsonWriter::key(std::string_view name) {
    before_value();
    write_escaped(name);
    out_ += pretty_ ? ": " : ":";
    after_key_ = true;
}

void JsonWriter::null() {
    before_value();
    out_ += "null";
}

void JsonWriter::boolean(bool b) {
    before_value();
    out_ += b ? "true" : "false";
}

void JsonWriter::unsigned_int(std::uint64_t u) {
    before_value();
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, u);
    out_.append(buf, r.ptr);
}

void JsonWriter::signed_int(std::int64_t i) {
    before_value();
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, i);
    out_.append(buf, r.ptr);
}

void JsonWriter::f32(float v) {
    before_value();
    append_json_f32(out_, v);
}

void JsonWriter::f64(double v) {
    before_value();
    append_json_f64(out_, v);
}

void JsonWriter::string(std::string_view s) {
    before_value();
    write_escaped(s);
}

void JsonWriter::uuid(const Uuid& id) {
    before_value();
    std::size_t at = out_.size();
    out_.resize(at + 38);
    out_[at] = '"';
    id.write_to(out_.data() + at + 1);
    out_[at + 37] = '"';
}

void JsonWriter::write_escaped(std::string_view s) {
    static constexpr char kHex[] = "0123456789abcdef";
    out_.push_back('"');
    std::size_t run = 0;  // start of the pending run of bytes copied verbatim
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\' && c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0x80) {
            std::size_t n = utf8_sequence_length(s, i);
            if (n == 0) {
                if (!error_)
                    error_ = JsonError{"string is not valid UTF-8", 0, 0};
                n = 1;
            }
            i += n;
            continue;
        }
        out_.append(s.data() + run, i - run);
        switch (c) {
            case '"':
                out_ += "\\\"";
                break;
            case '\\':
                out_ += "\\\\";
                break;
            case '\n':
                out_ += "\\n";
                break;
            case '\t':
                out_ += "\\t";
                break;
            case '\r':
                out_ += "\\r";
                break;
            case '\b':
                out_ += "\\b";
                break;
            case '\f':
                out_ += "\\f";
                break;
            default: {
                char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0x0f]};
                out_.append(esc, sizeof esc);
            }
        }
        run = ++i;
    }
    out_.append(s.data() + run, s.size() - run);
    out_.push_back('"');
}

void JsonWriter::value(const JsonValue& v) {
    switch (v.kind()) {
        case JsonValue::Kind::Null:
            null();
            break;
        case JsonValue::Kind::Bool:
            boolean(v.as_bool());
            break;
        case JsonValue::Kind::UInt:
            unsigned_int(v.as_u64());
            break;
        case JsonValue::Kind::Int:
            signed_int(v.as_i64());
            break;
        case JsonValue::Kind::Double:
            f64(v.as_raw_double());
            break;
        case JsonValue::Kind::String:
            string(v.as_string());
            break;
        case JsonValue::Kind::Array:
            begin_array();
            for (const JsonValue& item : v.as_array())
                value(item);
            end_array();
            break;
        case JsonValue::Kind::Object:
            begin_object();
            for (const auto& [k, item] : v.as_object()) {
                key(k);
                value(item);
            }
            end_object();
            break;
    }
}

}  // namespace vorn
