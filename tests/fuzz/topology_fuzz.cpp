// The topology reader: any bytes are read without a crash or a sanitizer
// report. A document that reads is valid, writes back, and reads again as the
// same record, whose text is then a fixed point. The same bytes streamed in
// small pieces give the same record or the same error, position included.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/format/topology.hpp"
#include "fuzz_check.hpp"

using namespace vorn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto parsed = parse_topology(bytes);

    fuzz::PieceSource pieces(bytes, 1 + size % 7);
    JsonInput input(pieces, kTopologyByteCap);
    auto streamed = read_topology_json(input);
    if (parsed) {
        FUZZ_CHECK(streamed && *streamed == *parsed);
        auto text = serialize_topology(*parsed);
        FUZZ_CHECK(text.has_value());
        auto again = parse_topology(*text);
        FUZZ_CHECK(again && *again == *parsed);
        auto text_again = serialize_topology(*again);
        FUZZ_CHECK(text_again && *text_again == *text);
    } else if (streamed) {
        FUZZ_CHECK(validate_topology(*streamed).has_value());
    } else {
        FUZZ_CHECK(parsed.error().message() ==
                   TopologyError::json_error(streamed.error()).message());
    }
    return 0;
}
