#pragma once
// JsonLexer: splits a JsonInput into JSON tokens (RFC 8259, UTF-8 checked).
//
// Its error texts and the bytes it reads ahead follow a fixed contract that
// the store's messages have always had: a parse error reads
//   "syntax error while parsing {context} - {what}; expected {token}"
// where {what} is "unexpected {token}" or a lexical error with the bytes
// read since the last string or number began ("; last read: '...'"), and
// the position of an error is that of the last byte read. Bytes are read
// exactly as far as needed to decide a token: one past a number, up to the
// first mismatch of a literal, up to the first byte that breaks a string.
// A NUL byte outside a string reads as the end of input.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/format/json_input.hpp"

namespace vorn {

class JsonLexer {
  public:
    enum class Token : std::uint8_t {
        Uninitialized,
        True,
        False,
        Null,
        String,
        Unsigned,
        Integer,
        Float,
        BeginArray,
        BeginObject,
        EndArray,
        EndObject,
        NameSeparator,
        ValueSeparator,
        ParseError,
        EndOfInput,
        LiteralOrValue,  // only named in messages
    };

    explicit JsonLexer(JsonInput& in) : in_(in) {}

    Token scan();

    // The decoded content of the last String token (valid until the next scan).
    std::string_view string() const { return string_; }
    // The source text of the last number token.
    std::string_view number_text() const { return number_; }
    std::uint64_t unsigned_value() const { return u_; }
    std::int64_t integer_value() const { return i_; }
    double float_value() const { return d_; }  // may be infinite: see overflow_text()

    // "syntax error while parsing {context} - ..." after scan() returned last
    // where expected (or Uninitialized for none) belonged.
    std::string syntax_error(Token last, Token expected, std::string_view context) const;
    // "number overflow parsing '{number}'" for a Float token that is not finite.
    std::string overflow_text() const;

    static const char* token_name(Token t);

  private:
    static constexpr int kEof = -1;

    // The next byte (0..255) or kEof, as the lexer's one-byte lookahead.
    int get() {
        if (unget_) {
            unget_ = false;
            return current_;
        }
        if (in_.cur_ == in_.lim_ && !pull())
            return current_ = kEof;
        return current_ = static_cast<unsigned char>(*in_.cur_++);
    }
    // Hands the byte last read back to the next get() (it stays read).
    void unget() { unget_ = true; }
    bool pull();
    // Starts the token text ("last read") at the byte last read.
    void reset();
    // The bytes read since the last reset, control characters as <U+00XX>.
    std::string token_text() const;

    void skip_whitespace();
    bool skip_bom();
    Token scan_literal(std::string_view text, Token type);
    Token scan_string();
    Token scan_escape();
    bool utf8_tail(std::initializer_list<int> ranges);
    Token scan_number();
    Token error(const char* message) {
        error_ = message;
        return Token::ParseError;
    }

    JsonInput& in_;
    int current_ = kEof;
    bool unget_ = false;
    bool started_ = false;
    const char* error_ = "";

    // Token text: carry_ holds what was read of it in earlier chunks, the
    // rest runs from token_ to the read position in the current chunk.
    std::string carry_;
    const char* token_ = nullptr;

    std::string_view string_;
    std::string buffer_;  // a string's content when it is not a plain run of one chunk
    std::string number_;
    std::uint64_t u_ = 0;
    std::int64_t i_ = 0;
    double d_ = 0.0;
};

}  // namespace vorn
