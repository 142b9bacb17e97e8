#include "core/store/metadata_store.hpp"

#include <fcntl.h>

#include <limits>

#include "core/format/folder_layout.hpp"
#include "core/store/atomic_file.hpp"
#include "core/store/file_ops.hpp"

namespace vorn {

std::expected<MetadataFile, CortexError> read_metadata(const std::string& root, FileAccess& fs,
                                                       FileIdentity* seen) {
    std::string path = join_path(root, kMetadataFileName);
    auto file = open_regular(fs, path, O_RDONLY);
    if (!file) {
        if (file.error().is_missing())
            return std::unexpected(CortexError::missing_file(std::move(path)));
        return std::unexpected(CortexError(file.error()));
    }
    if (seen != nullptr)
        *seen = FileIdentity::of(file->st);
    // Streamed, so that a huge or endless file fails at its first bad byte
    // instead of being loaded whole.
    FdSource source(fs, file->fd);
    JsonInput input(source, std::numeric_limits<std::uint64_t>::max() - 1);
    auto m = parse_metadata(input);
    if (input.io_error())
        return std::unexpected(CortexError(*input.io_error()));
    if (!m)
        return std::unexpected(CortexError(std::move(m.error())));
    return std::move(*m);
}

std::expected<void, CortexError> write_metadata(const std::string& root, const MetadataFile& m,
                                                FileAccess& fs) {
    auto bytes = serialize_metadata(m);
    if (!bytes)
        return std::unexpected(CortexError(std::move(bytes.error())));
    return atomic_write(join_path(root, kMetadataFileName), *bytes, fs);
}

}  // namespace vorn
