#include "core/format/utf8.hpp"

namespace vorn {
namespace {

bool is_continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

}  // namespace

std::size_t utf8_sequence_length(std::string_view text, std::size_t i) {
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char c = at(i);
    std::size_t left = text.size() - i;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        return left >= 2 && is_continuation(at(i + 1)) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (left < 3 || !is_continuation(at(i + 1)) || !is_continuation(at(i + 2)))
            return 0;
        unsigned char c1 = at(i + 1);
        if (c == 0xE0 && c1 < 0xA0)
            return 0;  // overlong
        if (c == 0xED && c1 > 0x9F)
            return 0;  // surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (left < 4 || !is_continuation(at(i + 1)) || !is_continuation(at(i + 2)) ||
            !is_continuation(at(i + 3)))
            return 0;
        unsigned char c1 = at(i + 1);
        if (c == 0xF0 && c1 < 0x90)
            return 0;  // overlong
        if (c == 0xF4 && c1 > 0x8F)
            return 0;  // above U+10FFFF
        return 4;
    }
    return 0;
}

bool is_valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = utf8_sequence_length(text, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::string utf8_lossy(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = utf8_sequence_length(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

}  // namespace vorn
