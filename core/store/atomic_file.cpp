#include "core/store/atomic_file.hpp"

#include <fcntl.h>

#include <cerrno>

#include "core/format/folder_layout.hpp"
#include "core/store/file_ops.hpp"

namespace vorn {

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
      fd_(other.fd_) {
    other.fd_ = -1;
}

AtomicFile::~AtomicFile() {
    if (fd_ >= 0)
        fs_->close(fd_);
}

std::expected<AtomicFile, CortexError> AtomicFile::begin(std::string path, FileAccess& fs) {
    if (path.empty() || path.back() == '/')
        return std::unexpected(CortexError::not_a_directory(std::move(path)));
    std::string parent = parent_path(path);
    if (auto made = create_dirs(fs, parent); !made)
        return std::unexpected(CortexError(made.error()));
    std::string temp = path + std::string(kTempSuffix);
    int fd = fs.open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return std::unexpected(CortexError(IoError::os(errno)));
    return AtomicFile(fs, std::move(path), std::move(temp), std::move(parent), fd);
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
