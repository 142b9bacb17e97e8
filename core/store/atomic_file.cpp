#include "core/store/atomic_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "core/format/folder_layout.hpp"
#include "core/store/file_ops.hpp"

namespace vorn {
namespace {

// Names already taken (by a writer that crashed, or one in another pid
// namespace) are skipped; this many in a row means something else is wrong.
constexpr int kTempNameAttempts = 100;

// "<path>.<pid>.<n>.tmp", n counting up for the life of the process.
std::string next_temp_path(const std::string& path) {
    static std::atomic<std::uint64_t> counter{0};
    return path + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) +
           std::string(kTempSuffix);
}

}  // namespace

AtomicFile::AtomicFile(FileAccess& fs, std::string path, std::string temp_path, std::string parent,
                       int fd)
    : fs_(&fs),
      path_(std::move(path)),
      temp_path_(std::move(temp_path)),
      parent_(std::move(parent)),
      fd_(fd) {}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : fs_(other.fs_),
      path_(std::move(other.path_)),
      temp_path_(std::move(other.temp_path_)),
      parent_(std::move(other.parent_)),
      fd_(other.fd_),
      temp_exists_(other.temp_exists_) {
    other.fd_ = -1;
    other.temp_exists_ = false;
}

AtomicFile::~AtomicFile() {
    if (fd_ >= 0)
        fs_->close(fd_);
    if (temp_exists_)
        (void)fs_->unlink(temp_path_.c_str());
}

std::expected<AtomicFile, CortexError> AtomicFile::begin(std::string path, FileAccess& fs) {
    if (path.empty() || path.back() == '/')
        return std::unexpected(CortexError::not_a_directory(std::move(path)));
    std::string parent = parent_path(path);
    if (auto made = create_dirs(fs, parent); !made)
        return std::unexpected(CortexError(made.error()));
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        std::string temp = next_temp_path(path);
        int fd = fs.open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            return AtomicFile(fs, std::move(path), std::move(temp), std::move(parent), fd);
        if (errno != EEXIST)
            return std::unexpected(CortexError(IoError::os(errno)));
    }
    return std::unexpected(CortexError(IoError::os(EEXIST)));
}

std::expected<void, IoError> AtomicFile::write(std::string_view bytes) {
    return write_all(*fs_, fd_, bytes);
}

std::expected<void, CortexError> AtomicFile::commit() {
    while (fs_->sync(fd_) != 0) {
        if (errno != EINTR)
            return std::unexpected(CortexError(IoError::os(errno)));
    }
    int fd = fd_;
    fd_ = -1;
    if (fs_->close(fd) != 0)
        return std::unexpected(CortexError(IoError::os(errno)));
    if (fs_->rename(temp_path_.c_str(), path_.c_str()) != 0)
        return std::unexpected(CortexError(IoError::os(errno)));
    temp_exists_ = false;
    // Make the rename itself durable where the platform allows; a failure
    // here does not undo a replacement that has already happened.
    const char* dir = parent_.empty() ? "." : parent_.c_str();
    int dir_fd = fs_->open(dir, O_RDONLY | O_CLOEXEC, 0);
    if (dir_fd >= 0) {
        fs_->sync(dir_fd);
        fs_->close(dir_fd);
    }
    return {};
}

std::expected<void, CortexError> atomic_write(const std::string& path, std::string_view bytes,
                                              FileAccess& fs) {
    auto file = AtomicFile::begin(path, fs);
    if (!file)
        return std::unexpected(std::move(file.error()));
    if (auto w = file->write(bytes); !w)
        return std::unexpected(CortexError(w.error()));
    return file->commit();
}

}  // namespace vorn
