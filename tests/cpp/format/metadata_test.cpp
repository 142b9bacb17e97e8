#include <gtest/gtest.h>

#include "core/format/json_reader.hpp"
#include "core/format/metadata.hpp"

namespace vorn {
namespace {

const Uuid kId = *Uuid::parse("00112233-4455-6677-8899-aabbccddeeff");

MetadataFile sample() {
    MetadataFile m;
    m.id = kId;
    m.name = "My net";
    m.cortex_type = "lif";
    m.source_root = "/data/My.cortex";
    m.created_at = "2026-01-01T00:00:00Z";
    m.updated_at = "2026-01-02T00:00:00Z";
    return m;
}

std::string doc(std::string_view version, std::string_view extra) {
    return std::string("{\"version\": ") + std::string(version) +
           ", \"id\": \"00112233-4455-6677-8899-aabbccddeeff\", \"name\": \"n\", "
           "\"source_root\": \"/r\", \"created_at\": \"c\", \"updated_at\": \"u\"" +
           std::string(extra) + "}";
}

std::string parse_error(const std::string& text) {
    auto m = parse_metadata(text);
    return m ? "<ok>" : m.error().message();
}

TEST(Metadata, SerialisesByteExactly) {
    MetadataFile m = sample();
    m.hh_config = *parse_json_value(R"({"z": [0.5], "a": 1})");
    auto bytes = serialize_metadata(m);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes,
              "{\n"
              "  \"version\": 2,\n"
              "  \"id\": \"00112233-4455-6677-8899-aabbccddeeff\",\n"
              "  \"name\": \"My net\",\n"
              "  \"cortex_type\": \"lif\",\n"
              "  \"hh_config\": {\n"
              "    \"a\": 1,\n"
              "    \"z\": [\n"
              "      0.5\n"
              "    ]\n"
              "  },\n"
              "  \"source_root\": \"/data/My.cortex\",\n"
              "  \"created_at\": \"2026-01-01T00:00:00Z\",\n"
              "  \"updated_at\": \"2026-01-02T00:00:00Z\"\n"
              "}");
    auto back = parse_metadata(*bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, m);
}

TEST(Metadata, OptionalMembers) {
    auto m = parse_metadata(doc("2",
                                ", \"cortex_type\": \"hh\", \"hh_config\": null, "
                                "\"source_kind\": null, \"unknown\": {\"x\": [1]}"));
    ASSERT_TRUE(m) << m.error().message();
    EXPECT_FALSE(m->hh_config);
    EXPECT_FALSE(m->source_kind);
    EXPECT_EQ(m->cortex_type, "hh");
    // A version-2 file without cortex_type fails the slug rule with the empty text.
    EXPECT_EQ(parse_error(doc("2", "")), "cortex_type '' is not a valid kebab-case slug");
}

TEST(Metadata, MigratesVersionOne) {
    struct Case {
        std::string extra;
        std::string cortex_type;
    };
    for (const Case& c : {Case{", \"source_kind\": \"fresh\"", "lif"}, Case{"", "lif"},
                          Case{", \"source_kind\": \"\"", "lif"},
                          Case{", \"source_kind\": \"fresh\", \"cortex_type\": \"hh\"", "lif"},
                          Case{", \"source_kind\": \"knowledge-graph\"", "knowledge-graph"}}) {
        auto m = parse_metadata(doc("1", c.extra));
        ASSERT_TRUE(m) << c.extra << ": " << m.error().message();
        EXPECT_EQ(m->version, 2u);
        EXPECT_EQ(m->cortex_type, c.cortex_type) << c.extra;
        EXPECT_FALSE(m->source_kind);
        EXPECT_EQ(serialize_metadata(*m)->find("source_kind"), std::string::npos);
    }
    EXPECT_EQ(parse_error(doc("1", ", \"source_kind\": \"imported\"")),
              "v1 metadata has unknown source_kind 'imported' (cannot migrate)");
}

TEST(Metadata, ContentRulesOnRead) {
    for (const char* version : {"0", "3"}) {
        EXPECT_EQ(parse_error(doc(version, ", \"cortex_type\": \"lif\"")),
                  std::string("metadata version ") + version + " is not supported (max 2)");
    }
    for (const char* bad : {"Lif", "l f", "l_f", "-lif", "lif-"}) {
        EXPECT_EQ(parse_error(doc("2", std::string(", \"cortex_type\": \"") + bad + "\"")),
                  std::string("cortex_type '") + bad + "' is not a valid kebab-case slug");
    }
    EXPECT_EQ(parse_error(doc("2", ", \"cortex_type\": \"a--b\"")), "<ok>");
    // The name and source_root rules are shared with writing, checked below.
    std::string empty_name = doc("2", ", \"cortex_type\": \"lif\"");
    empty_name.replace(empty_name.find("\"n\""), 3, "\"\"");
    EXPECT_EQ(parse_error(empty_name), "metadata.name must not be empty");
}

TEST(Metadata, SchemaErrorsAreJsonErrors) {
    EXPECT_EQ(parse_error(doc("2", ", \"name\": \"again\"")),
              "metadata JSON parse error: duplicate field `name` at line 1 column 139");
    EXPECT_EQ(parse_error("{\"version\": 2}"),
              "metadata JSON parse error: missing field `id` at line 1 column 14");
    EXPECT_EQ(parse_error(doc("\"2\"", "")),
              "metadata JSON parse error: invalid type: string \"2\", expected u32 at line 1 "
              "column 15");
    EXPECT_EQ(parse_error(doc("4294967296", "")),
              "metadata JSON parse error: invalid value: integer `4294967296`, expected u32 at "
              "line 1 column 23");
    EXPECT_TRUE(parse_error(doc("2", ", \"cortex_type\": \"lif\"") + " x")
                    .starts_with("metadata JSON parse error: syntax error"));
    // Bad text inside an ignored member is still an error.
    EXPECT_TRUE(parse_error(doc("2", ", \"cortex_type\": \"lif\", \"extra\": [1 2]"))
                    .starts_with("metadata JSON parse error: syntax error"));
}

TEST(Metadata, WriteChecksComeFirst) {
    struct Case {
        void (*change)(MetadataFile&);
        std::string message;
    };
    const Case cases[] = {
        {[](MetadataFile& m) { m.version = 3; }, "metadata version 3 is not supported (max 2)"},
        {[](MetadataFile& m) { m.version = 1; }, "<ok>"},
        {[](MetadataFile& m) { m.cortex_type = "Bad"; },
         "cortex_type 'Bad' is not a valid kebab-case slug"},
        {[](MetadataFile& m) { m.name.clear(); }, "metadata.name must not be empty"},
        {[](MetadataFile& m) { m.source_root.clear(); }, "metadata.source_root must not be empty"},
        {[](MetadataFile& m) { m.name = "bad \xff"; },
         "metadata JSON parse error: string is not valid UTF-8"},
    };
    for (const Case& c : cases) {
        MetadataFile m = sample();
        c.change(m);
        auto bytes = serialize_metadata(m);
        EXPECT_EQ(bytes ? "<ok>" : bytes.error().message(), c.message);
    }
}

}  // namespace
}  // namespace vorn
