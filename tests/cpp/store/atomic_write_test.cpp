#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/store/atomic_file.hpp"
#include "temp_dir.hpp"

namespace vorn {
namespace {

using testing::error_text;
using testing::exists;
using testing::FaultyFiles;
using testing::slurp;
using testing::spit;
using testing::TempDir;

TEST(AtomicWrite, ReplacesWholeFileAndCreatesMissingFolders) {
    TempDir dir;
    std::string target = dir / "a/b/c/doc.json";
    ASSERT_TRUE(atomic_write(target, "first"));
    EXPECT_EQ(slurp(target), "first");
    ASSERT_TRUE(atomic_write(target, "2nd"));
    EXPECT_EQ(slurp(target), "2nd");
    EXPECT_FALSE(exists(target + ".tmp"));
}

TEST(AtomicWrite, FailedRenameKeepsTargetAndLeavesTemporary) {
    TempDir dir;
    std::string target = dir / "doc.json";
    std::filesystem::create_directories(target + "/child");
    auto r = atomic_write(target, "new content");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), CortexError::Kind::Io);
    EXPECT_TRUE(r.error().is_os_error());
    EXPECT_TRUE(exists(target + "/child"));
    EXPECT_EQ(slurp(target + ".tmp"), "new content");
}

TEST(AtomicWrite, FailuresBeforeTheRenameKeepTarget) {
    TempDir dir;
    std::string target = dir / "doc.json";
    spit(target, "old");
    std::filesystem::create_directory(target + ".tmp");
    EXPECT_EQ(error_text(atomic_write(target, "new")),
              std::string("disk I/O error: ") + std::strerror(EISDIR));
    std::filesystem::remove(target + ".tmp");
    FaultyFiles zero, no_sync;
    zero.zero_writes = 1;
    no_sync.sync_errno = EIO;
    EXPECT_EQ(error_text(atomic_write(target, "new", zero)),
              "disk I/O error: failed to write whole buffer");
    EXPECT_EQ(error_text(atomic_write(target, "new", no_sync)),
              std::string("disk I/O error: ") + std::strerror(EIO));
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
    EXPECT_FALSE(exists(dir / "w/latest.cwt"));
    ASSERT_TRUE(file->commit());
    EXPECT_EQ(slurp(dir / "w/latest.cwt"), "abcd");
}

}  // namespace
}  // namespace vorn
