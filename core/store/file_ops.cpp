#include "core/store/file_ops.hpp"

#include <fcntl.h>

#include <cerrno>

namespace vorn {

std::string join_path(std::string_view root, std::string_view name) {
    std::string out(root);
    if (!out.empty() && out.back() != '/')
        out.push_back('/');
    out.append(name);
    return out;
}

std::string parent_path(std::string_view path) {
    auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

std::expected<void, IoError> create_dirs(FileAccess& fs, const std::string& path) {
    if (path.empty())
        return {};
    if (fs.mkdir(path.c_str(), 0777) == 0)
        return {};
    int err = errno;
    if (err == ENOENT) {
        std::string parent = parent_path(path);
        if (!parent.empty() && parent != path) {
            if (auto r = create_dirs(fs, parent); !r)
                return r;
            if (fs.mkdir(path.c_str(), 0777) == 0)
                return {};
            err = errno;
        }
    }
    if (err == EEXIST) {
        struct stat st;
        if (fs.stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return {};
    }
    return std::unexpected(IoError::os(err));
}

std::expected<void, IoError> write_all(FileAccess& fs, int fd, std::string_view bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = fs.write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::unexpected(IoError::os(errno));
        }
        if (n == 0)
            return std::unexpected(IoError::write_zero());
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return {};
}

std::expected<RegularFile, IoError> open_regular(FileAccess& fs, const std::string& path, int flags,
                                                 mode_t mode) {
    RegularFile file;
    file.fd = fs.open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
    if (file.fd < 0) {
        int err = errno;
        // A FIFO without a reader refuses a non-blocking writer, a socket
        // refuses every open: name what is there rather than the errno.
        struct stat st;
        if (err == ENXIO && fs.stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return std::unexpected(IoError::not_regular_file(path, st.st_mode));
        return std::unexpected(IoError::os(err));
    }
    if (fs.fstat(file.fd, &file.st) != 0) {
        int err = errno;
        fs.close(file.fd);
        return std::unexpected(IoError::os(err));
    }
    if (!S_ISREG(file.st.st_mode)) {
        fs.close(file.fd);
        return std::unexpected(IoError::not_regular_file(path, file.st.st_mode));
    }
    return file;
}

FdSource::~FdSource() {
    fs_.close(fd_);
}

std::expected<std::size_t, IoError> FdSource::read(char* buf, std::size_t n) {
    for (;;) {
        ssize_t got = fs_.read(fd_, buf, n);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            return std::unexpected(IoError::os(errno));
    }
}

std::expected<std::string, IoError> read_file(FileAccess& fs, const std::string& path) {
    auto file = open_regular(fs, path, O_RDONLY);
    if (!file)
        return std::unexpected(file.error());
    FdSource source(fs, file->fd);
    std::string out;
    char buf[64 * 1024];
    for (;;) {
        auto got = source.read(buf, sizeof buf);
        if (!got)
            return std::unexpected(got.error());
        if (*got == 0)
            return out;
        out.append(buf, *got);
    }
}

}  // namespace vorn
