#pragma once
// Test helpers: a scratch folder removed at the end of the test, whole-file
// I/O, a scoped environment variable and a file seam that fails on request.

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/store/file_access.hpp"

namespace vorn::testing {

struct TempDir {
    std::string path;
    TempDir() {
        char pattern[] = "/tmp/vorn_store_test_XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void spit(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline bool exists(const std::string& path) {
    return std::filesystem::exists(path);
}

// Names of the temporary files ("*.tmp") in a folder, sorted.
inline std::vector<std::string> temp_files(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.ends_with(".tmp"))
            out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The error text of a failed result, "<ok>" for a success.
template <typename Result>
std::string error_text(const Result& r) {
    return r ? std::string("<ok>") : r.error().message();
}

// Sets an environment variable for the lifetime of the object.
struct ScopedEnv {
    std::string name;
    ScopedEnv(std::string n, const char* value) : name(std::move(n)) {
        setenv(name.c_str(), value, 1);
    }
    ~ScopedEnv() { unsetenv(name.c_str()); }
};

// Passes calls through, except those a test chooses to fail, and counts them.
// Writes accept at most `chunk` bytes at a time to exercise partial writes.
struct FaultyFiles : FileAccess {
    int zero_writes = 0;  // writes that accept nothing
    int interrupted_writes = 0;
    int interrupted_syncs = 0;
    int write_errno = 0;        // fail every write / file sync / read with this errno
    int write_errno_after = 0;  // ... once this many writes have been let through
    int zero_writes_after = 0;  // writes let through before the zero writes begin
    int sync_errno = 0;
    int read_errno = 0;
    bool fail_dir_open = false;
    int temp_open_errno = 0;  // fail creating temporary files with this errno
    std::size_t chunk = 3;
    int writes = 0;
    int syncs = 0;

    static int fail(int e) {
        errno = e;
        return -1;
    }
    ssize_t write(int fd, const void* buf, std::size_t n) override {
        ++writes;
        if (interrupted_writes > 0 && interrupted_writes--)
            return fail(EINTR);
        if (write_errno != 0 && writes > write_errno_after)
            return fail(write_errno);
        if (zero_writes > 0 && writes > zero_writes_after && zero_writes--)
            return 0;
        return FileAccess::write(fd, buf, n < chunk ? n : chunk);
    }
    int sync(int fd) override {
        ++syncs;
        if (interrupted_syncs > 0 && interrupted_syncs--)
            return fail(EINTR);
        return sync_errno != 0 ? fail(sync_errno) : FileAccess::sync(fd);
    }
    ssize_t read(int fd, void* buf, std::size_t n) override {
        return read_errno != 0 ? fail(read_errno) : FileAccess::read(fd, buf, n);
    }
    int open(const char* path, int flags, mode_t mode) override {
        if (fail_dir_open && std::filesystem::is_directory(path))
            return fail(EACCES);
        if (temp_open_errno != 0 && std::string_view(path).ends_with(".tmp"))
            return fail(temp_open_errno);
        return FileAccess::open(path, flags, mode);
    }
};

}  // namespace vorn::testing
