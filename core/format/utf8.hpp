#pragma once
// UTF-8 well-formedness (RFC 3629: no overlong forms, no surrogates, at most
// U+10FFFF) and lossy rendering of byte strings such as file paths.

#include <cstddef>
#include <string>
#include <string_view>

namespace vorn {

// Length of the well-formed sequence starting at text[i], or 0 if it is not one.
std::size_t utf8_sequence_length(std::string_view text, std::size_t i);

bool is_valid_utf8(std::string_view text);

// The text with each ill-formed sequence replaced by U+FFFD.
std::string utf8_lossy(std::string_view text);

}  // namespace vorn
