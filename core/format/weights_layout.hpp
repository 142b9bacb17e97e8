#pragma once
// Byte layout of the weights file: a 24-byte little-endian header followed by
// 20-byte (edge id, f32 weight) records.

#include <bit>
#include <cstddef>
#include <cstdint>

#include "core/format/errors.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

// The magic, version and record size live beside the error type that names them.
inline constexpr std::size_t kWeightsHeaderSize = 24;  // bytes
// Readers never reserve more records than this up front, whatever the header
// claims, so a corrupt count cannot force a huge allocation.
inline constexpr std::uint64_t kWeightsMaxPreallocRecords = 1'048'576;

// One stored weight; in memory it has exactly the on-disk record layout (id
// bytes, then the little-endian f32).
struct WeightRecord {
    Uuid id;
    float weight = 0.0f;

    friend bool operator==(const WeightRecord&, const WeightRecord&) = default;
};

// Records are copied between memory and file as whole arrays, which is only
// the file layout on little-endian hosts (all supported targets).
static_assert(std::endian::native == std::endian::little);
static_assert(sizeof(WeightRecord) == kWeightsRecordSize);
static_assert(offsetof(WeightRecord, weight) == 16);

}  // namespace vorn
