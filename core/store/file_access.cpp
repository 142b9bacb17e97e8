#include "core/store/file_access.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>

namespace vorn {

int FileAccess::open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}
ssize_t FileAccess::read(int fd, void* buf, std::size_t n) {
    return ::read(fd, buf, n);
}
ssize_t FileAccess::write(int fd, const void* buf, std::size_t n) {
    return ::write(fd, buf, n);
}
int FileAccess::sync(int fd) {
#ifdef __APPLE__
    return ::fcntl(fd, F_FULLFSYNC);
#else
    return ::fsync(fd);
#endif
}
int FileAccess::close(int fd) {
    return ::close(fd);
}
int FileAccess::rename(const char* from, const char* to) {
    return std::rename(from, to);
}
int FileAccess::unlink(const char* path) {
    return ::unlink(path);
}
int FileAccess::mkdir(const char* path, mode_t mode) {
    return ::mkdir(path, mode);
}
int FileAccess::stat(const char* path, struct stat* out) {
    return ::stat(path, out);
}
int FileAccess::fstat(int fd, struct stat* out) {
    return ::fstat(fd, out);
}
ssize_t FileAccess::pread(int fd, void* buf, std::size_t n, off_t offset) {
    return ::pread(fd, buf, n, offset);
}
ssize_t FileAccess::pwrite(int fd, const void* buf, std::size_t n, off_t offset) {
    return ::pwrite(fd, buf, n, offset);
}
int FileAccess::ftruncate(int fd, off_t length) {
    return ::ftruncate(fd, length);
}
int FileAccess::flock(int fd, int operation) {
    return ::flock(fd, operation);
}

FileAccess& system_file_access() {
    static FileAccess instance;
    return instance;
}

}  // namespace vorn
