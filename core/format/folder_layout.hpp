#pragma once
// File names of a network folder, relative to its root.

#include <string_view>

namespace vorn {

inline constexpr std::string_view kMetadataFileName = "metadata.json";
inline constexpr std::string_view kTopologyFileName = "topology.json";
inline constexpr std::string_view kEventsFileName = "events.jsonl";
inline constexpr std::string_view kWeightsDirName = "weights";
inline constexpr std::string_view kWeightsFileName = "latest.cwt";
// Writers hold an advisory lock on this file while they replace documents.
inline constexpr std::string_view kLockFileName = "write.lock";
// Appended to a document's file name for the file written before the rename.
inline constexpr std::string_view kTempSuffix = ".tmp";

inline constexpr std::string_view kTopologyFormatTag = "cortex.topology";
inline constexpr std::string_view kEventFormatTag = "cortex.event";
inline constexpr std::string_view kStateFormatTag = "cortex.state";

inline constexpr unsigned kTopologyVersion = 1;
inline constexpr unsigned kMetadataVersion = 2;
inline constexpr unsigned kEventVersion = 1;
inline constexpr unsigned kStateVersion = 1;

}  // namespace vorn
