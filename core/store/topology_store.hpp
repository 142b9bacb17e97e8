#pragma once
// Reading and writing a folder's topology.json, bounded by a size limit.

#include <cstdint>
#include <expected>
#include <string>

#include "core/format/topology.hpp"
#include "core/store/cortex_error.hpp"
#include "core/store/document_version.hpp"
#include "core/store/file_access.hpp"

namespace vorn {

// The environment variable that overrides the topology size limit.
inline constexpr const char* kMaxTopologyBytesEnv = "CORTEX_MAX_TOPOLOGY_BYTES";

// The size limit in bytes: the variable's value when it is an optional
// '+' followed by decimal digits that fit 64 bits (0 included), else the
// default of 256 MiB. Read at every call.
std::uint64_t max_topology_bytes();

// A validated topology, or MissingFile, Io (NotRegularFile for a FIFO,
// folder or device in its place), TopologyTooLarge or Topology. The file is
// streamed: no more than the fixed cap plus one byte is read, even if the
// file grows while it is read. When seen is given, it receives the identity
// of the file that was read.
std::expected<TopologyFile, CortexError> read_topology(const std::string& root,
                                                       FileAccess& fs = system_file_access(),
                                                       FileIdentity* seen = nullptr);

// Validates and serialises before any byte is written, then replaces the
// file atomically. Returns nothing, or Topology, NotADirectory or Io.
std::expected<void, CortexError> write_topology(const std::string& root, const TopologyFile& t,
                                                FileAccess& fs = system_file_access());

}  // namespace vorn
