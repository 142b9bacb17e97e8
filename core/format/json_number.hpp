#pragma once
// Numbers as the store's documents write them: the shortest digits that read
// back to the same value (as f32 or as f64), laid out in plain decimal for
// moderate magnitudes and in scientific form ("1e-7", "1.5e20") otherwise.

#include <string>

namespace vorn {

// Appends an f32 value: plain for 1e-6 <= |v| < 1e13 (with ".0" when whole),
// scientific outside; "0.0" / "-0.0" for zeros; "null" when not finite.
void append_json_f32(std::string& out, float value);
// Appends an f64 value: plain for 1e-5 <= |v| < 1e16, scientific outside;
// zeros and non-finite values as for f32.
void append_json_f64(std::string& out, double value);

}  // namespace vorn
