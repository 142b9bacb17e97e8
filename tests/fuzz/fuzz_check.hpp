#pragma once
// Helpers shared by the fuzz targets: a failed expectation aborts (so that
// libFuzzer records the input), and a byte source that serves its input in
// pieces of a chosen size, so that chunk boundaries fall everywhere.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "core/format/json_input.hpp"

namespace vorn::fuzz {

// Aborts with the failed condition: the fuzzer keeps the input as a crash.
inline void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}
#define FUZZ_CHECK(cond) ::vorn::fuzz::check((cond), #cond)

class PieceSource : public ByteSource {
  public:
    PieceSource(std::string_view bytes, std::size_t piece) : bytes_(bytes), piece_(piece) {}

    std::expected<std::size_t, IoError> read(char* buf, std::size_t n) override {
        std::size_t k = std::min({n, piece_, bytes_.size() - at_});
        std::memcpy(buf, bytes_.data() + at_, k);
        at_ += k;
        return k;
    }

  private:
    std::string_view bytes_;
    std::size_t piece_;
    std::size_t at_ = 0;
};

}  // namespace vorn::fuzz
