#pragma once
// JsonSax: the strict streaming JSON reader under every document parser.
// The JSON library checks the grammar (RFC 8259, UTF-8, nothing after the
// value); this layer adds a nesting limit, skips ignored values, assembles
// opaque values, and hands record events to Derived, which must provide
//   bool on_begin(bool is_object);  // a container starts
//   bool on_end(bool is_object);    // a record container ends
//   bool on_key(std::string_view);  // a record member name
//   bool on_scalar(const JsonScalar&);
//   bool on_opaque(JsonValue&&);    // an opaque value started by begin_opaque() is complete
// Handlers return false after calling fail(), which stops the parse.

#include <cmath>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "core/format/json_error.hpp"
#include "core/format/json_input.hpp"
#include "core/format/json_scalar.hpp"
#include "core/format/json_value_builder.hpp"

namespace vorn {

// The library's parse-error text without its "[json.exception...]" prefix
// and position, made printable.
std::string library_error_text(const std::string& what);

template <typename Derived>
class JsonSax {
  public:
    explicit JsonSax(JsonInput& in) : in_(in) {}

    // Parses the whole input. Returns the first error, or nothing.
    std::optional<JsonError> run() {
        // The library's parser is used directly (rather than through
        // json::sax_parse) so that it can read from JsonInput's adapter.
        nlohmann::detail::parser<nlohmann::json, JsonInput::Adapter> parser(in_.adapter());
        bool ok = parser.sax_parse(static_cast<Derived*>(this), true);
        // The library ends its input at a NUL byte outside a string, so a
        // parse that succeeded without reaching the real end stopped at one.
        if (ok && !in_.reached_end())
            fail("unexpected NUL byte after the value");
        if (!ok && !error_)
            fail("invalid JSON");
        return error_;
    }

    // Library callbacks.
    bool null() { return scalar(JsonScalar{}); }
    bool boolean(bool v) {
        JsonScalar s;
        s.type = JsonScalar::Type::Bool;
        s.b = v;
        return scalar(s);
    }
    bool number_integer(std::int64_t v) {
        JsonScalar s;
        if (v < 0) {
            s.type = JsonScalar::Type::Int;
            s.i = v;
        } else {
            s.type = JsonScalar::Type::UInt;
            s.u = static_cast<std::uint64_t>(v);
        }
        return scalar(s);
    }
    bool number_unsigned(std::uint64_t v) {
        JsonScalar s;
        s.type = JsonScalar::Type::UInt;
        s.u = v;
        return scalar(s);
    }
    bool number_float(double v, const std::string& raw) {
        if (!std::isfinite(v))
            return fail("number out of range: " + raw);
        JsonScalar s;
        s.type = JsonScalar::Type::Double;
        s.d = v;
        s.text = raw;
        return scalar(s);
    }
    bool string(std::string& v) {
        JsonScalar s;
        s.type = JsonScalar::Type::String;
        s.text = v;
        return scalar(s);
    }
    bool binary(nlohmann::json::binary_t&) { return fail("unexpected binary value"); }
    bool start_object(std::size_t) { return begin(true); }
    bool end_object() { return end(true); }
    bool start_array(std::size_t) { return begin(false); }
    bool end_array() { return end(false); }
    bool key(std::string& k) {
        if (skip_depth_ != 0)
            return true;
        if (builder_.active()) {
            builder_.key(k);
            return true;
        }
        return self().on_key(k);
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) {
        std::string text = library_error_text(ex.what());
        // "unexpected end of input" at a NUL byte: say what was really found.
        if (!in_.reached_end() && in_.stopped_at_nul() &&
            text.find("unexpected end of input") != std::string::npos)
            return fail("unexpected NUL byte");
        return fail(std::move(text));
    }

  protected:
    // Records text with the current position; always returns false.
    bool fail(std::string text) {
        if (!error_) {
            auto [line, column] = in_.position();
            error_ = JsonError{std::move(text), line, column};
        }
        return false;
    }
    // From on_begin: read the container that starts here without keeping it.
    bool skip_container() {
        skip_depth_ = 1;
        return true;
    }
    // From on_begin: assemble the container that starts here into a JsonValue.
    bool begin_opaque(bool is_object) {
        builder_.begin(is_object);
        return true;
    }

  private:
    Derived& self() { return static_cast<Derived&>(*this); }

    bool scalar(const JsonScalar& s) {
        if (skip_depth_ != 0)
            return true;
        if (builder_.active())
            return builder_.add(to_json_value(s)) || duplicate();
        return self().on_scalar(s);
    }
    bool begin(bool is_object) {
        if (++depth_ > kMaxJsonDepth)
            return fail("nesting deeper than " + std::to_string(kMaxJsonDepth) + " levels");
        if (skip_depth_ != 0) {
            ++skip_depth_;
            return true;
        }
        if (builder_.active()) {
            builder_.begin(is_object);
            return true;
        }
        return self().on_begin(is_object);
    }
    bool end(bool is_object) {
        --depth_;
        if (skip_depth_ != 0) {
            --skip_depth_;
            return true;
        }
        if (builder_.active()) {
            bool ok = true;
            if (builder_.end(ok))
                return self().on_opaque(builder_.take());
            return ok || duplicate();
        }
        return self().on_end(is_object);
    }
    bool duplicate() { return fail("duplicate field `" + builder_.duplicate_key() + "`"); }

    JsonInput& in_;
    std::optional<JsonError> error_;
    JsonValueBuilder builder_;
    std::size_t depth_ = 0;
    std::size_t skip_depth_ = 0;
};

}  // namespace vorn
