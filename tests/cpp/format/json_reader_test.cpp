#include "core/format/json_reader.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/format/json_writer.hpp"

namespace vorn {
namespace {

std::string error_of(std::string_view text) {
    auto v = parse_json_value(text);
    return v ? std::string("<ok>") : v.error().message();
}

TEST(JsonReader, ReadsEveryKindOfValue) {
    auto v = parse_json_value(R"( {"b": [true, false, null], "a": -3, "c": 18446744073709551615,
        "d": 2.5, "e": "x\u00e9\n"} )");
    ASSERT_TRUE(v) << v.error().message();
    const JsonObject& o = v->as_object();
    EXPECT_EQ(o.find("a")->as_i64(), -3);
    EXPECT_EQ(o.find("c")->as_u64(), 18446744073709551615ull);
    EXPECT_EQ(o.find("d")->as_raw_double(), 2.5);
    EXPECT_EQ(o.find("e")->as_string(), "x\xc3\xa9\n");
    EXPECT_EQ(o.find("b")->as_array().size(), 3u);
    // Keys come out sorted whatever the input order.
    EXPECT_EQ(o.begin()->first, "a");
}

TEST(JsonReader, NumbersBeyondIntegerRangeBecomeDoubles) {
    for (const char* text : {"18446744073709551616", "-9223372036854775809"}) {
        auto v = parse_json_value(text);
        ASSERT_TRUE(v);
        EXPECT_EQ(v->kind(), JsonValue::Kind::Double) << text;
    }
    EXPECT_EQ(parse_json_value("18446744073709551616")->as_raw_double(), 18446744073709551616.0);
    // A number that overflows a double is refused rather than read as infinity.
    EXPECT_EQ(error_of("[1e400]"), "number overflow parsing '1e400' at line 1 column 7");
    EXPECT_EQ(error_of("-1e400"), "number overflow parsing '-1e400' at line 1 column 6");
}

TEST(JsonReader, RejectsMalformedTextWithItsPosition) {
    std::string trailing = error_of("{} x");
    EXPECT_TRUE(trailing.starts_with("syntax error while parsing value - invalid literal"))
        << trailing;
    EXPECT_TRUE(trailing.ends_with(" at line 1 column 4")) << trailing;
    // The reader has taken the key's value in hand when it sees the repeat.
    EXPECT_EQ(error_of("{\n  \"a\": 1,\n  \"a\": 2\n}"), "duplicate field `a` at line 3 column 9");
    EXPECT_TRUE(error_of("[\n1,\n  tru]").ends_with(" at line 3 column 6"));
    // Last two: an encoded surrogate and an overlong form.
    for (const char* bad : {"[1,]", "{'a': 1}", "[01]", "[NaN]", "// c\n1", "", "\"tab\there\"",
                            "\"\xed\xa0\x80\"", "\"\xc0\xaf\""})
        EXPECT_NE(error_of(bad), "<ok>") << bad;
    // Ill-formed UTF-8 is named without echoing the bytes.
    std::string err = error_of("[\"a\xff\"]");
    EXPECT_NE(err.find("ill-formed UTF-8"), std::string::npos) << err;
    EXPECT_EQ(err.find('\xff'), std::string::npos);
}

// Malformed input, one per kind of grammar and lexical error, and where
// each is reported: at the last byte read.
const std::pair<std::string, std::string> kMalformed[] = {
    {"[1,]", "line 1 column 4"},
    {"{\"a\" 1}", "line 1 column 7"},
    {"{1: 2}", "line 1 column 3"},
    {"[1 2]", "line 1 column 5"},
    {"{\"a\": 1 \"b\"}", "line 1 column 11"},
    {"{\"abcdef\"", "line 1 column 9"},
    {"[1] 2", "line 1 column 5"},
    {"", "line 1"},
    {"[1,\n  2,\n  x]", "line 3 column 3"},
    {"[\"a\\x\"]", "line 1 column 5"},
    {"\"\\u12G4\"", "line 1 column 6"},
    {"\"\\ud800\\u0041\"", "line 1 column 13"},
    {"\"\\udc00\"", "line 1 column 7"},
    {"\"a\tb\"", "line 1 column 3"},
    {"\"\x1b\"", "line 1 column 2"},
    {"\"abc", "line 1 column 4"},
    {"[\"\xc3(\"]", "line 1 column 4"},
    {"[-]", "line 1 column 3"},
    {"[1.]", "line 1 column 4"},
    {"[1e]", "line 1 column 4"},
    {"[1E+]", "line 1 column 5"},
    {"[-12e999, 0]", "line 1 column 9"},
    {"{\"k\": nul}", "line 1 column 10"},
    {"\xef\xbb{}", "line 1 column 3"},
    {"\xef\xbb\xbf[1,]", "line 1 column 7"},
};

TEST(JsonReader, ReportsEachMalformationAtTheLastByteRead) {
    for (const auto& [text, position] : kMalformed)
        EXPECT_TRUE(error_of(text).ends_with(" at " + position)) << text << ": " << error_of(text);
    // One message of each shape: the grammar errors name what was expected,
    // the lexical ones quote what was read since the string or number began
    // (control characters spelled out).
    EXPECT_EQ(error_of("{\"a\" 1}"),
              "syntax error while parsing object separator - unexpected number literal; "
              "expected ':' at line 1 column 7");
    EXPECT_EQ(error_of("[1,\n  2,\n  x]"),
              "syntax error while parsing value - invalid literal; last read: "
              "'2,<U+000A>  x' at line 3 column 3");
    EXPECT_EQ(error_of("\"a\tb\""),
              "syntax error while parsing value - invalid string: control character U+0009 "
              "(HT) must be escaped to \\u0009 or \\t; last read: '\"a<U+0009>' at line 1 "
              "column 3");
    EXPECT_EQ(error_of("[1E+]"),
              "syntax error while parsing value - invalid number; expected digit after exponent "
              "sign; last read: '1E+]' at line 1 column 5");
    EXPECT_EQ(error_of("[-12e999, 0]"), "number overflow parsing '-12e999' at line 1 column 9");
    // A byte-order mark is skipped; "-0" is an integer zero.
    auto v = parse_json_value("\xef\xbb\xbf[-0, 1e-400]");
    ASSERT_TRUE(v) << v.error().message();
    EXPECT_EQ(v->as_array()[0], JsonValue::unsigned_int(0));
    EXPECT_EQ(v->as_array()[1].as_raw_double(), 0.0);
}

// The lexer takes a NUL byte outside a string for the end of input;
// whatever follows the document, a NUL included, is refused with its position.
TEST(JsonReader, RefusesANulByteOutsideStrings) {
    using namespace std::string_literals;
    EXPECT_EQ(error_of("{}\0garbage{{{"s),
              "unexpected NUL byte after the value at line 1 column 3");
    EXPECT_EQ(error_of("[1]\n \0"s), "unexpected NUL byte after the value at line 2 column 2");
    EXPECT_EQ(error_of("1\0"s), "unexpected NUL byte after the value at line 1 column 2");
    EXPECT_EQ(error_of("[1,\0 2]"s), "unexpected NUL byte at line 1 column 4");
    EXPECT_EQ(error_of("\0{}"s), "unexpected NUL byte at line 1 column 1");
    // Inside a string a NUL is an unescaped control character, as before.
    std::string in_string = error_of("[\"a\0\"]"s);
    EXPECT_NE(in_string.find("control character U+0000"), std::string::npos) << in_string;

    // The same when the document arrives in pieces, with the NUL in a later one.
    struct Pieces : ByteSource {
        std::string text = "{\"a\": 1}\n\0\0"s;
        std::size_t at = 0;
        std::expected<std::size_t, IoError> read(char* buf, std::size_t n) override {
            std::size_t k = std::min<std::size_t>({n, 4, text.size() - at});
            std::memcpy(buf, text.data() + at, k);
            at += k;
            return k;
        }
    } pieces;
    JsonInput in(pieces, 1000);
    auto v = parse_json_value(in);
    ASSERT_FALSE(v);
    EXPECT_EQ(v.error().message(), "unexpected NUL byte after the value at line 2 column 1");
}

TEST(JsonReader, LimitsNesting) {
    EXPECT_EQ(error_of(std::string(128, '[') + std::string(128, ']')), "<ok>");
    EXPECT_EQ(error_of(std::string(129, '[') + std::string(129, ']')),
              "nesting deeper than 128 levels at line 1 column 129");
}

// Serves text in small pieces, then (optionally) endless spaces.
struct PieceSource : ByteSource {
    PieceSource(std::string t, std::size_t p, bool e = false)
        : text(std::move(t)), piece(p), endless(e) {}

