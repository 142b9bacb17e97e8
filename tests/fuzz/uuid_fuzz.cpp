// The lenient UUID parser: any text is parsed without a crash or a sanitizer
// report. An id that parses prints as 36 lowercase hyphenated characters that
// parse back to the same id, and so do its other accepted spellings.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/util/uuid.hpp"
#include "fuzz_check.hpp"

using namespace vorn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto id = Uuid::parse(text);
    if (!id) {
        FUZZ_CHECK(!id.error().empty());
        return 0;
    }
    const std::string canonical = id->to_string();
    FUZZ_CHECK(canonical.size() == 36);
    for (std::size_t i = 0; i < canonical.size(); ++i) {
        const char c = canonical[i];
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        FUZZ_CHECK(hyphen ? c == '-' : (std::isdigit(c) || (c >= 'a' && c <= 'f')));
    }
    std::string upper = canonical;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string bare;
    for (char c : canonical)
        if (c != '-')
            bare.push_back(c);
    for (const std::string& form :
         {canonical, upper, "{" + canonical + "}", "urn:uuid:" + canonical, bare}) {
        auto back = Uuid::parse(form);
        FUZZ_CHECK(back && *back == *id);
    }
    return 0;
}
