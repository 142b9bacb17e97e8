#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/store/topology_store.hpp"
#include "temp_dir.hpp"

namespace vorn {
namespace {

using testing::ScopedEnv;
using testing::slurp;
using testing::spit;
using testing::TempDir;

TopologyFile sample() {
    TopologyFile t = TopologyFile::new_empty("lif", {{"lif", {}}, {"stdp", {}}});
    TopologyNode a, b;
    a.id = *Uuid::parse("10000000-0000-4000-8000-000000000001");
    b.id = *Uuid::parse("10000000-0000-4000-8000-000000000002");
    t.nodes = {a, b};
    TopologyEdge e;
    e.id = *Uuid::parse("10000000-0000-4000-8000-000000000003");
    e.pre = a.id;
    e.post = b.id;
    e.init_weight = 0.75f;
    t.edges = {e};
    return t;
}

std::string read_error(const std::string& root) {
    auto t = read_topology(root);
    return t ? "<ok>" : t.error().message();
}

TEST(TopologyStore, WriteThenRead) {
    TempDir dir;
    ASSERT_TRUE(write_topology(dir.path, sample()));
    EXPECT_EQ(slurp(dir / "topology.json"), *serialize_topology(sample()));
    auto back = read_topology(dir.path);
    ASSERT_TRUE(back) << back.error().message();
    EXPECT_EQ(*back, sample());
}

TEST(TopologyStore, InvalidTopologyIsNeverWritten) {
    TempDir dir;
    ASSERT_TRUE(write_topology(dir.path, sample()));
    TopologyFile bad = sample();
    bad.edges[0].post = bad.edges[0].pre;
    auto r = write_topology(dir.path, bad);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(),
              "edge 10000000-0000-4000-8000-000000000003 is a self-loop (pre == post)");
    EXPECT_FALSE(r.error().is_os_error());
    EXPECT_EQ(slurp(dir / "topology.json"), *serialize_topology(sample()));
}

TEST(TopologyStore, MissingAndUnreadableFiles) {
    TempDir dir;
    auto missing = read_topology(dir.path);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), CortexError::Kind::MissingFile);
    EXPECT_EQ(missing.error().message(),
              "expected file does not exist: " + dir.path + "/topology.json");
    std::filesystem::create_directory(dir / "topology.json");
    EXPECT_EQ(read_error(dir.path), std::string("disk I/O error: ") + std::strerror(EISDIR));
}

TEST(TopologyStore, SizeLimitFromEnvironment) {
    TempDir dir;
    ASSERT_TRUE(write_topology(dir.path, sample()));
    std::string size = std::to_string(std::filesystem::file_size(dir / "topology.json"));
    std::string one_less = std::to_string(std::stoull(size) - 1);
    {
        ScopedEnv env("CORTEX_MAX_TOPOLOGY_BYTES", size.c_str());
        EXPECT_EQ(read_error(dir.path), "<ok>");
    }
    {
        ScopedEnv env("CORTEX_MAX_TOPOLOGY_BYTES", ("+" + one_less).c_str());
        auto t = read_topology(dir.path);
        ASSERT_FALSE(t);
        EXPECT_EQ(t.error().kind(), CortexError::Kind::TopologyTooLarge);
        EXPECT_FALSE(t.error().is_os_error());
        EXPECT_EQ(t.error().message(), "topology file " + dir.path + "/topology.json is " + size +
                                           " bytes, exceeds limit of " + one_less +
                                           " (set CORTEX_MAX_TOPOLOGY_BYTES to override)");
    }
    {
        ScopedEnv env("CORTEX_MAX_TOPOLOGY_BYTES", "0");
        EXPECT_EQ(max_topology_bytes(), 0u);
        EXPECT_NE(read_error(dir.path), "<ok>");
    }
    for (const char* bad :
         {"", "+", "-", "-5", " 5", "5 ", "5x", "0x10", "++5", "\xff", "18446744073709551616"}) {
        ScopedEnv env("CORTEX_MAX_TOPOLOGY_BYTES", bad);
        EXPECT_EQ(max_topology_bytes(), kDefaultMaxTopologyBytes) << bad;
        EXPECT_EQ(read_error(dir.path), "<ok>") << bad;
    }
    ScopedEnv env("CORTEX_MAX_TOPOLOGY_BYTES", "18446744073709551615");
    EXPECT_EQ(max_topology_bytes(), 18446744073709551615ull);
}

TEST(TopologyStore, FixedCapWhateverTheLimit) {
    TempDir dir;
    // A sparse file: the size is all that is looked at.
    spit(dir / "topology.json", "");
    ASSERT_EQ(truncate((dir / "topology.json").c_str(), 300000000), 0);
    ScopedEnv env("CORTEX_MAX_TOPOLOGY_BYTES", "400000000");
    EXPECT_EQ(read_error(dir.path),
              "topology file too large: 300000000 bytes exceeds limit of 268435456");
}

// Fails every read, as a disk error in the middle of the file would.
struct FailingReads : FileAccess {
    ssize_t read(int, void*, std::size_t) override {
        errno = EIO;
        return -1;
    }
};

TEST(TopologyStore, ReadFailureIsAnIoError) {
    TempDir dir;
    spit(dir / "topology.json", "{}");
    FailingReads fs;
    auto r = read_topology(dir.path, fs);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), std::string("disk I/O error: ") + std::strerror(EIO));
}

}  // namespace
}  // namespace vorn
