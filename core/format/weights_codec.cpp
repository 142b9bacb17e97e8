#include "core/format/weights_codec.hpp"

#include <cmath>
#include <cstring>
#include <limits>

namespace vorn {
namespace {

template <typename T>
void store_le(std::uint8_t* out, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

template <typename T>
T load_le(const std::uint8_t* in) {
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        value = static_cast<T>(value | static_cast<T>(in[i]) << (8 * i));
    return value;
}

}  // namespace

WeightsHeader encode_weights_header(std::uint64_t record_count) {
    WeightsHeader header{};
    std::memcpy(header.data(), kWeightsMagic.data(), kWeightsMagic.size());
    store_le<std::uint32_t>(header.data() + 4, kWeightsVersion);
    store_le<std::uint64_t>(header.data() + 8, record_count);
    store_le<std::uint32_t>(header.data() + 16, kWeightsRecordSize);
    return header;  // bytes 20..23 (reserved) stay zero
}

std::expected<std::uint64_t, WeightsError> parse_weights_header(
    std::span<const std::uint8_t, kWeightsHeaderSize> header) {
    std::array<std::uint8_t, 4> magic;
    std::memcpy(magic.data(), header.data(), magic.size());
    if (magic != kWeightsMagic)
        return std::unexpected(WeightsError::bad_magic(magic));
    auto version = load_le<std::uint32_t>(header.data() + 4);
    if (version != kWeightsVersion)
        return std::unexpected(WeightsError::unsupported_version(version, kWeightsVersion));
    auto record_size = load_le<std::uint32_t>(header.data() + 16);
    if (record_size != kWeightsRecordSize) {
        return std::unexpected(WeightsError::record_size_mismatch(record_size, kWeightsRecordSize));
    }
    auto record_count = load_le<std::uint64_t>(header.data() + 8);
    if (record_count > std::numeric_limits<std::uint64_t>::max() / kWeightsRecordSize)
        return std::unexpected(WeightsError::record_count_overflow(record_count));
    return record_count;
}

std::optional<WeightsError> find_non_finite_weight(std::span<const WeightRecord> records,
                                                   std::uint64_t first_index) {
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (!std::isfinite(records[i].weight))
            return WeightsError::non_finite_weight(first_index + i, records[i].weight);
    }
    return std::nullopt;
}

void encode_weight_records(std::span<const WeightRecord> records, std::uint8_t* out) {
    if (!records.empty())  // an empty span may have no storage at all
        std::memcpy(out, records.data(), records.size_bytes());
}

void decode_weight_records(const std::uint8_t* in, std::span<WeightRecord> out) {
    if (!out.empty())
        std::memcpy(out.data(), in, out.size_bytes());
}

std::expected<std::vector<std::uint8_t>, WeightsError> encode_weights(
    std::span<const WeightRecord> records) {
    if (auto bad = find_non_finite_weight(records))
        return std::unexpected(*bad);
    std::vector<std::uint8_t> out(kWeightsHeaderSize + records.size_bytes());
    WeightsHeader header = encode_weights_header(records.size());
    std::memcpy(out.data(), header.data(), header.size());
    encode_weight_records(records, out.data() + kWeightsHeaderSize);
    return out;
}

std::expected<std::vector<WeightRecord>, WeightsError> decode_weights(
    std::span<const std::uint8_t> buffer) {
    if (buffer.size() < kWeightsHeaderSize)
        return std::unexpected(WeightsError::header_truncated(buffer.size()));
    auto count = parse_weights_header(buffer.first<kWeightsHeaderSize>());
    if (!count)
        return std::unexpected(count.error());
    std::uint64_t expected_body = *count * kWeightsRecordSize;
    std::uint64_t body = buffer.size() - kWeightsHeaderSize;
    if (body != expected_body)
        return std::unexpected(WeightsError::body_length_mismatch(expected_body, body));
    // The count is now bounded by the buffer's own length, so this
    // allocation is no larger than the input.
    std::vector<WeightRecord> records(static_cast<std::size_t>(*count));
    decode_weight_records(buffer.data() + kWeightsHeaderSize, records);
    if (auto bad = find_non_finite_weight(records))
        return std::unexpected(*bad);
    return records;
}

}  // namespace vorn
