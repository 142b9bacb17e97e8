#include "core/store/weights_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "core/format/folder_layout.hpp"
#include "core/format/weights_codec.hpp"
#include "core/store/atomic_file.hpp"
#include "core/store/file_ops.hpp"

namespace vorn {
namespace {

constexpr std::size_t kWriteBufferBytes = 8192;
// Records per read call (1.25 MiB): large reads keep the call count low.
constexpr std::size_t kReadChunkRecords = 65536;

// Collects small writes in an 8 KiB buffer; a write at least as large as the
// buffer goes straight to the file once the buffered bytes are out.
class BufferedWriter {
  public:
    explicit BufferedWriter(AtomicFile& file) : file_(file) {}

    std::expected<void, IoError> append(const void* data, std::size_t n) {
        if (n == 0)
            return {};  // an empty span may have no storage at all
        if (used_ + n > buffer_.size()) {
            if (auto r = flush(); !r)
                return r;
        }
        if (n >= buffer_.size())
            return file_.write(std::string_view(static_cast<const char*>(data), n));
        std::memcpy(buffer_.data() + used_, data, n);
        used_ += n;
        return {};
    }

    std::expected<void, IoError> flush() {
        std::size_t n = used_;
        used_ = 0;
        return file_.write(std::string_view(buffer_.data(), n));
    }

  private:
    AtomicFile& file_;
    std::array<char, kWriteBufferBytes> buffer_;
    std::size_t used_ = 0;
};

// Reads up to n bytes, stopping early only at end of file or on an error
// (which, like the end of file, shows as a short count). Returns the count.
std::size_t read_up_to(FileAccess& fs, int fd, void* out, std::size_t n) {
    auto* p = static_cast<char*>(out);
    std::size_t done = 0;
    while (done < n) {
        ssize_t got = fs.read(fd, p + done, n - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

// How many records to reserve before reading: never more than the header
// claims, and beyond the fixed cap only as many as the file really holds, so
// a corrupt count cannot force an allocation larger than the file itself.
std::size_t records_to_reserve(std::uint64_t count, std::uint64_t file_size) {
    std::uint64_t present =
        file_size > kWeightsHeaderSize ? (file_size - kWeightsHeaderSize) / kWeightsRecordSize : 0;
    return static_cast<std::size_t>(std::min(count, std::max(kWeightsMaxPreallocRecords, present)));
}

std::expected<std::vector<WeightRecord>, CortexError> read_open_file(FileAccess& fs, int fd,
                                                                     std::uint64_t file_size) {
    WeightsHeader header;
    std::size_t got = read_up_to(fs, fd, header.data(), header.size());
    if (got < header.size())
        return std::unexpected(WeightsError::header_truncated(got));
    auto count = parse_weights_header(header);
    if (!count)
        return std::unexpected(count.error());

    std::vector<WeightRecord> records;
    records.reserve(records_to_reserve(*count, file_size));
    // Records have the file layout in memory: each chunk is read straight into
    // a reused staging block and appended with one copy, which leaves the
    // result's fresh memory touched once.
    std::vector<WeightRecord> chunk(
        static_cast<std::size_t>(std::min<std::uint64_t>(*count, kReadChunkRecords)));
    std::uint64_t done = 0;
    while (done < *count) {
        auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(*count - done, kReadChunkRecords));
        std::size_t whole =
            read_up_to(fs, fd, chunk.data(), want * kWeightsRecordSize) / kWeightsRecordSize;
        std::span<const WeightRecord> complete(chunk.data(), whole);
        // Records count one at a time: a bad weight in a complete record is
        // reported before the short body that follows it.
        if (auto bad = find_non_finite_weight(complete, done))
            return std::unexpected(*bad);
        if (whole < want) {
            return std::unexpected(WeightsError::body_length_mismatch(
                *count * kWeightsRecordSize, (done + whole) * kWeightsRecordSize));
        }
        records.insert(records.end(), complete.begin(), complete.end());
        done += want;
    }
    return records;
}

}  // namespace

std::string weights_path(std::string_view root, std::string_view cortex_type) {
    std::string dir = join_path(join_path(root, kWeightsDirName), cortex_type);
    return join_path(dir, kWeightsFileName);
}

std::expected<void, CortexError> write_weights(std::string_view root, std::string_view cortex_type,
                                               std::span<const WeightRecord> records,
                                               FileAccess& fs) {
    auto file = AtomicFile::begin(weights_path(root, cortex_type), fs);
    if (!file)
        return std::unexpected(std::move(file.error()));
    if (auto bad = find_non_finite_weight(records))
        return std::unexpected(*bad);
    BufferedWriter out(*file);
    WeightsHeader header = encode_weights_header(records.size());
    auto streamed = out.append(header.data(), header.size());
    if (streamed)
        streamed = out.append(records.data(), records.size_bytes());
    if (!streamed)
        return std::unexpected(WeightsError::io_error(streamed.error()));
    if (auto flushed = out.flush(); !flushed)
        return std::unexpected(flushed.error());
    return file->commit();
}

std::expected<std::vector<WeightRecord>, CortexError> read_weights(std::string_view root,
                                                                   std::string_view cortex_type,
                                                                   FileAccess& fs) {
    std::string path = weights_path(root, cortex_type);
    auto file = open_regular(fs, path, O_RDONLY);
    if (!file) {
        // ENOTDIR: a file stands where one of the path's folders should be,
        // so the weights file does not exist either.
        if (file.error().is_missing())
            return std::vector<WeightRecord>{};
        return std::unexpected(file.error());
    }
    UniqueFd fd(fs, file->fd);
    return read_open_file(fs, fd.get(), static_cast<std::uint64_t>(file->st.st_size));
}

}  // namespace vorn
