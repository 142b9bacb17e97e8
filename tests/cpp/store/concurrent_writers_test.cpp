// Several handles on one folder: writers are serialised by the folder lock,
// and a handle whose view of a document is out of date is refused and rolled
// back instead of overwriting another writer's changes.

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "core/seeds/generators.hpp"
#include "core/store/cortex.hpp"
#include "core/store/event_log.hpp"
#include "core/store/topology_store.hpp"
#include "temp_dir.hpp"

namespace vorn {
namespace {

using testing::error_text;
using testing::slurp;
using testing::TempDir;

constexpr const char* kNow = "2024-05-01T12:00:00Z";

Uuid id_of(const char* text) {
    return *Uuid::parse(text);
}
const Uuid kA = id_of("aaaaaaaa-0000-4000-8000-000000000001");
const Uuid kB = id_of("bbbbbbbb-0000-4000-8000-000000000002");
const Uuid kC = id_of("cccccccc-0000-4000-8000-000000000003");
const Uuid kD = id_of("dddddddd-0000-4000-8000-000000000004");

NeuronInput neuron(Uuid id) {
    return NeuronInput{id, "", {}, {}, {}};
}

class TwoHandles : public ::testing::Test {
  protected:
    TempDir dir;
    std::string root = dir / "net.cortex";

    void SetUp() override {
        auto made = Cortex::create(root, "Net", "lif", kNow);
        ASSERT_TRUE(made) << made.error().message();
    }
    Cortex open(FileAccess& fs = system_file_access()) {
        auto c = Cortex::open(root, fs);
        EXPECT_TRUE(c) << c.error().message();
        return std::move(*c);
    }
    std::string stale_text(const std::string& document) const {
        return root + "/" + document +
               " was changed by another writer since this handle last read or wrote it; "
               "nothing was written: reopen the folder and repeat the change";
    }
    std::string text(const std::string& name) const { return slurp(root + "/" + name); }
};

TEST_F(TwoHandles, AStaleEditIsRefusedAndNoAcknowledgedEditIsLost) {
    Cortex first = open();
    Cortex second = open();
    ASSERT_TRUE(first.add_neuron(neuron(kA)));

    const TopologyFile before = second.topology();
    auto refused = second.add_neuron(neuron(kB));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind(), CortexError::Kind::StaleHandle);
    EXPECT_TRUE(refused.error().is_os_error());
    EXPECT_EQ(refused.error().message(), stale_text("topology.json"));
    EXPECT_EQ(second.topology(), before);
    // The first writer's node is on disk, and only its event is in the log.
    EXPECT_EQ(read_topology(root)->nodes.size(), 1u);
    EXPECT_EQ(read_events(root)->size(), 1u);

