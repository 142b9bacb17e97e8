#include "core/format/json_lexer.hpp"

#include <locale.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace vorn {
namespace {

// Bytes that stand for themselves inside a string: U+0020..U+007F but the
// quote and the backslash.
constexpr std::array<bool, 256> kPlain = [] {
    std::array<bool, 256> t{};
    for (int c = 0x20; c < 0x80; ++c)
        t[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
    return t;
}();

bool is_space(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool is_digit(int c) {
    return c >= '0' && c <= '9';
}

// Names of the control characters, for the message that refuses one unescaped.
constexpr std::array<const char*, 32> kControlNames = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
    "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

const char* control_message(int c) {
    // Built once: "invalid string: control character U+000A (LF) must be
    // escaped to \u000A or \n", the short escape where JSON has one.
    static const std::array<std::string, 32> texts = [] {
        std::array<std::string, 32> out;
        for (int i = 0; i < 32; ++i) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%04X", i);
            std::string t = std::string("invalid string: control character U+") + hex + " (" +
                            kControlNames[static_cast<std::size_t>(i)] +
                            ") must be escaped to \\u" + hex;
            const char* short_form = i == 8    ? "\\b"
                                     : i == 9  ? "\\t"
                                     : i == 10 ? "\\n"
                                     : i == 12 ? "\\f"
                                     : i == 13 ? "\\r"
                                               : nullptr;
            if (short_form != nullptr)
                t += std::string(" or ") + short_form;
            out[static_cast<std::size_t>(i)] = std::move(t);
        }
        return out;
    }();
    return texts[static_cast<std::size_t>(c)].c_str();
}

void append_utf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp <= 0x7FF) {
        out.push_back(static_cast<char>(0xC0u | (cp >> 6u)));
        out.push_back(static_cast<char>(0x80u | (cp & 0x3Fu)));
    } else if (cp <= 0xFFFF) {
        out.push_back(static_cast<char>(0xE0u | (cp >> 12u)));
        out.push_back(static_cast<char>(0x80u | ((cp >> 6u) & 0x3Fu)));
        out.push_back(static_cast<char>(0x80u | (cp & 0x3Fu)));
    } else {
        out.push_back(static_cast<char>(0xF0u | (cp >> 18u)));
        out.push_back(static_cast<char>(0x80u | ((cp >> 12u) & 0x3Fu)));
        out.push_back(static_cast<char>(0x80u | ((cp >> 6u) & 0x3Fu)));
        out.push_back(static_cast<char>(0x80u | (cp & 0x3Fu)));
    }
}

int hex_value(int c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// A decimal number text that std::from_chars could not hold in a double:
// infinity when it is too large, else the nearest double (a subnormal or a
// zero) from the C library, read in the "C" locale whatever the process's.
double out_of_range_double(const std::string& text) {
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t{});
    return strtod_l(text.c_str(), nullptr, c_locale);
}

}  // namespace

bool JsonLexer::pull() {
    // The chunk is about to be replaced: keep the token text read from it.
    if (token_ != nullptr && token_ != in_.lim_)
        carry_.append(token_, in_.lim_);
    bool more = in_.next_chunk();
    token_ = in_.cur_;
    return more;
}

void JsonLexer::reset() {
    carry_.clear();
    token_ = in_.cur_ - 1;
}

