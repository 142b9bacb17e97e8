#include "core/format/json_sax.hpp"

#include "core/format/utf8.hpp"

namespace vorn {

std::string library_error_text(const std::string& what) {
    // "[json.exception.parse_error.101] parse error at line 1, column 2: <text>"
    std::string_view text = what;
    if (auto bracket = text.find("] "); bracket != std::string_view::npos)
        text.remove_prefix(bracket + 2);
    if (text.starts_with("parse error")) {
        if (auto colon = text.find(": "); colon != std::string_view::npos)
            text.remove_prefix(colon + 2);
    }
    // The library quotes the bytes it read last, which may be ill-formed UTF-8.
    return utf8_lossy(text);
}

}  // namespace vorn
