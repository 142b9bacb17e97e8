#include "core/util/float_format.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace vorn {
namespace {

// Lays out the shortest round-trip digits in plain decimal notation. The
// digits come from the scientific form because fixed notation of large values
// prints every digit of the exact binary value instead of the shortest.
template <typename T>
std::string format_shortest_fixed(T value) {
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    std::string_view sci(buf, res.ptr - buf);
    std::string out;
    if (sci.front() == '-') {
        out.push_back('-');
        sci.remove_prefix(1);
    }
    std::size_t e_pos = sci.find('e');
    int exponent = std::atoi(std::string(sci.substr(e_pos + 1)).c_str());
    std::string digits;
    for (char c : sci.substr(0, e_pos)) {
        if (c != '.')
            digits.push_back(c);
    }
    if (digits == "0")
        return out + "0";
    // digits d0 d1 ... with the decimal point after d0, scaled by 10^exponent.
    int point = exponent + 1;  // digits before the decimal point
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
        out += digits;
        out.append(static_cast<std::size_t>(point) - digits.size(), '0');
    } else {
        out += digits.substr(0, static_cast<std::size_t>(point));
        out.push_back('.');
        out += digits.substr(static_cast<std::size_t>(point));
    }
    return out;
}

}  // namespace

std::string format_float(float value) {
    return format_shortest_fixed(value);
}
std::string format_double(double value) {
    return format_shortest_fixed(value);
}

}  // namespace vorn
