#include "core/util/uuid.hpp"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vorn {
namespace {

constexpr char kHex[] = "0123456789abcdef";
// Positions of the hyphens in the 36-character form.
constexpr bool is_hyphen_pos(std::size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string describe_char(char c) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(c));
        return buf;
    }
    return std::string(1, c);
}

std::string invalid_char(char c, std::size_t pos) {
    return "invalid character: expected [0-9a-fA-F], found `" + describe_char(c) + "` at " +
           std::to_string(pos + 1);
}

// Hex digit values, -1 for every other byte.
constexpr auto kHexTable = [] {
    std::array<std::int8_t, 256> t{};
    for (auto& v : t)
        v = -1;
    for (int c = '0'; c <= '9'; ++c)
        t[c] = static_cast<std::int8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c)
        t[c] = static_cast<std::int8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c)
        t[c] = static_cast<std::int8_t>(c - 'A' + 10);
    return t;
}();

// The common 36-character hyphenated form, decoded without branches per
// digit. False when s is not exactly that form (the caller then reports why).
bool parse_hyphenated_fast(std::string_view s, Uuid& out) {
    if (s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-')
        return false;
    static constexpr std::uint8_t kPos[16] = {0,  2,  4,  6,  9,  11, 14, 16,
                                              19, 21, 24, 26, 28, 30, 32, 34};
    int bad = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        int hi = kHexTable[static_cast<unsigned char>(s[kPos[i]])];
        int lo = kHexTable[static_cast<unsigned char>(s[kPos[i] + 1])];
        bad |= hi | lo;
        out.bytes[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return bad >= 0;
}

std::expected<Uuid, std::string> parse_simple(std::string_view s, std::size_t offset) {
    Uuid id;
    for (std::size_t i = 0; i < 32; ++i) {
        int v = hex_value(s[i]);
        if (v < 0)
            return std::unexpected(invalid_char(s[i], offset + i));
        id.bytes[i / 2] = static_cast<std::uint8_t>(id.bytes[i / 2] << 4 | v);
    }
    return id;
}

std::expected<Uuid, std::string> parse_hyphenated(std::string_view s, std::size_t offset) {
    static constexpr std::size_t kGroupStart[] = {0, 9, 14, 19, 24};
    static constexpr std::size_t kGroupLen[] = {8, 4, 4, 4, 12};
    // Report misplaced hyphens as group-length faults before looking at digits.
    for (std::size_t g = 0; g < 5; ++g) {
        std::size_t end = kGroupStart[g] + kGroupLen[g];
        for (std::size_t i = kGroupStart[g]; i < end; ++i) {
            if (s[i] == '-') {
                return std::unexpected("invalid group length in group " + std::to_string(g + 1) +
                                       ": expected " + std::to_string(kGroupLen[g]) + ", found " +
                                       std::to_string(i - kGroupStart[g]));
            }
        }
        if (g < 4 && s[end] != '-') {
            if (hex_value(s[end]) >= 0) {
                return std::unexpected("invalid group length in group " + std::to_string(g + 1) +
                                       ": expected " + std::to_string(kGroupLen[g]) +
                                       ", found more");
            }
            return std::unexpected(invalid_char(s[end], offset + end));
        }
    }
    Uuid id;
    std::size_t nibble = 0;
    for (std::size_t i = 0; i < 36; ++i) {
        if (is_hyphen_pos(i))
            continue;
        int v = hex_value(s[i]);
        if (v < 0)
            return std::unexpected(invalid_char(s[i], offset + i));
        id.bytes[nibble / 2] = static_cast<std::uint8_t>(id.bytes[nibble / 2] << 4 | v);
        ++nibble;
    }
    return id;
}

bool iequals_prefix(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

}  // namespace

void Uuid::write_to(char* out) const {
    std::size_t o = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out[o++] = '-';
        out[o++] = kHex[bytes[i] >> 4];
        out[o++] = kHex[bytes[i] & 0x0f];
    }
}

std::string Uuid::to_string() const {
    std::string s(36, '\0');
    write_to(s.data());
    return s;
}

std::expected<Uuid, std::string> Uuid::parse(std::string_view text) {
    switch (text.size()) {
        case 32:
            return parse_simple(text, 0);
        case 36: {
            Uuid id;
            if (parse_hyphenated_fast(text, id))
                return id;
            return parse_hyphenated(text, 0);
        }
        case 38:
            if (text.front() != '{')
                return std::unexpected(invalid_char(text.front(), 0));
            if (text.back() != '}')
                return std::unexpected(invalid_char(text.back(), 37));
            return parse_hyphenated(text.substr(1, 36), 1);
        case 45:
            if (!iequals_prefix(text, "urn:uuid:")) {
                return std::unexpected(
                    std::string("invalid prefix: expected `urn:uuid:` before a 36-character id"));
            }
            return parse_hyphenated(text.substr(9), 9);
        default:
            return std::unexpected("invalid length: expected length 32, 36, 38 or 45, found " +
                                   std::to_string(text.size()));
    }
}

Uuid Uuid::v4_from_bytes(std::array<std::uint8_t, 16> raw) {
    Uuid id{raw};
    id.bytes[6] = static_cast<std::uint8_t>((id.bytes[6] & 0x0f) | 0x40);
    id.bytes[8] = static_cast<std::uint8_t>((id.bytes[8] & 0x3f) | 0x80);
    return id;
}

std::expected<Uuid, std::string> Uuid::random_v4() {
    std::array<std::uint8_t, 16> raw;
    if (getentropy(raw.data(), raw.size()) != 0) {
        return std::unexpected(std::string("could not retrieve random bytes for uuid: ") +
                               std::strerror(errno));
    }
    return v4_from_bytes(raw);
}

std::expected<void, std::string> Uuid::random_v4_many(Uuid* out, std::size_t count) {
    // getentropy serves at most 256 bytes per call: 16 ids.
    constexpr std::size_t kPerCall = 16;
    std::array<std::uint8_t, 16 * kPerCall> raw;
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(kPerCall, count - done);
        if (getentropy(raw.data(), 16 * n) != 0) {
            return std::unexpected(std::string("could not retrieve random bytes for uuid: ") +
                                   std::strerror(errno));
        }
        for (std::size_t i = 0; i < n; ++i) {
            std::array<std::uint8_t, 16> one;
            std::memcpy(one.data(), raw.data() + 16 * i, 16);
            out[done + i] = v4_from_bytes(one);
        }
        done += n;
    }
    return {};
}

}  // namespace vorn
