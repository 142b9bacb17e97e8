#pragma once
// DocumentVersion: which replacement of a document a handle last read or
// wrote. Every replacement renames a new file over the old one, so the file's
// identity changes; the generation counted in the folder's lock file tells
// apart a later replacement that happens to reuse an identity.

#include <sys/stat.h>

#include <cstdint>

namespace vorn {

// The file a path named at one moment, or its absence.
struct FileIdentity {
    bool present = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;      // bytes
    std::uint64_t mtime_ns = 0;  // last content change
    std::uint64_t ctime_ns = 0;  // last status change

    static FileIdentity of(const struct stat& st) {
        auto ns = [](const struct timespec& t) {
            return static_cast<std::uint64_t>(t.tv_sec) * 1'000'000'000u +
                   static_cast<std::uint64_t>(t.tv_nsec);
        };
        return {true,
                static_cast<std::uint64_t>(st.st_dev),
                static_cast<std::uint64_t>(st.st_ino),
                static_cast<std::uint64_t>(st.st_size),
                ns(st.st_mtim),
                ns(st.st_ctim)};
    }

    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

struct DocumentVersion {
    FileIdentity file;
    std::uint64_t generation = 0;  // replacements counted in the lock file

    friend bool operator==(const DocumentVersion&, const DocumentVersion&) = default;
};

}  // namespace vorn
