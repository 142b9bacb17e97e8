#pragma once
// WeightsError: why a weights file could not be decoded, read or streamed.

#include <array>
#include <cstdint>
#include <string>

#include "core/format/io_error.hpp"

namespace vorn {

// The four magic bytes of a weights file: "CWT1".
inline constexpr std::array<std::uint8_t, 4> kWeightsMagic = {0x43, 0x57, 0x54, 0x31};
inline constexpr std::uint32_t kWeightsVersion = 1;
inline constexpr std::uint32_t kWeightsRecordSize = 20;  // bytes

struct WeightsError {
    enum class Kind {
        HeaderTruncated,
        BadMagic,
        UnsupportedVersion,
        RecordSizeMismatch,
        BodyLengthMismatch,
        RecordCountOverflow,
        NonFiniteWeight,
        Io,
    };

    Kind kind = Kind::Io;
    std::uint64_t a = 0;  // bytes read, found version/size, expected bytes, count, index
    std::uint64_t b = 0;  // max version, expected size, got bytes
    std::array<std::uint8_t, 4> magic{};  // BadMagic: the bytes found
    float value = 0.0f;                   // NonFiniteWeight
    IoError io;                           // Io

    static WeightsError header_truncated(std::uint64_t bytes_read);
    static WeightsError bad_magic(std::array<std::uint8_t, 4> found);
    static WeightsError unsupported_version(std::uint32_t found, std::uint32_t max);
    static WeightsError record_size_mismatch(std::uint32_t found, std::uint32_t expected);
    static WeightsError body_length_mismatch(std::uint64_t expected, std::uint64_t got);
    static WeightsError record_count_overflow(std::uint64_t count);
    static WeightsError non_finite_weight(std::uint64_t index, float value);
    static WeightsError io_error(IoError e);

    std::string message() const;

    friend bool operator==(const WeightsError&, const WeightsError&) = default;
};

}  // namespace vorn
