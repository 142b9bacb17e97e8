#pragma once
// Reading and writing a folder's metadata.json.

#include <expected>
#include <string>

#include "core/format/metadata.hpp"
#include "core/store/cortex_error.hpp"
#include "core/store/document_version.hpp"
#include "core/store/file_access.hpp"

namespace vorn {

// The migrated, validated record, or MissingFile, Io (NotRegularFile for a
// FIFO, folder or device in its place) or Metadata. When seen is given, it
// receives the identity of the file that was read.
std::expected<MetadataFile, CortexError> read_metadata(const std::string& root,
                                                       FileAccess& fs = system_file_access(),
                                                       FileIdentity* seen = nullptr);

// Validates before any byte is written, then replaces the file atomically.
// Returns nothing, or Metadata, NotADirectory or Io.
std::expected<void, CortexError> write_metadata(const std::string& root, const MetadataFile& m,
                                                FileAccess& fs = system_file_access());

}  // namespace vorn
