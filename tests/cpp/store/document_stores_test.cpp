// The metadata, topology and event-log files of a network folder.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/store/event_log.hpp"
#include "core/store/metadata_store.hpp"
#include "core/store/topology_store.hpp"
#include "core/store/weights_file.hpp"
#include "temp_dir.hpp"

namespace vorn {
namespace {

using testing::error_text;
using testing::exists;
using testing::ScopedEnv;
using testing::slurp;
using testing::spit;
using testing::TempDir;

const Uuid kNode = *Uuid::parse("30000000-0000-4000-8000-000000000001");

TopologyFile sample_topology() {
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

TEST(TopologyStore, InvalidTopologyIsNeverWritten) {
    TempDir dir;
    ASSERT_TRUE(write_topology(dir.path, sample_topology()));
    EXPECT_EQ(read_topology(dir.path), sample_topology());
    TopologyFile bad = sample_topology();
    bad.edges[0].post = bad.edges[0].pre;
    EXPECT_EQ(error_text(write_topology(dir.path, bad)),
              "edge 10000000-0000-4000-8000-000000000003 is a self-loop (pre == post)");
    EXPECT_EQ(slurp(dir / "topology.json"), *serialize_topology(sample_topology()));
}

TEST(TopologyStore, BytesAfterANulAreRefusedWithTheirPosition) {
    TempDir dir;
    ASSERT_TRUE(write_topology(dir.path, sample_topology()));
    std::string text = slurp(dir / "topology.json");
    auto lines = std::count(text.begin(), text.end(), '\n') + 1;
    auto last_line = text.size() - text.rfind('\n') - 1;
    spit(dir / "topology.json", text + std::string("\0garbage{{{", 11));
    EXPECT_EQ(error_text(read_topology(dir.path)),
              "topology JSON parse error: unexpected NUL byte after the value at line " +
                  std::to_string(lines) + " column " + std::to_string(last_line + 1));
}

TEST(TopologyStore, MissingAndUnreadableFiles) {
    TempDir dir;
    auto missing = read_topology(dir.path);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), CortexError::Kind::MissingFile);
    EXPECT_EQ(missing.error().message(),
              "expected file does not exist: " + dir.path + "/topology.json");
    // A disk error in the middle of the file, then a folder in its place.
    spit(dir / "topology.json", "{}");
    testing::FaultyFiles fs;
    fs.read_errno = EIO;
    EXPECT_EQ(error_text(read_topology(dir.path, fs)),
              std::string("disk I/O error: ") + std::strerror(EIO));
    std::filesystem::remove(dir / "topology.json");
    std::filesystem::create_directory(dir / "topology.json");
    EXPECT_EQ(error_text(read_topology(dir.path)),
              "disk I/O error: " + dir.path + "/topology.json is a directory, not a regular file");
}

// A FIFO would make a blocking open wait for a writer forever; the alarm
// ends the test process if one does.
TEST(FolderFiles, ReadersRefuseWhatIsNotARegularFileWithoutWaiting) {
    TempDir dir;
    const std::string weights = dir / "weights/lif/latest.cwt";
    std::filesystem::create_directories(dir / "weights/lif");
    for (const char* name : {"metadata.json", "topology.json", "events.jsonl"})
        ASSERT_EQ(mkfifo((dir / name).c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(weights.c_str(), 0600), 0);
    auto fifo = [&](const std::string& path) {
        return "disk I/O error: " + path + " is a FIFO, not a regular file";
    };
    alarm(30);
    EXPECT_EQ(error_text(read_metadata(dir.path)), fifo(dir / "metadata.json"));
    EXPECT_EQ(error_text(read_topology(dir.path)), fifo(dir / "topology.json"));
    EXPECT_EQ(error_text(read_events(dir.path)), fifo(dir / "events.jsonl"));
    EXPECT_EQ(error_text(append_event(dir.path, EventRecord::of(SynapseRemoveEvent{kNode}))),
              fifo(dir / "events.jsonl"));
    EXPECT_EQ(error_text(read_weights(dir.path, "lif")), fifo(weights));
    alarm(0);

    std::filesystem::remove(weights);
    std::filesystem::create_directory(weights);
    auto folder = read_weights(dir.path, "lif");
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().message(),
              "disk I/O error: " + weights + " is a directory, not a regular file");
    EXPECT_TRUE(folder.error().is_os_error());
    EXPECT_EQ(folder.error().io().kind, IoError::Kind::NotRegularFile);
}

TEST(TopologyStore, SizeLimitFromEnvironment) {
    TempDir dir;
    ASSERT_TRUE(write_topology(dir.path, sample_topology()));
    std::string size = std::to_string(std::filesystem::file_size(dir / "topology.json"));
    std::string one_less = std::to_string(std::stoull(size) - 1);
    {
        ScopedEnv env("CORTEX_MAX_TOPOLOGY_BYTES", size.c_str());
        EXPECT_EQ(error_text(read_topology(dir.path)), "<ok>");
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
        EXPECT_NE(error_text(read_topology(dir.path)), "<ok>");
    }
    // Malformed values fall back to the default silently.
    for (const char* bad :
         {"", "+", "-", "-5", " 5", "5 ", "5x", "0x10", "++5", "\xff", "18446744073709551616"}) {
        ScopedEnv env("CORTEX_MAX_TOPOLOGY_BYTES", bad);
        EXPECT_EQ(max_topology_bytes(), kDefaultMaxTopologyBytes) << bad;
        EXPECT_EQ(error_text(read_topology(dir.path)), "<ok>") << bad;
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
    EXPECT_EQ(error_text(read_topology(dir.path)),
              "topology file too large: 300000000 bytes exceeds limit of 268435456");
}

// Appending and reading back are checked through the graph edits.
TEST(EventLog, AppendFailures) {
    TempDir dir;
    auto bad_label = append_event(dir.path, EventRecord::of(NeuronAddEvent{kNode, "\xfe"}));
    EXPECT_EQ(error_text(bad_label), "event serialize error: string is not valid UTF-8");
    std::filesystem::create_directory(dir / "events.jsonl");
    EXPECT_EQ(error_text(append_event(dir.path, EventRecord::of(SynapseRemoveEvent{kNode}))),
              std::string("disk I/O error: ") + std::strerror(EISDIR));
    // The folder itself is never created by an append.
    EXPECT_FALSE(append_event(dir / "absent", EventRecord::of(SynapseRemoveEvent{kNode})));
    EXPECT_FALSE(exists(dir / "absent"));
}

// A full disk that takes part of a line and then fails: the partial line is
// cut off, so the next append starts a line of its own.
TEST(EventLog, FailedAppendLeavesNoPartialLine) {
    TempDir dir;
    ASSERT_TRUE(append_event(dir.path, EventRecord::of(SeedApplyEvent{1, 2})));
    std::string before = slurp(dir / "events.jsonl");
    testing::FaultyFiles full;
    full.write_errno_after = 4;  // 4 writes of 3 bytes land, then ENOSPC
    full.write_errno = ENOSPC;
    EXPECT_EQ(error_text(append_event(dir.path, EventRecord::of(SynapseRemoveEvent{kNode}), full)),
              std::string("disk I/O error: ") + std::strerror(ENOSPC));
    EXPECT_EQ(slurp(dir / "events.jsonl"), before);
    testing::FaultyFiles zero;
    zero.zero_writes_after = 2;
    zero.zero_writes = 1;
    EXPECT_EQ(error_text(append_event(dir.path, EventRecord::of(SynapseRemoveEvent{kNode}), zero)),
              "disk I/O error: failed to write whole buffer");
    EXPECT_EQ(slurp(dir / "events.jsonl"), before);

    ASSERT_TRUE(append_event(dir.path, EventRecord::of(SynapseRemoveEvent{kNode})));
    auto log = read_events(dir.path);
    ASSERT_TRUE(log) << log.error().message();
    EXPECT_EQ(log->size(), 2u);
}

TEST(EventLog, ReaderReportsTheFirstBadLine) {
    TempDir dir;
    EXPECT_EQ(read_events(dir.path), std::vector<EventRecord>{});
    std::string good = *serialize_event(EventRecord::of(SeedApplyEvent{10, 20}));
    spit(dir / "events.jsonl", good + "\n" + good.substr(0, 20) + "\n" + good + "\n");
    std::string err = error_text(read_events(dir.path));
    EXPECT_TRUE(err.starts_with("event parse error: ")) << err;
    EXPECT_NE(err.find(" at line 2 column "), std::string::npos) << err;
}

}  // namespace
}  // namespace vorn
