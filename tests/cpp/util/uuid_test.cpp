#include "core/util/uuid.hpp"

#include <gtest/gtest.h>

#include <set>

namespace vorn {
namespace {

constexpr const char* kCanonical = "8c189668-c9e4-4372-b7bf-31e02d7f6b70";

TEST(Uuid, ParsesEveryAcceptedFormToTheSameId) {
    auto expected = Uuid::parse(kCanonical);
    ASSERT_TRUE(expected.has_value()) << expected.error();
    EXPECT_EQ(expected->to_string(), kCanonical);
    EXPECT_EQ(expected->bytes[0], 0x8c);
    EXPECT_EQ(expected->bytes[15], 0x70);
    for (const char* form : {
             "8C189668-C9E4-4372-B7BF-31E02D7F6B70",
             "{8c189668-c9e4-4372-b7bf-31e02d7f6b70}",
             "{8C189668-c9e4-4372-b7bf-31e02d7f6b70}",
             "urn:uuid:8c189668-c9e4-4372-b7bf-31e02d7f6b70",
             "URN:UUID:8c189668-C9E4-4372-b7bf-31e02d7f6b70",
             "8c189668c9e44372b7bf31e02d7f6b70",
             "8C189668C9E44372B7BF31E02D7F6B70",
         }) {
        auto id = Uuid::parse(form);
        ASSERT_TRUE(id.has_value()) << form << ": " << id.error();
        EXPECT_EQ(*id, *expected) << form;
    }
}

TEST(Uuid, DescribesFaults) {
    EXPECT_EQ(Uuid::parse("xyz").error(),
              "invalid length: expected length 32, 36, 38 or 45, found 3");
    EXPECT_EQ(Uuid::parse("").error(), "invalid length: expected length 32, 36, 38 or 45, found 0");
    EXPECT_EQ(Uuid::parse("8c189668-c9e4-4372-b7bf-31e02d7f6b7g").error(),
              "invalid character: expected [0-9a-fA-F], found `g` at 36");
    EXPECT_EQ(Uuid::parse("8c18966x8c9e44372b7bf31e02d7f6b70").error(),
              "invalid length: expected length 32, 36, 38 or 45, found 33");
    EXPECT_EQ(Uuid::parse("8c18966xc9e44372b7bf31e02d7f6b70").error(),
              "invalid character: expected [0-9a-fA-F], found `x` at 8");
    EXPECT_EQ(Uuid::parse("8c1896-68c9e4-4372-b7bf-31e02d7f6b70").error(),
              "invalid group length in group 1: expected 8, found 6");
    EXPECT_EQ(Uuid::parse("(8c189668-c9e4-4372-b7bf-31e02d7f6b70}").error(),
              "invalid character: expected [0-9a-fA-F], found `(` at 1");
    EXPECT_FALSE(Uuid::parse("urn:uuix:8c189668-c9e4-4372-b7bf-31e02d7f6b70").has_value());
    EXPECT_FALSE(Uuid::parse("8c189668-c9e4-4372-b7bf-31e02d7f6b7\xff").has_value());
}

TEST(Uuid, MintsDistinctVersion4Ids) {
    std::set<Uuid> seen;
    for (int i = 0; i < 100; ++i) {
        auto id = Uuid::random_v4();
        ASSERT_TRUE(id.has_value());
        EXPECT_EQ(id->bytes[6] >> 4, 4);
        EXPECT_EQ(id->bytes[8] & 0xc0, 0x80);
        std::string text = id->to_string();
        EXPECT_EQ(text[14], '4');
        EXPECT_EQ(Uuid::parse(text).value(), *id);
        seen.insert(*id);
    }
    EXPECT_EQ(seen.size(), 100u);
}

}  // namespace
}  // namespace vorn
