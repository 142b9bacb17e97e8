#pragma once
// A 16-byte RFC 4122 identifier: canonical text form, lenient parsing, v4 minting.

#include <array>
#include <compare>
#include <cstdint>
#include <cstring>
#include <expected>
#include <functional>
#include <string>
#include <string_view>

namespace vorn {

struct Uuid {
    // Bytes in the order of the hexadecimal digits of the text form.
    std::array<std::uint8_t, 16> bytes{};

    friend bool operator==(const Uuid&, const Uuid&) = default;
    friend auto operator<=>(const Uuid&, const Uuid&) = default;

    // Canonical lowercase hyphenated text, 36 characters.
    std::string to_string() const;
    // Writes the 36 canonical characters to out (no terminator).
    void write_to(char* out) const;

    // Accepts hyphenated, braced, "urn:uuid:"-prefixed and 32 bare hex digits,
    // in either case. On failure returns a short description of the fault.
    static std::expected<Uuid, std::string> parse(std::string_view text);

    // Sets the version-4 and RFC 4122 variant bits of 16 given bytes.
    static Uuid v4_from_bytes(std::array<std::uint8_t, 16> bytes);

    // A fresh version-4 id from the operating system's random source. On
    // failure returns "could not retrieve random bytes for uuid: {}".
    static std::expected<Uuid, std::string> random_v4();
    // Fills out with fresh version-4 ids, 16 random bytes each, asking the
    // random source for many at a time. Errors as random_v4.
    static std::expected<void, std::string> random_v4_many(Uuid* out, std::size_t count);

    std::uint64_t hi() const {
        std::uint64_t v;
        std::memcpy(&v, bytes.data(), 8);
        return v;
    }
    std::uint64_t lo() const {
        std::uint64_t v;
        std::memcpy(&v, bytes.data() + 8, 8);
        return v;
    }
};

struct UuidHash {
    std::size_t operator()(const Uuid& id) const noexcept {
        // Mix both halves so that ids with structured bytes still spread.
        std::uint64_t x = id.hi() ^ (id.lo() * 0x9e3779b97f4a7c15ULL);
        x ^= x >> 32;
        x *= 0xd6e8feb86659fd93ULL;
        x ^= x >> 32;
        return static_cast<std::size_t>(x);
    }
};

}  // namespace vorn

template <>
struct std::hash<vorn::Uuid> : vorn::UuidHash {};
