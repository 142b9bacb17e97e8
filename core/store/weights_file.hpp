#pragma once
// Reading and atomically replacing weights/{cortex_type}/latest.cwt under a
// network folder.

#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/weights_layout.hpp"
#include "core/store/cortex_error.hpp"
#include "core/store/file_access.hpp"

namespace vorn {

// root/weights/{cortex_type}/latest.cwt
std::string weights_path(std::string_view root, std::string_view cortex_type);

// Replaces the weights file with records, in order, creating missing folders.
// Fails with Weights(NonFiniteWeight) before any record byte is written, with
// Weights(Io) when streaming the header or records fails, and with Io for
// other OS failures. After any failure the previous file is intact and the
// temporary file has been removed.
std::expected<void, CortexError> write_weights(std::string_view root, std::string_view cortex_type,
                                               std::span<const WeightRecord> records,
                                               FileAccess& fs = system_file_access());

// The records in file order; empty (and nothing created) when the file does
// not exist. Bytes after the last counted record are ignored. Fails with
// Weights for a corrupt or foreign file, Io when the file cannot be opened
// (NotRegularFile for a folder, FIFO or device in its place).
std::expected<std::vector<WeightRecord>, CortexError> read_weights(
    std::string_view root, std::string_view cortex_type, FileAccess& fs = system_file_access());

}  // namespace vorn
