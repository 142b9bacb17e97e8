// The journal line reader: any bytes are read without a crash or a sanitizer
// report, and a line that reads writes back as a line that reads again to the
// same text.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/format/event.hpp"
#include "fuzz_check.hpp"

using namespace vorn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    auto parsed = parse_event_line(line, 1 + size % 3);
    if (!parsed)
        return 0;
    auto text = serialize_event(*parsed);
    FUZZ_CHECK(text.has_value());
    FUZZ_CHECK(text->find('\n') == std::string::npos);
    auto again = parse_event_line(*text, 1);
    FUZZ_CHECK(again.has_value());
    auto text_again = serialize_event(*again);
    FUZZ_CHECK(text_again && *text_again == *text);
    return 0;
}
