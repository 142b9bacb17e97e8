#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "core/format/json_reader.hpp"

namespace vorn {
namespace {

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

TEST(JsonInput, StreamedInputMatchesMemoryInput) {
    std::string text = "{\n  \"a\": [1, 2.5, \"x\\u00e9\"],\n  \"b\": {\"c\": null}\n}";
    PieceSource src(text, 3);
    JsonInput in(src, 1000);
    auto streamed = parse_json_value(in);
    ASSERT_TRUE(streamed);
    EXPECT_EQ(*streamed, *parse_json_value(text));
    EXPECT_FALSE(in.over_cap());
}

TEST(JsonInput, PositionsSpanChunks) {
    std::string text = "[\n1,\n2,\n  x]";
    PieceSource src(text, 2);
    JsonInput in(src, 1000);
    auto v = parse_json_value(in);
    ASSERT_FALSE(v);
    EXPECT_EQ(v.error().line, 4u);
    EXPECT_EQ(v.error().column, 3u);
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

}  // namespace
}  // namespace vorn
