#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/store/atomic_file.hpp"
#include "temp_dir.hpp"

namespace vorn {
namespace {

using testing::error_text;
using testing::exists;
using testing::FaultyFiles;
using testing::slurp;
using testing::spit;
using testing::temp_files;
using testing::TempDir;

TEST(AtomicWrite, ReplacesWholeFileAndCreatesMissingFolders) {
    TempDir dir;
    std::string target = dir / "a/b/c/doc.json";
    ASSERT_TRUE(atomic_write(target, "first"));
    EXPECT_EQ(slurp(target), "first");
    ASSERT_TRUE(atomic_write(target, "2nd"));
    EXPECT_EQ(slurp(target), "2nd");
    EXPECT_EQ(temp_files(dir / "a/b/c"), std::vector<std::string>{});
}

TEST(AtomicWrite, FailedRenameKeepsTargetAndRemovesTemporary) {
    TempDir dir;
    std::string target = dir / "doc.json";
    std::filesystem::create_directories(target + "/child");
    auto r = atomic_write(target, "new content");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), CortexError::Kind::Io);
    EXPECT_TRUE(r.error().is_os_error());
    EXPECT_TRUE(exists(target + "/child"));
    EXPECT_EQ(temp_files(dir.path), std::vector<std::string>{});
}

TEST(AtomicWrite, FailuresBeforeTheRenameKeepTarget) {
    TempDir dir;
    std::string target = dir / "doc.json";
    spit(target, "old");
    FaultyFiles no_temp;
    no_temp.temp_open_errno = EACCES;
    EXPECT_EQ(error_text(atomic_write(target, "new", no_temp)),
              std::string("disk I/O error: ") + std::strerror(EACCES));
    FaultyFiles zero, no_sync;
    zero.zero_writes = 1;
    no_sync.sync_errno = EIO;
    EXPECT_EQ(error_text(atomic_write(target, "new", zero)),
              "disk I/O error: failed to write whole buffer");
    EXPECT_EQ(error_text(atomic_write(target, "new", no_sync)),
              std::string("disk I/O error: ") + std::strerror(EIO));
    EXPECT_EQ(slurp(target), "old");
    EXPECT_EQ(temp_files(dir.path), std::vector<std::string>{});
}

// Each writer writes its own temporary file: a name already taken (a file
// left by a writer that was killed, or one still being written) is skipped,
// never truncated or renamed in by someone else.
TEST(AtomicWrite, TemporaryNamesAreUniqueAndNeverReused) {
    TempDir dir;
    std::string target = dir / "doc.json";
    auto first = AtomicFile::begin(target);
    auto second = AtomicFile::begin(target);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->temp_path(), second->temp_path());
    const std::string prefix = target + "." + std::to_string(getpid()) + ".";
    for (const auto* file : {&*first, &*second}) {
        EXPECT_TRUE(file->temp_path().starts_with(prefix)) << file->temp_path();
        EXPECT_TRUE(file->temp_path().ends_with(".tmp")) << file->temp_path();
    }
    ASSERT_TRUE(first->write("first"));
    ASSERT_TRUE(second->write("second"));
    ASSERT_TRUE(second->commit());
    ASSERT_TRUE(first->commit());
    EXPECT_EQ(slurp(target), "first");

    // Occupy the next names this process would pick; begin skips past them.
    std::string probe = AtomicFile::begin(target)->temp_path();  // removed again unused
    std::uint64_t next = std::stoull(probe.substr(prefix.size())) + 1;
    for (std::uint64_t n = next; n < next + 3; ++n)
        spit(prefix + std::to_string(n) + ".tmp", "someone else's");
    auto third = AtomicFile::begin(target);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->temp_path(), prefix + std::to_string(next + 3) + ".tmp");
    EXPECT_EQ(slurp(prefix + std::to_string(next) + ".tmp"), "someone else's");
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
    EXPECT_EQ(temp_files(dir / "w"),
              std::vector<std::string>{file->temp_path().substr(file->temp_path().rfind('/') + 1)});
    ASSERT_TRUE(file->write("ab"));
    ASSERT_TRUE(file->write("cd"));
    EXPECT_FALSE(exists(dir / "w/latest.cwt"));
    ASSERT_TRUE(file->commit());
    EXPECT_EQ(slurp(dir / "w/latest.cwt"), "abcd");
}

}  // namespace
}  // namespace vorn
