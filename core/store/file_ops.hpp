#pragma once
// File operations shared by the store's readers and writers, built on the
// FileAccess seam: path joining, directory creation, whole writes and reads.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "core/format/io_error.hpp"
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

// Reads the whole file at path.
std::expected<std::string, IoError> read_file(FileAccess& fs, const std::string& path);

enum class FileStatus { Present, Missing };
// stat() of path (following links): Present with its size, Missing when the
// path or one of its folders does not exist, or the OS failure.
std::expected<FileStatus, IoError> file_status(FileAccess& fs, const std::string& path,
                                               std::uint64_t* size = nullptr);

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
