#pragma once
// Encoding and decoding of the weights file, in whole buffers or piecewise
// (header, then runs of records) for the streaming reader and writer.

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "core/format/errors.hpp"
#include "core/format/weights_layout.hpp"

namespace vorn {

using WeightsHeader = std::array<std::uint8_t, kWeightsHeaderSize>;

// The header for record_count records, reserved field 0.
WeightsHeader encode_weights_header(std::uint64_t record_count);

// Checks magic, version, record size and that record_count * 20 fits in 64
// bits, in that order. Returns record_count or the first failed check.
std::expected<std::uint64_t, WeightsError> parse_weights_header(
    std::span<const std::uint8_t, kWeightsHeaderSize> header);

// NonFiniteWeight for the first NaN or infinite weight, its index counted
// from first_index; nullopt when all are finite.
std::optional<WeightsError> find_non_finite_weight(std::span<const WeightRecord> records,
                                                   std::uint64_t first_index = 0);

// Writes records.size() * 20 bytes of file records to out.
void encode_weight_records(std::span<const WeightRecord> records, std::uint8_t* out);
// Reads out.size() records from out.size() * 20 bytes at in.
void decode_weight_records(const std::uint8_t* in, std::span<WeightRecord> out);

// A whole file: header and records. Fails with NonFiniteWeight before
// producing anything if a weight is not finite.
std::expected<std::vector<std::uint8_t>, WeightsError> encode_weights(
    std::span<const WeightRecord> records);

// A whole file held in memory. Unlike the streaming reader it refuses bytes
// after the last record (BodyLengthMismatch).
std::expected<std::vector<WeightRecord>, WeightsError> decode_weights(
    std::span<const std::uint8_t> buffer);

}  // namespace vorn
