// The weights readers: the whole-buffer decoder and the streaming file
// reader, fed the same bytes through the file-access seam. Neither crashes
// or trips a sanitizer; what the strict decoder accepts the streaming reader
// reads identically, and a decoded list encodes back to the same bytes
// (reserved field aside).

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "core/format/weights_codec.hpp"
#include "core/store/weights_file.hpp"
#include "fuzz_check.hpp"

using namespace vorn;

namespace {

// One regular file, held in memory, at whatever path is opened.
class MemoryFile : public FileAccess {
  public:
    explicit MemoryFile(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    int open(const char*, int, mode_t) override { return kFd; }
    int close(int) override { return 0; }
    int fstat(int, struct stat* out) override {
        std::memset(out, 0, sizeof *out);
        out->st_mode = S_IFREG | 0644;
        out->st_size = static_cast<off_t>(bytes_.size());
        return 0;
    }
    ssize_t read(int, void* buf, std::size_t n) override {
        // Odd read sizes put record boundaries anywhere in a read.
        std::size_t k = std::min({n, bytes_.size() - at_, std::size_t{4093}});
        std::memcpy(buf, bytes_.data() + at_, k);
        at_ += k;
        return static_cast<ssize_t>(k);
    }

  private:
    static constexpr int kFd = 1000;
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    auto decoded = decode_weights(bytes);
    MemoryFile file(bytes);
    auto read = read_weights("root", "lif", file);
    if (decoded) {
        FUZZ_CHECK(read && *read == *decoded);
        auto encoded = encode_weights(*decoded);
        FUZZ_CHECK(encoded.has_value());
        FUZZ_CHECK(encoded->size() == size);
        FUZZ_CHECK(std::memcmp(encoded->data(), data, 20) == 0);
        FUZZ_CHECK(std::memcmp(encoded->data() + 24, data + 24, size - 24) == 0);
    } else if (read) {
        // The streaming reader ignores bytes after the last record.
        FUZZ_CHECK(size > kWeightsHeaderSize + read->size() * kWeightsRecordSize);
    }
    return 0;
}