    std::string text;
    std::size_t piece;
    bool endless;
    std::size_t at = 0;
    std::uint64_t served = 0;

    std::expected<std::size_t, IoError> read(char* buf, std::size_t n) override {
        std::size_t k = std::min({n, piece, text.size() - at});
        if (k == 0 && endless) {
            k = std::min(n, piece);
            std::memset(buf, ' ', k);
        } else {
            std::memcpy(buf, text.data() + at, k);
            at += k;
        }
        served += k;
        return k;
    }
};

TEST(JsonInput, StreamedInputMatchesMemoryInputAndTracksPositions) {
    std::string text = "{\n  \"a\": [1, 2.5, \"x\\u00e9\"],\n  \"b\": {\"c\": null}\n}";
    PieceSource src(text, 3);
    JsonInput in(src, 1000);
    auto streamed = parse_json_value(in);
    ASSERT_TRUE(streamed);
    EXPECT_EQ(*streamed, *parse_json_value(text));
    EXPECT_FALSE(in.over_cap());

    PieceSource bad("[\n1,\n2,\n  x]", 2);
    JsonInput bad_in(bad, 1000);
    auto v = parse_json_value(bad_in);
    ASSERT_FALSE(v);
    EXPECT_EQ(v.error().line, 4u);
    EXPECT_EQ(v.error().column, 3u);
}

// An error at the end of the input is placed at the last byte read, also when
// that byte ended an earlier chunk (found by fuzzing: "{\n" streamed gave
// "line 2" instead of "line 1 column 2").
TEST(JsonInput, EndOfInputErrorsHaveTheSamePositionWhateverTheChunks) {
    for (const std::string text : {"{\n", "[1,\n\n", "{\"a\": \n", "[\n 1"}) {
        const std::string whole = error_of(text);
        for (std::size_t piece = 1; piece <= text.size() + 1; ++piece) {
            PieceSource src(text, piece);
            JsonInput in(src, 1000);
            auto v = parse_json_value(in);
            ASSERT_FALSE(v);
            EXPECT_EQ(v.error().message(), whole) << "pieces of " << piece;
        }
    }
}

// The quoted text of a lexical error may have begun in an earlier chunk.
TEST(JsonInput, ErrorsDoNotDependOnTheChunks) {
    for (const auto& [text, position] : kMalformed) {
        const std::string message = error_of(text);
        for (std::size_t piece = 1; piece <= text.size() + 1; ++piece) {
            PieceSource src(text, piece);
            JsonInput in(src, 1000);
            auto v = parse_json_value(in);
            ASSERT_FALSE(v) << text;
            EXPECT_EQ(v.error().message(), message) << "pieces of " << piece;
        }
    }
}

TEST(JsonInput, ValuesSplitAcrossChunksReadTheSame) {
    std::string text = R"({"long": ")" + std::string(300, 'x') +
                       R"(", "esc": "a\"b\\c\/\b\f\n\r\t\u00e9\ud83d\ude00", )"
                       "\"utf8\": \"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\", "
                       R"("n": [0, -0, 12345678901234567890, -9223372036854775808, 2.5e-3, -1E+2],)"
                       R"( "lit": [true, false, null]})";
    auto whole = parse_json_value(text);
    ASSERT_TRUE(whole) << whole.error().message();
    EXPECT_EQ(whole->as_object().find("esc")->as_string(),
              "a\"b\\c/\b\f\n\r\t\xc3\xa9\xf0\x9f\x98\x80");
    for (std::size_t piece = 1; piece <= 9; ++piece) {
        PieceSource src(text, piece);
        JsonInput in(src, 10000);
        auto streamed = parse_json_value(in);
        ASSERT_TRUE(streamed) << streamed.error().message();
        EXPECT_EQ(*streamed, *whole) << "pieces of " << piece;
    }
}