std::string JsonLexer::token_text() const {
    std::string raw = carry_;
    if (token_ != nullptr)
        raw.append(token_, in_.cur_);
    // A byte handed back by unget() is not part of the token.
    if (unget_ && current_ != kEof && !raw.empty())
        raw.pop_back();
    std::string out;
    out.reserve(raw.size());
    for (char c : raw) {
        if (static_cast<unsigned char>(c) <= 0x1F) {
            char esc[16];
            std::snprintf(esc, sizeof esc, "<U+%.4X>", static_cast<unsigned>(c));
            out += esc;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

const char* JsonLexer::token_name(Token t) {
    switch (t) {
        case Token::Uninitialized:
            return "<uninitialized>";
        case Token::True:
            return "true literal";
        case Token::False:
            return "false literal";
        case Token::Null:
            return "null literal";
        case Token::String:
            return "string literal";
        case Token::Unsigned:
        case Token::Integer:
        case Token::Float:
            return "number literal";
        case Token::BeginArray:
            return "'['";
        case Token::BeginObject:
            return "'{'";
        case Token::EndArray:
            return "']'";
        case Token::EndObject:
            return "'}'";
        case Token::NameSeparator:
            return "':'";
        case Token::ValueSeparator:
            return "','";
        case Token::ParseError:
            return "<parse error>";
        case Token::EndOfInput:
            return "end of input";
        case Token::LiteralOrValue:
            return "'[', '{', or a literal";
    }
    return "unknown token";
}

std::string JsonLexer::syntax_error(Token last, Token expected, std::string_view context) const {
    std::string out = "syntax error ";
    if (!context.empty())
        out.append("while parsing ").append(context).append(" ");
    out += "- ";
    if (last == Token::ParseError)
        out.append(error_).append("; last read: '").append(token_text()).append("'");
    else
        out.append("unexpected ").append(token_name(last));
    if (expected != Token::Uninitialized)
        out.append("; expected ").append(token_name(expected));
    return out;
}

std::string JsonLexer::overflow_text() const {
    return "number overflow parsing '" + token_text() + "'";
}

void JsonLexer::skip_whitespace() {
    for (;;) {
        if (!unget_) {
            // Runs of indentation in one step.
            const char* p = in_.cur_;
            const char* lim = in_.lim_;
            while (p != lim && is_space(*p))
                ++p;
            in_.cur_ = p;
        }
        if (!is_space(get()))
            return;
    }
}

bool JsonLexer::skip_bom() {
    if (get() == 0xEF)
        return get() == 0xBB && get() == 0xBF;
    unget();
    return true;
}

JsonLexer::Token JsonLexer::scan() {
    if (!started_) {
        started_ = true;
        if (!skip_bom())
            return error("invalid BOM; must be 0xEF 0xBB 0xBF if given");
    }
    skip_whitespace();
    switch (current_) {
        case '[':
            return Token::BeginArray;
        case ']':
            return Token::EndArray;
        case '{':
            return Token::BeginObject;
        case '}':
            return Token::EndObject;
        case ':':
            return Token::NameSeparator;
        case ',':
            return Token::ValueSeparator;
        case 't':
            return scan_literal("true", Token::True);
        case 'f':
            return scan_literal("false", Token::False);
        case 'n':
            return scan_literal("null", Token::Null);
        case '"':
            return scan_string();
        case '-':
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9':
            return scan_number();
        case '\0':
        case kEof:
            return Token::EndOfInput;
        default:
            return error("invalid literal");
    }
}

JsonLexer::Token JsonLexer::scan_literal(std::string_view text, Token type) {
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (get() != static_cast<unsigned char>(text[i]))
            return error("invalid literal");
    }
    return type;
}

JsonLexer::Token JsonLexer::scan_string() {
    reset();
    // While the content is a run of plain bytes in one chunk it is handed
    // out in place; anything else goes through buffer_.
    const char* start = in_.cur_;
    bool in_place = true;
    for (;;) {
        const char* p = in_.cur_;
        const char* lim = in_.lim_;
        while (p != lim && kPlain[static_cast<unsigned char>(*p)])
            ++p;
        if (p != in_.cur_) {
            if (!in_place)
                buffer_.append(in_.cur_, p);
            current_ = static_cast<unsigned char>(p[-1]);
            in_.cur_ = p;
        }
        if (p != lim && *p == '"') {
            in_.cur_ = p + 1;
            current_ = '"';
            string_ = in_place ? std::string_view(start, static_cast<std::size_t>(p - start))
                               : std::string_view(buffer_);
            return Token::String;
        }
        if (in_place) {
            buffer_.assign(start, in_.cur_);
            in_place = false;
        }
        const int c = get();
        if (c == kEof)
            return error("invalid string: missing closing quote");
        if (c == '"') {
            string_ = buffer_;
            return Token::String;
        }
        if (c == '\\') {
            if (Token t = scan_escape(); t == Token::ParseError)
                return t;
            continue;
        }
        if (c < 0x20)
            return error(control_message(c));
        if (c < 0x80) {
            buffer_.push_back(static_cast<char>(c));
            continue;
        }
        // Well-formed UTF-8 only (RFC 3629): no overlong forms, surrogates
        // or code points past U+10FFFF.
        bool ok = false;
        if (c >= 0xC2 && c <= 0xDF)
            ok = utf8_tail({0x80, 0xBF});
        else if (c == 0xE0)
            ok = utf8_tail({0xA0, 0xBF, 0x80, 0xBF});
        else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF)
            ok = utf8_tail({0x80, 0xBF, 0x80, 0xBF});
        else if (c == 0xED)
            ok = utf8_tail({0x80, 0x9F, 0x80, 0xBF});
        else if (c == 0xF0)
            ok = utf8_tail({0x90, 0xBF, 0x80, 0xBF, 0x80, 0xBF});
        else if (c >= 0xF1 && c <= 0xF3)
            ok = utf8_tail({0x80, 0xBF, 0x80, 0xBF, 0x80, 0xBF});
        else if (c == 0xF4)
            ok = utf8_tail({0x80, 0x8F, 0x80, 0xBF, 0x80, 0xBF});
        if (!ok)
            return error("invalid string: ill-formed UTF-8 byte");
    }
}

// After the lead byte: each following byte must lie in its range.
bool JsonLexer::utf8_tail(std::initializer_list<int> ranges) {
    buffer_.push_back(static_cast<char>(current_));
    for (auto r = ranges.begin(); r != ranges.end(); r += 2) {
        const int c = get();
        if (c < r[0] || c > r[1])
            return false;
        buffer_.push_back(static_cast<char>(c));
    }
    return true;
}

JsonLexer::Token JsonLexer::scan_escape() {
    const int c = get();
    switch (c) {
        case '"':
        case '\\':
        case '/':
            buffer_.push_back(static_cast<char>(c));
            return Token::String;
        case 'b':
            buffer_.push_back('\b');
            return Token::String;
        case 'f':
            buffer_.push_back('\f');
            return Token::String;
        case 'n':
            buffer_.push_back('\n');
            return Token::String;
        case 'r':
            buffer_.push_back('\r');
            return Token::String;
        case 't':
            buffer_.push_back('\t');
            return Token::String;
        case 'u':
            break;
        default:
            return error("invalid string: forbidden character after backslash");
    }
    // Four hex digits, read up to the first that is not one.
    auto code_unit = [&]() -> int {
        int v = 0;
        for (int i = 0; i < 4; ++i) {
            const int h = hex_value(get());
            if (h < 0)
                return -1;
            v = v * 16 + h;
        }
        return v;
    };
    constexpr const char* kHex = "invalid string: '\\u' must be followed by 4 hex digits";
    constexpr const char* kHigh =
        "invalid string: surrogate U+D800..U+DBFF must be followed by U+DC00..U+DFFF";
    int cp = code_unit();
    if (cp < 0)
        return error(kHex);
    if (cp >= 0xD800 && cp <= 0xDBFF) {
        if (get() != '\\' || get() != 'u')
            return error(kHigh);
        const int low = code_unit();
        if (low < 0)
            return error(kHex);
        if (low < 0xDC00 || low > 0xDFFF)
            return error(kHigh);
        cp = ((cp - 0xD800) << 10) + (low - 0xDC00) + 0x10000;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
        return error("invalid string: surrogate U+DC00..U+DFFF must follow U+D800..U+DBFF");
    }
    append_utf8(buffer_, static_cast<unsigned>(cp));
    return Token::String;
}

JsonLexer::Token JsonLexer::scan_number() {
    reset();
    number_.clear();
    Token type = Token::Unsigned;
    int c = current_;
    auto take = [&] {
        number_.push_back(static_cast<char>(c));
        c = get();
    };
    if (c == '-') {
        type = Token::Integer;
        take();
        if (!is_digit(c))
            return error("invalid number; expected digit after '-'");
    }
    if (c == '0') {
        take();
    } else {
        while (is_digit(c))
            take();
    }
    if (c == '.') {
        type = Token::Float;
        take();
        if (!is_digit(c))
            return error("invalid number; expected digit after '.'");
        while (is_digit(c))
            take();
    }
    if (c == 'e' || c == 'E') {
        type = Token::Float;
        take();
        if (c == '+' || c == '-') {
            take();
            if (!is_digit(c))
                return error("invalid number; expected digit after exponent sign");
        } else if (!is_digit(c)) {
            return error("invalid number; expected '+', '-', or digit after exponent");
        }
        while (is_digit(c))
            take();
    }
    // The byte after the number is read but left for the next token.
    unget();

    const char* first = number_.data();
    const char* last = first + number_.size();
    if (type == Token::Unsigned) {
        auto r = std::from_chars(first, last, u_);
        if (r.ec == std::errc())
            return Token::Unsigned;
    } else if (type == Token::Integer) {
        auto r = std::from_chars(first, last, i_);
        if (r.ec == std::errc())
            return Token::Integer;
    }
    // Integers beyond 64 bits are read as floating point.
    auto r = std::from_chars(first, last, d_);
    if (r.ec != std::errc())
        d_ = out_of_range_double(number_);
    return Token::Float;
}

}  // namespace vorn