    // Reopened, the second handle sees the first's edit and builds on it;
    // the first handle is now the stale one.
    second = open();
    ASSERT_TRUE(second.add_neuron(neuron(kB)));
    EXPECT_EQ(read_topology(root)->nodes.size(), 2u);
    EXPECT_EQ(error_text(first.add_neuron(neuron(kC))), stale_text("topology.json"));
    // A handle's own writes keep it current.
    ASSERT_TRUE(second.add_synapse({{}, kA, kB, {}, 0.5f, {}, {}}));
    ASSERT_TRUE(second.remove_neuron(kA));
    EXPECT_EQ(read_topology(root), second.topology());
}

TEST_F(TwoHandles, StaleRemovalsAndSeedsAreTakenBackExactly) {
    Cortex writer = open();
    for (const Uuid& id : {kA, kB, kC, kD})
        ASSERT_TRUE(writer.add_neuron(neuron(id)));
    for (auto [pre, post] : {std::pair{kA, kB}, {kB, kC}, {kC, kD}, {kD, kB}, {kA, kC}})
        ASSERT_TRUE(writer.add_synapse({{}, pre, post, {}, 0.5f, {}, {}}));
    Cortex stale = open();
    ASSERT_TRUE(writer.remove_synapse(writer.topology().edges.back().id));
    const std::string on_disk = text("topology.json");

    const TopologyFile before = stale.topology();
    // B sits between other nodes and edges: the restored lists keep their order.
    EXPECT_EQ(error_text(stale.remove_neuron(kB)), stale_text("topology.json"));
    EXPECT_EQ(stale.topology(), before);
    EXPECT_EQ(error_text(stale.remove_synapse(before.edges[1].id)), stale_text("topology.json"));
    EXPECT_EQ(stale.topology(), before);
    EXPECT_EQ(error_text(stale.apply_seed(*ring(5, 2, 3, {}))), stale_text("topology.json"));
    EXPECT_EQ(stale.topology(), before);
    EXPECT_EQ(error_text(stale.save()), stale_text("topology.json"));
    EXPECT_EQ(text("topology.json"), on_disk);
    // Unknown ids change nothing, so they write nothing and are not refused.
    EXPECT_EQ(stale.remove_neuron(id_of("eeeeeeee-0000-4000-8000-000000000005")), 0u);
}

TEST_F(TwoHandles, MetadataAndTopologyAreVersionedApart) {
    Cortex first = open();
    Cortex second = open();
    // A graph edit does not make another handle's rename stale...
    ASSERT_TRUE(first.add_neuron(neuron(kA)));
    ASSERT_TRUE(second.rename("Second", "t2"));
    // ...but a rename makes another handle's rename and save stale, and the
    // refused rename leaves the record as it was.
    EXPECT_EQ(error_text(first.rename("First", "t3")), stale_text("metadata.json"));
    EXPECT_EQ(first.metadata().name, "Net");
    EXPECT_EQ(first.metadata().updated_at, kNow);
    EXPECT_EQ(error_text(second.save()), stale_text("topology.json"));
    EXPECT_EQ(open().metadata().name, "Second");
}

// Runs a hook just before each lock request, as another writer would.
struct HookedLocks : testing::FaultyFiles {
    std::function<void()> before_lock;
    int locks = 0;
    int flock(int fd, int operation) override {
        ++locks;
        if (before_lock && (operation & LOCK_EX)) {
            auto hook = std::move(before_lock);
            before_lock = nullptr;
            hook();
        }
        return FaultyFiles::flock(fd, operation);
    }
};

TEST_F(TwoHandles, TheVersionIsCheckedOnceTheLockIsHeld) {
    HookedLocks fs;
    Cortex slow = open(fs);
    Cortex fast = open();
    // The other writer replaces topology.json while this one waits for the lock.
    fs.before_lock = [&] { ASSERT_TRUE(fast.add_neuron(neuron(kA))); };
    EXPECT_EQ(error_text(slow.add_neuron(neuron(kB))), stale_text("topology.json"));
    EXPECT_EQ(read_topology(root)->nodes, fast.topology().nodes);
    EXPECT_GE(fs.locks, 2);  // the shared lock of open, then the write lock
}

// Reports one identity for every file, as when a replacement reuses the
// inode, size and timestamps of the file it replaced.
struct SameIdentity : testing::FaultyFiles {
    static void blur(struct stat* st) {
        st->st_ino = 1;
        st->st_size = 0;
        st->st_mtim = {};
        st->st_ctim = {};
    }
    int stat(const char* path, struct stat* out) override {
        int rc = FaultyFiles::stat(path, out);
        if (rc == 0 && S_ISREG(out->st_mode))
            blur(out);
        return rc;
    }
    int fstat(int fd, struct stat* out) override {
        int rc = FaultyFiles::fstat(fd, out);
        if (rc == 0 && S_ISREG(out->st_mode))
            blur(out);
        return rc;
    }
};

// Each half of a version catches what the other cannot: the count, a
// replacement that reuses the old file's identity; the identity, a writer
// that takes no lock and counts nothing.
TEST_F(TwoHandles, EitherHalfOfTheVersionMakesAHandleStale) {
    SameIdentity blurred;
    Cortex first = open(blurred);
    Cortex second = open(blurred);
    ASSERT_TRUE(first.add_neuron(neuron(kA)));
    EXPECT_EQ(error_text(second.add_neuron(neuron(kB))), stale_text("topology.json"));

    Cortex handle = open();
    TopologyFile other = handle.topology();
    other.nodes.push_back({kD, "foreign", {}, JsonValue(JsonObject{}), {}});
    ASSERT_TRUE(write_topology(root, other));  // no lock, no count
    EXPECT_EQ(error_text(handle.add_neuron(neuron(kB))), stale_text("topology.json"));
    EXPECT_EQ(read_topology(root), other);
}

// A topology.json that is absent holds nobody's edits: a handle may write it
// again, unless another writer has replaced it since the handle's view.
TEST_F(TwoHandles, AnAbsentTopologyIsWrittenUnlessAnotherWriterCameFirst) {
    Cortex handle = open();
    ASSERT_TRUE(handle.add_neuron(neuron(kA)));
    std::filesystem::remove(root + "/topology.json");
    ASSERT_TRUE(handle.save());
    EXPECT_EQ(read_topology(root), handle.topology());

    std::filesystem::remove(root + "/topology.json");
    Cortex late = open();  // finds none, so starts from an empty graph
    Cortex early = open();
    ASSERT_TRUE(early.add_neuron(neuron(kB)));
    EXPECT_EQ(error_text(late.add_neuron(neuron(kC))), stale_text("topology.json"));
    EXPECT_EQ(error_text(handle.add_neuron(neuron(kC))), stale_text("topology.json"));
}

// Some network and user-space file systems cannot lock at all.
struct NoLocks : testing::FaultyFiles {
    int flock(int, int) override { return fail(ENOLCK); }
};

TEST_F(TwoHandles, AFileSystemWithoutLocksIsStillWrittenAndChecked) {
    NoLocks fs;
    Cortex first = open(fs);
    Cortex second = open(fs);
    ASSERT_TRUE(first.add_neuron(neuron(kA)));
    EXPECT_EQ(error_text(second.add_neuron(neuron(kB))), stale_text("topology.json"));
}

TEST_F(TwoHandles, OpeningCreatesNoLockFile) {
    std::filesystem::remove(root + "/write.lock");
    Cortex handle = open();
    EXPECT_FALSE(testing::exists(root + "/write.lock"));
    ASSERT_TRUE(handle.add_neuron(neuron(kA)));
    EXPECT_TRUE(testing::exists(root + "/write.lock"));
}

// The lock excludes writers in other processes while it is held.
TEST_F(TwoHandles, TheLockExcludesOtherProcesses) {
    int to_parent[2], to_child[2];
    ASSERT_EQ(pipe(to_parent), 0);
    ASSERT_EQ(pipe(to_child), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto lock = FolderLock::acquire(root, system_file_access());
        char c = lock ? 'y' : 'n';
        (void)!write(to_parent[1], &c, 1);
        (void)!read(to_child[0], &c, 1);
        _exit(0);
    }
    char held = 0;
    ASSERT_EQ(read(to_parent[0], &held, 1), 1);
    ASSERT_EQ(held, 'y');
    int fd = ::open((root + "/write.lock").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    char go = 'g';
    ASSERT_EQ(write(to_child[1], &go, 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
    for (int p : {to_parent[0], to_parent[1], to_child[0], to_child[1]})
        ::close(p);
}

}  // namespace
}  // namespace vorn
