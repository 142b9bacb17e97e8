// The metadata reader: any bytes are read without a crash or a sanitizer
// report. A record that reads (version 1 migrated) writes back and reads again
// as the same record, whose text is then a fixed point; streamed in small
// pieces the bytes give the same record or the same error.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/format/metadata.hpp"
#include "fuzz_check.hpp"

using namespace vorn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto parsed = parse_metadata(bytes);

    fuzz::PieceSource pieces(bytes, 1 + size % 5);
    JsonInput input(pieces, size + 1);
    auto streamed = parse_metadata(input);
    FUZZ_CHECK(parsed.has_value() == streamed.has_value());
    if (!parsed) {
        FUZZ_CHECK(parsed.error().message() == streamed.error().message());
        return 0;
    }
    FUZZ_CHECK(*streamed == *parsed);
    // A version-1 record comes out migrated; a version-2 record keeps a
    // source_kind it holds, as the format allows.
    FUZZ_CHECK(parsed->version == 2);
    auto text = serialize_metadata(*parsed);
    FUZZ_CHECK(text.has_value());
    auto again = parse_metadata(*text);
    FUZZ_CHECK(again && *again == *parsed);
    auto text_again = serialize_metadata(*again);
    FUZZ_CHECK(text_again && *text_again == *text);
    return 0;
}
