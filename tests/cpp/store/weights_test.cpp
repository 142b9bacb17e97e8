#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "core/format/weights_codec.hpp"
#include "core/store/weights_file.hpp"
#include "temp_dir.hpp"

namespace vorn {
namespace {

using testing::error_text;
using testing::TempDir;
using Bytes = std::vector<std::uint8_t>;

Bytes read_bytes(const std::string& path) {
    std::string text = testing::slurp(path);
    return Bytes(text.begin(), text.end());
}

void write_bytes(const std::string& path, const Bytes& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    testing::spit(path, std::string(bytes.begin(), bytes.end()));
}

Uuid id_of(const char* text) {
    return *Uuid::parse(text);
}

// A header with arbitrary field values, laid out by hand.
Bytes header(const char magic[4], std::uint32_t version, std::uint64_t count,
             std::uint32_t record_size) {
    Bytes out(magic, magic + 4);
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(version >> (8 * i)));
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<std::uint8_t>(count >> (8 * i)));
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(record_size >> (8 * i)));
    out.insert(out.end(), {0xAA, 0xBB, 0xCC, 0xDD});  // reserved: ignored on read
    return out;
}

void append_record(Bytes& out, std::uint8_t id_byte, float weight) {
    out.insert(out.end(), 16, id_byte);
    std::uint8_t w[4];
    std::memcpy(w, &weight, 4);
    out.insert(out.end(), w, w + 4);
}

std::vector<WeightRecord> sample_records() {
    return {
        {id_of("00112233-4455-6677-8899-aabbccddeeff"), 3.5f},
        {id_of("ffffffff-0000-4000-8000-000000000001"), -2.0f},
        {id_of("00112233-4455-6677-8899-aabbccddeeff"), 0.25f},  // duplicate ids are kept
        {id_of("12345678-9abc-4def-8123-456789abcdef"), -0.0f},
        {id_of("12345678-9abc-4def-8123-456789abcdee"), std::numeric_limits<float>::denorm_min()},
    };
}

class WeightsFileTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string path() const { return weights_path(dir.path, "lif"); }
    bool temp_exists() const {
        return std::filesystem::exists(dir / "weights/lif") &&
               !testing::temp_files(dir / "weights/lif").empty();
    }
};

TEST_F(WeightsFileTest, MissingFileReadsEmptyAndEmptyListIsTheBareHeader) {
    EXPECT_EQ(read_weights(dir.path, "lif"), std::vector<WeightRecord>{});
    EXPECT_FALSE(std::filesystem::exists(dir / "weights"));
    // A file where a folder of the path should be means the file is absent too.
    testing::spit(dir / "weights", "");
    EXPECT_EQ(read_weights(dir.path, "lif"), std::vector<WeightRecord>{});
    std::filesystem::remove(dir / "weights");

    ASSERT_TRUE(write_weights(dir.path, "lif", {}));
    Bytes expected = {'C', 'W', 'T', '1', 1,  0, 0, 0, 0, 0, 0, 0,
                      0,   0,   0,   0,   20, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(read_bytes(dir / "weights/lif/latest.cwt"), expected);
    EXPECT_EQ(read_weights(dir.path, "lif"), std::vector<WeightRecord>{});
}

TEST_F(WeightsFileTest, RecordsHoldIdBytesInTextOrderThenLittleEndianWeight) {
    ASSERT_TRUE(write_weights(
        dir.path, "lif",
        std::vector<WeightRecord>{{id_of("00112233-4455-6677-8899-aabbccddeeff"), 3.5f},
                                  {id_of("ffeeddcc-bbaa-9988-7766-554433221100"), -2.0f}}));
    Bytes file = read_bytes(path());
    ASSERT_EQ(file.size(), 64u);
    EXPECT_EQ(file[8], 2);  // record_count
    Bytes first(file.begin() + 24, file.begin() + 44);
    Bytes second(file.begin() + 44, file.end());
    EXPECT_EQ(first, (Bytes{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99,
                            0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x00, 0x00, 0x60, 0x40}));
    EXPECT_EQ(second, (Bytes{0xff, 0xee, 0xdd, 0xcc, 0xbb, 0xaa, 0x99, 0x88, 0x77, 0x66,
                             0x55, 0x44, 0x33, 0x22, 0x11, 0x00, 0x00, 0x00, 0x00, 0xc0}));
}

TEST_F(WeightsFileTest, RoundTripsThroughFileAndBuffer) {
    // Special values first, then more records than one read chunk and far
    // more bytes than the write buffer.
    std::vector<WeightRecord> records = sample_records();
    records.resize(200'003);
    for (std::size_t i = sample_records().size(); i < records.size(); ++i) {
        std::uint64_t v = i * 0x9e3779b97f4a7c15ULL;
        std::memcpy(records[i].id.bytes.data(), &v, 8);
        std::memcpy(records[i].id.bytes.data() + 8, &i, 8);
        records[i].weight = static_cast<float>(i) * 0.5f;
    }
    ASSERT_TRUE(write_weights(dir.path, "lif", records));
    auto back = read_weights(dir.path, "lif");
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, records);
    EXPECT_TRUE(std::signbit((*back)[3].weight));

    EXPECT_EQ(encode_weights(records), read_bytes(path()));
    EXPECT_EQ(decode_weights(read_bytes(path())), records);
}

TEST_F(WeightsFileTest, HeaderFaultsAreReportedInOrder) {
    const std::pair<Bytes, std::string> cases[] = {
        {Bytes(10, 'C'), "weights header truncated: read 10 bytes"},
        {header("CWT2", 9, 0, 7),
         "weights file bad magic [67, 87, 84, 50] (expected [67, 87, 84, 49])"},
        {header("CWT1", 2, 0, 7), "weights version 2 is not supported (max 1)"},
        {header("CWT1", 1, 0, 16), "weights record_size 16 != expected 20 for this version"},
        {header("CWT1", 1, std::uint64_t{1} << 62, 20),
         "weights record_count 4611686018427387904 overflows usize multiplication; file is "
         "corrupt"},
    };
    // Reading the file and decoding its bytes fail identically.
    for (const auto& [file, message] : cases) {
        write_bytes(path(), file);
        EXPECT_EQ(error_text(read_weights(dir.path, "lif")), message);
        EXPECT_EQ(error_text(decode_weights(file)), message);
    }
}

// The reader counts whole records and ignores bytes after them; the decoder
// measures the whole body before it looks at any record.
TEST_F(WeightsFileTest, BodyFaultsOnReadAndDecode) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    auto file = [](std::uint64_t count, std::vector<float> weights, std::size_t extra) {
        Bytes out = header("CWT1", 1, count, 20);
        for (std::size_t i = 0; i < weights.size(); ++i)
            append_record(out, static_cast<std::uint8_t>(i + 1), weights[i]);
        out.insert(out.end(), extra, 0xEE);
        return out;
    };
    const std::string short_body = "weights body length mismatch: expected 60 bytes, got ";
    struct Case {
        Bytes file;
        std::string read;  // "<ok>": three records read
        std::string decode;
    };
    const Case cases[] = {
        {file(3, {0.1f, 0.2f}, 0), short_body + "40", short_body + "40"},
        {file(3, {0.1f, 0.2f}, 19), short_body + "40", short_body + "59"},
        {file(3, {0.5f, 0.5f, 0.5f}, 5), "<ok>", short_body + "65"},
        {file(2, {0.5f, -inf}, 0), "weights record at index 1 has non-finite value (-inf)",
         "weights record at index 1 has non-finite value (-inf)"},
        {file(5, {0.5f, nan}, 0), "weights record at index 1 has non-finite value (NaN)",
         "weights body length mismatch: expected 100 bytes, got 40"},
    };
    for (const Case& c : cases) {
        write_bytes(path(), c.file);
        auto read = read_weights(dir.path, "lif");
        EXPECT_EQ(error_text(read), c.read);
        if (read) {
            ASSERT_EQ(read->size(), 3u);
            EXPECT_EQ((*read)[2].id.bytes[0], 3);
        }
        EXPECT_EQ(error_text(decode_weights(c.file)), c.decode);
    }
}

