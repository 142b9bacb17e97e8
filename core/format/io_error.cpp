#include "core/format/io_error.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "core/format/utf8.hpp"

namespace vorn {

namespace {

// What stands where a regular file was expected; nullptr when unnamed.
const char* file_type_name(mode_t mode) {
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    return nullptr;
}

}  // namespace

IoError IoError::not_regular_file(std::string_view path, mode_t mode) {
    const char* type = file_type_name(mode);
    std::string text = utf8_lossy(path) + " is " +
                       (type != nullptr ? std::string(type) + ", not" : std::string("not")) +
                       " a regular file";
    return {Kind::NotRegularFile, 0, std::move(text)};
}

bool IoError::is_missing() const {
    return kind == Kind::Os && (code == ENOENT || code == ENOTDIR);
}

std::string IoError::message() const {
    if (kind == Kind::Os)
        return std::strerror(code);
    return custom;
}

}  // namespace vorn
