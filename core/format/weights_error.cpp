#include "core/format/weights_error.hpp"

#include "core/util/float_format.hpp"

namespace vorn {
namespace {

WeightsError make(WeightsError::Kind kind, std::uint64_t a, std::uint64_t b) {
    WeightsError e;
    e.kind = kind;
    e.a = a;
    e.b = b;
    return e;
}

// "[67, 87, 84, 49]"
std::string byte_list(const std::array<std::uint8_t, 4>& bytes) {
    std::string out = "[";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0)
            out += ", ";
        out += std::to_string(bytes[i]);
    }
    return out + "]";
}

}  // namespace

WeightsError WeightsError::header_truncated(std::uint64_t bytes_read) {
    return make(Kind::HeaderTruncated, bytes_read, 0);
}
WeightsError WeightsError::bad_magic(std::array<std::uint8_t, 4> found) {
    WeightsError e = make(Kind::BadMagic, 0, 0);
    e.magic = found;
    return e;
}
WeightsError WeightsError::unsupported_version(std::uint32_t found, std::uint32_t max) {
    return make(Kind::UnsupportedVersion, found, max);
}
WeightsError WeightsError::record_size_mismatch(std::uint32_t found, std::uint32_t expected) {
    return make(Kind::RecordSizeMismatch, found, expected);
}
WeightsError WeightsError::body_length_mismatch(std::uint64_t expected, std::uint64_t got) {
    return make(Kind::BodyLengthMismatch, expected, got);
}
WeightsError WeightsError::record_count_overflow(std::uint64_t count) {
    return make(Kind::RecordCountOverflow, count, 0);
}
WeightsError WeightsError::non_finite_weight(std::uint64_t index, float value) {
    WeightsError e = make(Kind::NonFiniteWeight, index, 0);
    e.value = value;
    return e;
}
WeightsError WeightsError::io_error(IoError io) {
    WeightsError e = make(Kind::Io, 0, 0);
    e.io = std::move(io);
    return e;
}

std::string WeightsError::message() const {
    switch (kind) {
        case Kind::HeaderTruncated:
            return "weights header truncated: read " + std::to_string(a) + " bytes";
        case Kind::BadMagic:
            return "weights file bad magic " + byte_list(magic) + " (expected " +
                   byte_list(kWeightsMagic) + ")";
        case Kind::UnsupportedVersion:
            return "weights version " + std::to_string(a) + " is not supported (max " +
                   std::to_string(b) + ")";
        case Kind::RecordSizeMismatch:
            return "weights record_size " + std::to_string(a) + " != expected " +
                   std::to_string(b) + " for this version";
        case Kind::BodyLengthMismatch:
            return "weights body length mismatch: expected " + std::to_string(a) + " bytes, got " +
                   std::to_string(b);
        case Kind::RecordCountOverflow:
            return "weights record_count " + std::to_string(a) +
                   " overflows usize multiplication; file is corrupt";
        case Kind::NonFiniteWeight:
            return "weights record at index " + std::to_string(a) + " has non-finite value (" +
                   format_float(value) + ")";
        case Kind::Io:
            return "weights I/O error: " + io.message();
    }
    return {};
}

}  // namespace vorn