TEST_F(WeightsFileTest, NonFiniteWeightLeavesPreviousFileAndNoTemporary) {
    auto records = sample_records();
    ASSERT_TRUE(write_weights(dir.path, "lif", records));
    Bytes before = read_bytes(path());
    std::vector<WeightRecord> bad = {{records[0].id, 0.5f},
                                     {records[1].id, std::numeric_limits<float>::quiet_NaN()}};
    EXPECT_EQ(error_text(write_weights(dir.path, "lif", bad)),
              "weights record at index 1 has non-finite value (NaN)");
    EXPECT_EQ(read_bytes(path()), before);
    EXPECT_FALSE(temp_exists());
}

// Failing while records stream out is a weights error; failing in the final
// flush (a file small enough to stay in the buffer) or in the sync is plain Io.
TEST_F(WeightsFileTest, StreamFailureIsAWeightsErrorOtherFailuresAreIo) {
    auto records = sample_records();
    ASSERT_TRUE(write_weights(dir.path, "lif", records));
    Bytes before = read_bytes(path());
    std::vector<WeightRecord> small = {{records[0].id, 0.75f}};
    // More than the 8 KiB write buffer, so bytes leave it while streaming.
    std::vector<WeightRecord> large(1000, WeightRecord{records[1].id, 0.25f});
    const std::string enospc = std::strerror(ENOSPC);

    testing::FaultyFiles fs;
    fs.chunk = SIZE_MAX;
    fs.write_errno = ENOSPC;
    EXPECT_EQ(error_text(write_weights(dir.path, "lif", large, fs)),
              "weights I/O error: " + enospc);
    EXPECT_FALSE(temp_exists());
    EXPECT_EQ(error_text(write_weights(dir.path, "lif", small, fs)), "disk I/O error: " + enospc);
    EXPECT_FALSE(temp_exists());
    fs.write_errno = 0;
    fs.sync_errno = EIO;
    EXPECT_EQ(error_text(write_weights(dir.path, "lif", small, fs)),
              std::string("disk I/O error: ") + std::strerror(EIO));
    EXPECT_FALSE(temp_exists());
    EXPECT_EQ(read_bytes(path()), before);
}

TEST_F(WeightsFileTest, FailedRenameRemovesTheTemporaryFile) {
    // A non-empty directory cannot be replaced by a rename.
    std::filesystem::create_directories(path() + "/occupied");
    auto r = write_weights(dir.path, "lif", sample_records());
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), CortexError::Kind::Io);
    EXPECT_TRUE(std::filesystem::is_directory(path() + "/occupied"));
    EXPECT_FALSE(temp_exists());
}

}  // namespace
}  // namespace vorn
