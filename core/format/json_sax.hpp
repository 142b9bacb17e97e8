#pragma once
// JsonSax: the strict streaming JSON reader under every document parser.
// JsonLexer checks the tokens (RFC 8259, UTF-8); this layer checks the
// grammar (nothing after the value), adds a nesting limit, skips ignored
// values, assembles opaque values, and hands record events to Derived, which
// must provide
//   bool on_begin(bool is_object);  // a container starts
//   bool on_end(bool is_object);    // a record container ends
//   bool on_key(std::string_view);  // a record member name
//   bool on_scalar(const JsonScalar&);
//   bool on_opaque(JsonValue&&);    // an opaque value started by begin_opaque() is complete
// Handlers return false after calling fail(), which stops the parse.

#include <array>
#include <cmath>
#include <optional>
#include <string>

#include "core/format/errors.hpp"
#include "core/format/json_input.hpp"
#include "core/format/json_lexer.hpp"
#include "core/format/json_scalar.hpp"
#include "core/format/json_value_builder.hpp"
#include "core/format/utf8.hpp"

namespace vorn {

template <typename Derived>
class JsonSax {
  public:
    explicit JsonSax(JsonInput& in) : in_(in), lex_(in) {}

    // Parses the whole input. Returns the first error, or nothing.
    std::optional<JsonError> run() {
        bool ok = parse();
        // A NUL byte outside a string reads as the end of input, so a parse
        // that succeeded without reaching the real end stopped at one.
        if (ok && !in_.reached_end())
            fail("unexpected NUL byte after the value");
        if (!ok && !error_)
            fail("invalid JSON");
        return error_;
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
    using Token = JsonLexer::Token;

    Derived& self() { return static_cast<Derived&>(*this); }

    // One value, then only whitespace. Containers are walked with an explicit
    // stack of open kinds (the nesting limit bounds it).
    bool parse() {
        Token t = lex_.scan();
        std::size_t open = 0;
        for (;;) {
            // A value starts at t.
            switch (t) {
                case Token::BeginObject:
                    if (!begin(true))
                        return false;
                    t = lex_.scan();
                    if (t != Token::EndObject) {
                        if (!member_key(t))
                            return false;
                        is_array_[open++] = false;
                        t = lex_.scan();
                        continue;
                    }
                    if (!end(true))
                        return false;
                    break;
                case Token::BeginArray:
                    if (!begin(false))
                        return false;
                    t = lex_.scan();
                    if (t != Token::EndArray) {
                        is_array_[open++] = true;
                        continue;
                    }
                    if (!end(false))
                        return false;
                    break;
                case Token::Null:
                    if (!scalar(JsonScalar{}))
                        return false;
                    break;
                case Token::True:
                case Token::False: {
                    JsonScalar s;
                    s.type = JsonScalar::Type::Bool;
                    s.b = t == Token::True;
                    if (!scalar(s))
                        return false;
                    break;
                }
                case Token::Unsigned: {
                    JsonScalar s;
                    s.type = JsonScalar::Type::UInt;
                    s.u = lex_.unsigned_value();
                    if (!scalar(s))
                        return false;
                    break;
                }
                case Token::Integer: {
                    // "-0" is a plain zero.
                    JsonScalar s;
                    const std::int64_t v = lex_.integer_value();
                    if (v < 0) {
                        s.type = JsonScalar::Type::Int;
                        s.i = v;
                    } else {
                        s.type = JsonScalar::Type::UInt;
                        s.u = static_cast<std::uint64_t>(v);
                    }
                    if (!scalar(s))
                        return false;
                    break;
                }
                case Token::Float: {
                    if (!std::isfinite(lex_.float_value()))
                        return fail(lex_.overflow_text());
                    JsonScalar s;
                    s.type = JsonScalar::Type::Double;
                    s.d = lex_.float_value();
                    s.text = lex_.number_text();
                    if (!scalar(s))
                        return false;
                    break;
                }
                case Token::String: {
                    JsonScalar s;
                    s.type = JsonScalar::Type::String;
                    s.text = lex_.string();
                    if (!scalar(s))
                        return false;
                    break;
                }
                case Token::ParseError:
                    return syntax_error(t, Token::Uninitialized, "value");
                default:
                    return syntax_error(t, Token::LiteralOrValue, "value");
            }
            // A value is complete: close the containers it completes.
            for (;;) {
                if (open == 0) {
                    t = lex_.scan();
                    if (t != Token::EndOfInput)
                        return syntax_error(t, Token::EndOfInput, "value");
                    return true;
                }
                const bool array = is_array_[open - 1];
                t = lex_.scan();
                if (t == Token::ValueSeparator) {
                    t = lex_.scan();
                    if (!array) {
                        if (!member_key(t))
                            return false;
                        t = lex_.scan();
                    }
                    break;
                }
                if (t != (array ? Token::EndArray : Token::EndObject))
                    return syntax_error(t, array ? Token::EndArray : Token::EndObject,
                                        array ? "array" : "object");
                if (!end(!array))
                    return false;
                --open;
            }
        }
    }

    // At t: a member name and its ':'.
    bool member_key(Token t) {
        if (t != Token::String)
            return syntax_error(t, Token::String, "object key");
        if (!key(lex_.string()))
            return false;
        t = lex_.scan();
        if (t != Token::NameSeparator)
            return syntax_error(t, Token::NameSeparator, "object separator");
        return true;
    }

    bool syntax_error(Token last, Token expected, std::string_view context) {
        std::string text = utf8_lossy(lex_.syntax_error(last, expected, context));
        // "unexpected end of input" at a NUL byte: say what was really found.
        if (!in_.reached_end() && in_.stopped_at_nul() &&
            text.find("unexpected end of input") != std::string::npos)
            return fail("unexpected NUL byte");
        return fail(std::move(text));
    }

    bool key(std::string_view k) {
        if (skip_depth_ != 0)
            return true;
        if (builder_.active()) {
            builder_.key(k);
            return true;
        }
        return self().on_key(k);
    }

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
    JsonLexer lex_;
    std::optional<JsonError> error_;
    JsonValueBuilder builder_;
    std::size_t depth_ = 0;
    std::size_t skip_depth_ = 0;
    // Kinds of the open containers (true: array); begin() refuses more.
    std::array<bool, kMaxJsonDepth> is_array_{};
};

}  // namespace vorn
