#pragma once
// AtomicFile: replaces a file whole or not at all. Content goes to a
// temporary file beside the target, which is flushed to stable storage and
// renamed over the target. The temporary name is unique to the writer
// ("<name>.<pid>.<n>.tmp", created exclusively), so that no writer can rename
// in a file that another is still writing. After a failure the target keeps
// its previous content and the temporary file is removed.

#include <expected>
#include <string>
#include <string_view>

#include "core/store/cortex_error.hpp"
#include "core/store/file_access.hpp"

namespace vorn {

class AtomicFile {
  public:
    // Creates the target's folder and missing ancestors, then creates a
    // fresh temporary file. Fails with NotADirectory when path names no
    // file, or Io.
    static std::expected<AtomicFile, CortexError> begin(std::string path,
                                                        FileAccess& fs = system_file_access());

    AtomicFile(AtomicFile&& other) noexcept;
    AtomicFile& operator=(AtomicFile&&) = delete;
    AtomicFile(const AtomicFile&) = delete;
    // Closes the temporary file if still open, and removes it unless it has
    // been renamed over the target.
    ~AtomicFile();

    // Appends bytes to the temporary file, retrying interrupted writes.
    std::expected<void, IoError> write(std::string_view bytes);

    // Flushes and closes the temporary file, renames it over the target,
    // then flushes the folder on a best-effort basis. Fails with Io.
    std::expected<void, CortexError> commit();

    const std::string& path() const { return path_; }
    const std::string& temp_path() const { return temp_path_; }

  private:
    AtomicFile(FileAccess& fs, std::string path, std::string temp_path, std::string parent, int fd);

    FileAccess* fs_;
    std::string path_;
    std::string temp_path_;
    std::string parent_;
    int fd_;
    bool temp_exists_ = true;  // false once renamed, removed or moved from
};

// The whole procedure for content held in memory. Returns nothing, or
// NotADirectory or Io.
std::expected<void, CortexError> atomic_write(const std::string& path, std::string_view bytes,
                                              FileAccess& fs = system_file_access());

}  // namespace vorn