TEST(JsonInput, StopsOneByteAfterTheCap) {
    PieceSource src("[1", 7, true);
    JsonInput in(src, 100);
    EXPECT_FALSE(parse_json_value(in));
    EXPECT_TRUE(in.over_cap());
    EXPECT_EQ(in.bytes_read(), 101u);
    EXPECT_EQ(src.served, 101u);

    PieceSource exact(std::string(99, ' ') + "1", 7);
    JsonInput at_cap(exact, 100);
    EXPECT_TRUE(parse_json_value(at_cap));
    EXPECT_FALSE(at_cap.over_cap());
}

// Pretty and compact layouts are pinned by the documents and event lines built on them.
TEST(JsonWriter, EscapesControlCharactersAndRefusesIllFormedUtf8) {
    std::string out;
    JsonWriter w(out, false);
    w.string(std::string("\"\\/\n\t\r\b\f\x01\x1f\x7f\xc3\xa9", 13));
    EXPECT_EQ(out, "\"\\\"\\\\/\\n\\t\\r\\b\\f\\u0001\\u001f\x7f\xc3\xa9\"");
    EXPECT_FALSE(w.error());
    w.string("bad \xc3");
    ASSERT_TRUE(w.error());
    EXPECT_EQ(w.error()->message(), "string is not valid UTF-8");
}

}  // namespace
}  // namespace vorn
