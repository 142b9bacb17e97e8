#include "core/format/json_number.hpp"

#include <charconv>
#include <cmath>

namespace vorn {
namespace {

// Writes digits d[0..n) scaled so that the value lies in [10^(p-1), 10^p).
// Values with min_p < p <= max_p are written without an exponent.
void lay_out(std::string& out, const char* d, int n, int p, int min_p, int max_p) {
    if (p > 0 && p <= max_p) {
        if (n <= p) {
            out.append(d, static_cast<std::size_t>(n));
            out.append(static_cast<std::size_t>(p - n), '0');
            out += ".0";
        } else {
            out.append(d, static_cast<std::size_t>(p));
            out.push_back('.');
            out.append(d + p, static_cast<std::size_t>(n - p));
        }
        return;
    }
    if (p > min_p && p <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-p), '0');
        out.append(d, static_cast<std::size_t>(n));
        return;
    }
    out.push_back(d[0]);
    if (n > 1) {
        out.push_back('.');
        out.append(d + 1, static_cast<std::size_t>(n - 1));
    }
    out.push_back('e');
    char buf[8];
    auto r = std::to_chars(buf, buf + sizeof buf, p - 1);
    out.append(buf, r.ptr);
}

template <typename T>
void append_number(std::string& out, T value, int min_p, int max_p) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    if (value == 0) {
        out += std::signbit(value) ? "-0.0" : "0.0";
        return;
    }
    // The scientific form of to_chars carries exactly the shortest digits.
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    const char* p = buf;
    if (*p == '-') {
        out.push_back('-');
        ++p;
    }
    char digits[32];
    int n = 0;
    for (; p < r.ptr && *p != 'e'; ++p) {
        if (*p != '.')
            digits[n++] = *p;
    }
    ++p;  // 'e'
    bool exp_negative = *p == '-';
    ++p;  // sign
    int exponent = 0;
    std::from_chars(p, r.ptr, exponent);
    if (exp_negative)
        exponent = -exponent;
    lay_out(out, digits, n, exponent + 1, min_p, max_p);
}

}  // namespace

void append_json_f32(std::string& out, float value) {
    append_number(out, value, -6, 13);
}

void append_json_f64(std::string& out, double value) {
    append_number(out, value, -5, 16);
}

}  // namespace vorn
