#include <gtest/gtest.h>

#include "core/format/json_reader.hpp"
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
    auto big = parse_json_value("18446744073709551616");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->kind(), JsonValue::Kind::Double);
    EXPECT_EQ(big->as_raw_double(), 18446744073709551616.0);
    auto neg = parse_json_value("-9223372036854775809");
    ASSERT_TRUE(neg);
    EXPECT_EQ(neg->kind(), JsonValue::Kind::Double);
    // A number that overflows a double is refused rather than read as infinity.
    EXPECT_EQ(error_of("[1e400]"), "number overflow parsing '1e400' at line 1 column 7");
    EXPECT_EQ(error_of("-1e400"), "number overflow parsing '-1e400' at line 1 column 6");
}

TEST(JsonReader, RejectsMalformedText) {
    std::string trailing = error_of("{} x");
    EXPECT_TRUE(trailing.starts_with("syntax error while parsing value - invalid literal"))
        << trailing;
    EXPECT_TRUE(trailing.ends_with(" at line 1 column 4")) << trailing;
    EXPECT_NE(error_of("[1,]"), "<ok>");
    EXPECT_NE(error_of("{'a': 1}"), "<ok>");
    EXPECT_NE(error_of("[01]"), "<ok>");
    EXPECT_NE(error_of("[NaN]"), "<ok>");
    EXPECT_NE(error_of("// c\n1"), "<ok>");
    EXPECT_NE(error_of(""), "<ok>");
    EXPECT_NE(error_of("\"tab\there\""), "<ok>");
}

TEST(JsonReader, RejectsIllFormedUtf8WithPrintableMessage) {
    std::string err = error_of("[\"a\xff\"]");
    EXPECT_NE(err.find("ill-formed UTF-8"), std::string::npos) << err;
    EXPECT_EQ(err.find('\xff'), std::string::npos);
    EXPECT_NE(error_of("\"\xed\xa0\x80\""), "<ok>");  // encoded surrogate
    EXPECT_NE(error_of("\"\xc0\xaf\""), "<ok>");      // overlong
}

TEST(JsonReader, ReportsLineAndColumnOfTheFault) {
    // The reader has taken the key's value in hand when it sees the repeat.
    EXPECT_EQ(error_of("{\n  \"a\": 1,\n  \"a\": 2\n}"), "duplicate field `a` at line 3 column 9");
    EXPECT_TRUE(error_of("[\n1,\n  tru]").ends_with(" at line 3 column 6"));
}

TEST(JsonReader, LimitsNesting) {
    std::string ok(128, '[');
    ok += std::string(128, ']');
    EXPECT_TRUE(parse_json_value(ok));
    std::string deep(129, '[');
    deep += std::string(129, ']');
    EXPECT_EQ(error_of(deep), "nesting deeper than 128 levels at line 1 column 129");
}

TEST(JsonWriter, WritesSortedPrettyAndCompactForms) {
    auto v = parse_json_value(R"({"z": [], "a": {"y": {}, "b": [1, -2, 0.5]}, "m": "q\"\\/"})");
    ASSERT_TRUE(v);
    std::string pretty;
    JsonWriter(pretty, true).value(*v);
    EXPECT_EQ(pretty,
              "{\n  \"a\": {\n    \"b\": [\n      1,\n      -2,\n      0.5\n    ],\n    \"y\": "
              "{}\n  },\n  \"m\": \"q\\\"\\\\/\",\n  \"z\": []\n}");
    std::string compact;
    JsonWriter(compact, false).value(*v);
    EXPECT_EQ(compact, R"({"a":{"b":[1,-2,0.5],"y":{}},"m":"q\"\\/","z":[]})");
    auto back = parse_json_value(pretty);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, *v);
}

TEST(JsonWriter, EscapesControlCharactersAndRefusesIllFormedUtf8) {
    std::string out;
    JsonWriter w(out, false);
    w.string(std::string("\"\\\n\t\r\b\f\x01\x1f\x7f\xc3\xa9", 12));
    EXPECT_EQ(out, "\"\\\"\\\\\\n\\t\\r\\b\\f\\u0001\\u001f\x7f\xc3\xa9\"");
    EXPECT_FALSE(w.error());
    w.string("bad \xc3");
    ASSERT_TRUE(w.error());
    EXPECT_EQ(w.error()->message(), "string is not valid UTF-8");
}

}  // namespace
}  // namespace vorn
