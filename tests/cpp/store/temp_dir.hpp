#pragma once
// Test helpers: a scratch folder removed at the end of the test, and whole-file I/O.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

// Sets an environment variable for the lifetime of the object.
struct ScopedEnv {
    std::string name;
    ScopedEnv(std::string n, const char* value) : name(std::move(n)) {
        if (value)
            setenv(name.c_str(), value, 1);
        else
            unsetenv(name.c_str());
    }
    ~ScopedEnv() { unsetenv(name.c_str()); }
};

}  // namespace vorn::testing
