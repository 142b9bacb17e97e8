#pragma once
// File operations shared by the store's readers and writers, built on the
// FileAccess seam: path joining, directory creation, whole writes and reads.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "core/format/errors.hpp"
#include "core/format/json_input.hpp"
#include "core/store/file_access.hpp"

namespace vorn {

// root + "/" + name (no doubled separator when root already ends with one).
std::string join_path(std::string_view root, std::string_view name);
// Everything before the last '/': "" for a bare file name, "/" for "/x".
std::string parent_path(std::string_view path);

// Creates path and its missing ancestors (0o777 before the umask). Succeeds
// when it already is a directory.
std::expected<void, IoError> create_dirs(FileAccess& fs, const std::string& path);

// Writes all of bytes, retrying interrupted writes; a write that accepts
// nothing fails with the "write zero" condition.
std::expected<void, IoError> write_all(FileAccess& fs, int fd, std::string_view bytes);

// An open descriptor on a regular file, with the file's status at opening.
struct RegularFile {
    int fd = -1;
    struct stat st {};
};

// Opens path with flags plus O_NONBLOCK and O_CLOEXEC, so that a FIFO cannot
// keep the call waiting for a peer, and refuses anything but a regular file
// with NotRegularFile (closing it again). Other failures are the OS error;
// is_missing() tells an absent path. The caller owns the descriptor.
std::expected<RegularFile, IoError> open_regular(FileAccess& fs, const std::string& path, int flags,
                                                 mode_t mode = 0);

// Reads the whole regular file at path.
std::expected<std::string, IoError> read_file(FileAccess& fs, const std::string& path);

// Closes a descriptor when it goes out of scope.
class UniqueFd {
  public:
    UniqueFd(FileAccess& fs, int fd) : fs_(fs), fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0)
            fs_.close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }

  private:
    FileAccess& fs_;
    int fd_;
};

// A ByteSource over an open descriptor; reads retry on interruption. Owns fd.
class FdSource : public ByteSource {
  public:
    FdSource(FileAccess& fs, int fd) : fs_(fs), fd_(fd) {}
    ~FdSource() override;
    FdSource(const FdSource&) = delete;
    FdSource& operator=(const FdSource&) = delete;

    std::expected<std::size_t, IoError> read(char* buf, std::size_t n) override;

  private:
    FileAccess& fs_;
    int fd_;
};

}  // namespace vorn
