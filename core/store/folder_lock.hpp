#pragma once
// FolderLock: the advisory lock that serialises the writers of one network
// folder: an exclusive flock on "write.lock" in the folder, held only while
// documents are being replaced. The same file counts the replacements of
// metadata.json and topology.json made under the lock (two little-endian
// 64-bit generations), so that a handle can tell whether the version of a
// document it last saw is still the current one.

#include <array>
#include <cstdint>
#include <expected>
#include <string>

#include "core/store/cortex_error.hpp"
#include "core/store/file_access.hpp"

namespace vorn {

// The documents whose replacements are counted, in their order in the file.
enum class Document : std::size_t { Metadata = 0, Topology = 1 };

struct Generations {
    std::array<std::uint64_t, 2> counts{};  // by Document

    std::uint64_t operator[](Document d) const { return counts[static_cast<std::size_t>(d)]; }
    friend bool operator==(const Generations&, const Generations&) = default;
};

class FolderLock {
  public:
    // Opens root/write.lock, creating it if needed, and waits until no other
    // writer holds it. Fails with Io (NotRegularFile when something other
    // than a file stands there).
    static std::expected<FolderLock, CortexError> acquire(const std::string& root, FileAccess& fs);

    FolderLock(FolderLock&& other) noexcept : fs_(other.fs_), fd_(other.fd_) { other.fd_ = -1; }
    FolderLock& operator=(FolderLock&&) = delete;
    FolderLock(const FolderLock&) = delete;
    ~FolderLock();  // lets go of the lock

    // The stored counts; zero for a document never replaced under the lock.
    std::expected<Generations, IoError> generations() const;
    // Counts one more replacement of the document; returns the new count.
    std::expected<std::uint64_t, IoError> bump(Document which);

  private:
    FolderLock(FileAccess& fs, int fd) : fs_(&fs), fd_(fd) {}

    FileAccess* fs_;
    int fd_;
};

// The stored counts read under a shared lock, for a handle that is opening
// the folder: zero when there is no lock file yet (nothing is created, so a
// read-only folder opens). Fails with Io.
std::expected<Generations, CortexError> read_generations(const std::string& root, FileAccess& fs);

}  // namespace vorn
