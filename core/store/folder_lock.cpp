#include "core/store/folder_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "core/format/folder_layout.hpp"
#include "core/store/file_ops.hpp"

namespace vorn {
namespace {

constexpr std::size_t kGenerationBytes = 16;

// Retries the flock call while a signal interrupts the wait. A file system
// that cannot lock at all (some network and user-space ones) is written
// without the lock, as before locks were taken; the version check of the
// store handle still applies there.
int lock_retrying(FileAccess& fs, int fd, int operation) {
    int rc;
    while ((rc = fs.flock(fd, operation)) != 0 && errno == EINTR) {
    }
    if (rc != 0 && (errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOSYS))
        return 0;
    return rc;
}

// The counts at the start of an open lock file; missing bytes (a new, empty
// file) count as zero.
std::expected<Generations, IoError> read_counts(FileAccess& fs, int fd) {
    std::array<unsigned char, kGenerationBytes> bytes{};
    std::size_t got = 0;
    while (got < bytes.size()) {
        ssize_t n = fs.pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::unexpected(IoError::os(errno));
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    Generations out;
    for (std::size_t d = 0; d < out.counts.size(); ++d) {
        for (std::size_t i = 0; i < 8; ++i)
            out.counts[d] |= static_cast<std::uint64_t>(bytes[8 * d + i]) << (8 * i);
    }
    return out;
}

}  // namespace

std::expected<FolderLock, CortexError> FolderLock::acquire(const std::string& root,
                                                           FileAccess& fs) {
    auto file = open_regular(fs, join_path(root, kLockFileName), O_RDWR | O_CREAT, 0666);
    if (!file)
        return std::unexpected(CortexError(file.error()));
    FolderLock lock(fs, file->fd);
    if (lock_retrying(fs, lock.fd_, LOCK_EX) != 0)
        return std::unexpected(CortexError(IoError::os(errno)));
    return lock;
}

FolderLock::~FolderLock() {
    // Closing the only descriptor of the open file releases the lock.
    if (fd_ >= 0)
        fs_->close(fd_);
}

std::expected<Generations, IoError> FolderLock::generations() const {
    return read_counts(*fs_, fd_);
}

std::expected<std::uint64_t, IoError> FolderLock::bump(Document which) {
    auto counts = generations();
    if (!counts)
        return std::unexpected(counts.error());
    const auto index = static_cast<std::size_t>(which);
    const std::uint64_t next = counts->counts[index] + 1;
    unsigned char bytes[8];
    for (std::size_t i = 0; i < 8; ++i)
        bytes[i] = static_cast<unsigned char>(next >> (8 * i));
    std::size_t done = 0;
    while (done < sizeof bytes) {
        ssize_t n = fs_->pwrite(fd_, bytes + done, sizeof bytes - done,
                                static_cast<off_t>(8 * index + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::unexpected(n < 0 ? IoError::os(errno) : IoError::write_zero());
        done += static_cast<std::size_t>(n);
    }
    return next;
}

std::expected<Generations, CortexError> read_generations(const std::string& root, FileAccess& fs) {
    auto file = open_regular(fs, join_path(root, kLockFileName), O_RDONLY);
    if (!file) {
        if (file.error().is_missing())
            return Generations{};
        return std::unexpected(CortexError(file.error()));
    }
    UniqueFd fd(fs, file->fd);
    // Shared: waits out a writer that is updating the counts.
    if (lock_retrying(fs, fd.get(), LOCK_SH) != 0)
        return std::unexpected(CortexError(IoError::os(errno)));
    auto counts = read_counts(fs, fd.get());
    if (!counts)
        return std::unexpected(CortexError(counts.error()));
    return *counts;
}

}  // namespace vorn
