#pragma once
// JsonError: why a JSON document could not be read or written, with the
// position in the input where the reader stopped.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vorn {

// The deepest nesting of arrays and objects in a document, counting the
// outermost container. The reader refuses deeper input, which would only
// serve to exhaust the stack of code that walks values recursively; the
// writer refuses it too, so that every document written can be read back.
inline constexpr std::size_t kMaxJsonDepth = 128;

struct JsonError {
    std::string text;          // what went wrong, without the position
    std::uint64_t line = 0;    // 1-based; 0 when the error has no position (writer errors)
    std::uint64_t column = 0;  // 1-based byte column; 0 when only the line is known

    // text, then " at line {} column {}" (or " at line {}") when a position is known.
    std::string message() const {
        if (line == 0)
            return text;
        std::string out = text + " at line " + std::to_string(line);
        if (column != 0)
            out += " column " + std::to_string(column);
        return out;
    }

    friend bool operator==(const JsonError&, const JsonError&) = default;
};

}  // namespace vorn
