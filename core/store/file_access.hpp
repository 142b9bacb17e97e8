#pragma once
// FileAccess: the thin seam through which the store touches the file system.
// Each call mirrors its POSIX namesake (result -1 with errno set on failure),
// so tests can inject failures by overriding one call.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

namespace vorn {

class FileAccess {
  public:
    virtual ~FileAccess() = default;

    virtual int open(const char* path, int flags, mode_t mode);
    virtual ssize_t read(int fd, void* buf, std::size_t n);
    virtual ssize_t write(int fd, const void* buf, std::size_t n);
    // Flushes the file to stable storage (a full-device flush on macOS).
    virtual int sync(int fd);
    virtual int close(int fd);
    virtual int rename(const char* from, const char* to);
    virtual int unlink(const char* path);
    virtual int mkdir(const char* path, mode_t mode);
    // Follows symbolic links.
    virtual int stat(const char* path, struct stat* out);
    virtual int fstat(int fd, struct stat* out);
    virtual ssize_t pread(int fd, void* buf, std::size_t n, off_t offset);
    virtual ssize_t pwrite(int fd, const void* buf, std::size_t n, off_t offset);
    virtual int ftruncate(int fd, off_t length);
    // Advisory whole-file lock of the open file description (LOCK_EX,
    // LOCK_SH, LOCK_UN); waits for a conflicting holder to let go.
    virtual int flock(int fd, int operation);
};

// The process-wide pass-through to the operating system.
FileAccess& system_file_access();

}  // namespace vorn
