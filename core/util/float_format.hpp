#pragma once
// Floats as they appear in messages: the shortest decimal that reads back to
// the same value, never an exponent, no trailing ".0"; NaN, inf and -inf.

#include <string>

namespace vorn {

std::string format_float(float value);
std::string format_double(double value);

}  // namespace vorn
