#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/store/atomic_file.hpp"
#include "temp_dir.hpp"

namespace vorn {
namespace {

using testing::slurp;
using testing::spit;
using testing::TempDir;

// Fails chosen calls of the file seam and counts the others.
struct FaultyFiles : FileAccess {
    int zero_writes = 0;  // writes that accept nothing
    int interrupted_writes = 0;
    int interrupted_syncs = 0;
    int sync_errno = 0;  // fail every file sync with this errno
    bool fail_dir_open = false;
    int writes = 0;
    int syncs = 0;

    ssize_t write(int fd, const void* buf, std::size_t n) override {
        ++writes;
        if (interrupted_writes > 0) {
            --interrupted_writes;
            errno = EINTR;
            return -1;
        }
        if (zero_writes > 0) {
            --zero_writes;
            return 0;
        }
        // Accept at most 3 bytes at a time to exercise partial writes.
        return FileAccess::write(fd, buf, n < 3 ? n : 3);
    }
    int sync(int fd) override {
        ++syncs;
        if (interrupted_syncs > 0) {
            --interrupted_syncs;
            errno = EINTR;
            return -1;
        }
        if (sync_errno != 0) {
            errno = sync_errno;
            return -1;
        }
        return FileAccess::sync(fd);
    }
    int open(const char* path, int flags, mode_t mode) override {
        if (fail_dir_open && std::filesystem::is_directory(path)) {
            errno = EACCES;
            return -1;
        }
        return FileAccess::open(path, flags, mode);
    }
};

TEST(AtomicWrite, ReplacesWholeFileAndCreatesMissingFolders) {
    TempDir dir;
    std::string target = dir / "a/b/c/doc.json";
    ASSERT_TRUE(atomic_write(target, "first"));
    EXPECT_EQ(slurp(target), "first");
    ASSERT_TRUE(atomic_write(target, "2nd"));
    EXPECT_EQ(slurp(target), "2nd");
    EXPECT_FALSE(std::filesystem::exists(target + ".tmp"));
}

TEST(AtomicWrite, FailedRenameKeepsTargetAndLeavesTemporary) {
    TempDir dir;
    std::string target = dir / "doc.json";
    std::filesystem::create_directories(target + "/child");
    auto r = atomic_write(target, "new content");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), CortexError::Kind::Io);
    EXPECT_TRUE(r.error().is_os_error());
    EXPECT_TRUE(std::filesystem::exists(target + "/child"));
    EXPECT_EQ(slurp(target + ".tmp"), "new content");
}

TEST(AtomicWrite, UnwritableTemporaryKeepsTarget) {
    TempDir dir;
    std::string target = dir / "doc.json";
    spit(target, "old");
    std::filesystem::create_directory(target + ".tmp");
    auto r = atomic_write(target, "new");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), std::string("disk I/O error: ") + std::strerror(EISDIR));
    EXPECT_EQ(slurp(target), "old");
}

TEST(AtomicWrite, ParentThatIsAFileOrNoFileName) {
    TempDir dir;
    spit(dir / "file", "x");
    auto r = atomic_write(dir / "file/doc.json", "new");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), CortexError::Kind::Io);
    auto no_name = atomic_write(dir.path + "/", "x");
    ASSERT_FALSE(no_name);
    EXPECT_EQ(no_name.error().message(), dir.path + "/ is not a directory");
}

TEST(AtomicWrite, RetriesInterruptionsAndPartialWrites) {
    TempDir dir;
    FaultyFiles fs;
    fs.interrupted_writes = 2;
    fs.interrupted_syncs = 2;
    ASSERT_TRUE(atomic_write(dir / "doc.json", "0123456789", fs));
    EXPECT_EQ(slurp(dir / "doc.json"), "0123456789");
    EXPECT_EQ(fs.writes, 2 + 4);  // two interrupted, then 3 + 3 + 3 + 1 bytes
}

TEST(AtomicWrite, ZeroWriteAndSyncFailuresKeepTarget) {
    TempDir dir;
    std::string target = dir / "doc.json";
    spit(target, "old");
    FaultyFiles zero;
    zero.zero_writes = 1;
    auto r = atomic_write(target, "new", zero);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), "disk I/O error: failed to write whole buffer");
    EXPECT_EQ(slurp(target), "old");

    FaultyFiles no_sync;
    no_sync.sync_errno = EIO;
    r = atomic_write(target, "new", no_sync);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), std::string("disk I/O error: ") + std::strerror(EIO));
    EXPECT_EQ(slurp(target), "old");
}

TEST(AtomicWrite, FolderSyncIsBestEffort) {
    TempDir dir;
    FaultyFiles fs;
    fs.fail_dir_open = true;
    ASSERT_TRUE(atomic_write(dir / "doc.json", "data", fs));
    EXPECT_EQ(slurp(dir / "doc.json"), "data");
    EXPECT_EQ(fs.syncs, 1);  // the file only; the folder could not be opened
}

TEST(AtomicWrite, StreamedContent) {
    TempDir dir;
    auto file = AtomicFile::begin(dir / "w/latest.cwt");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->temp_path(), dir / "w/latest.cwt.tmp");
    ASSERT_TRUE(file->write("ab"));
    ASSERT_TRUE(file->write("cd"));
    EXPECT_FALSE(std::filesystem::exists(dir / "w/latest.cwt"));
    ASSERT_TRUE(file->commit());
    EXPECT_EQ(slurp(dir / "w/latest.cwt"), "abcd");
}

}  // namespace
}  // namespace vorn
