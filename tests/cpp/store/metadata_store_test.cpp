#include <gtest/gtest.h>

#include <filesystem>

#include "core/store/metadata_store.hpp"
#include "temp_dir.hpp"

namespace vorn {
namespace {

using testing::slurp;
using testing::spit;
using testing::TempDir;

MetadataFile sample() {
    MetadataFile m;
    m.id = *Uuid::parse("20000000-0000-4000-8000-000000000001");
    m.name = "net";
    m.cortex_type = "hh";
    m.source_root = "/src";
    m.created_at = "2026-01-01T00:00:00Z";
    m.updated_at = "2026-01-01T00:00:00Z";
    return m;
}

TEST(MetadataStore, WriteThenRead) {
    TempDir dir;
    ASSERT_TRUE(write_metadata(dir.path, sample()));
    EXPECT_EQ(slurp(dir / "metadata.json"), *serialize_metadata(sample()));
    auto back = read_metadata(dir.path);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, sample());
}

TEST(MetadataStore, MissingFileAndBadContent) {
    TempDir dir;
    auto missing = read_metadata(dir.path);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().message(),
              "expected file does not exist: " + dir.path + "/metadata.json");
    EXPECT_TRUE(missing.error().is_os_error());
    spit(dir / "metadata.json", "{\"version\": 2,");
    auto bad = read_metadata(dir.path);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().kind(), CortexError::Kind::Metadata);
    EXPECT_TRUE(bad.error().message().starts_with("metadata JSON parse error: "));
}

TEST(MetadataStore, VersionOneIsMigratedInMemoryOnly) {
    TempDir dir;
    std::string v1 =
        R"({"version": 1, "id": "20000000-0000-4000-8000-000000000001", "name": "net",
            "source_kind": "fresh", "source_root": "/src", "created_at": "c", "updated_at": "u"})";
    spit(dir / "metadata.json", v1);
    auto m = read_metadata(dir.path);
    ASSERT_TRUE(m) << m.error().message();
    EXPECT_EQ(m->cortex_type, "lif");
    EXPECT_EQ(slurp(dir / "metadata.json"), v1);
    ASSERT_TRUE(write_metadata(dir.path, *m));
    std::string now = slurp(dir / "metadata.json");
    EXPECT_TRUE(now.starts_with("{\n  \"version\": 2,"));
    EXPECT_EQ(now.find("source_kind"), std::string::npos);
}

TEST(MetadataStore, RefusedWriteLeavesFileAndFolderAlone) {
    TempDir dir;
    ASSERT_TRUE(write_metadata(dir.path, sample()));
    MetadataFile bad = sample();
    bad.name = "";
    auto r = write_metadata(dir.path, bad);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), "metadata.name must not be empty");
    EXPECT_EQ(slurp(dir / "metadata.json"), *serialize_metadata(sample()));
    EXPECT_FALSE(std::filesystem::exists(dir / "metadata.json.tmp"));
}

}  // namespace
}  // namespace vorn
