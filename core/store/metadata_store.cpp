#include "core/store/metadata_store.hpp"

#include "core/format/folder_layout.hpp"
#include "core/store/atomic_file.hpp"
#include "core/store/file_ops.hpp"

namespace vorn {

std::expected<MetadataFile, CortexError> read_metadata(const std::string& root, FileAccess& fs) {
    std::string path = join_path(root, kMetadataFileName);
    auto status = file_status(fs, path);
    if (!status)
        return std::unexpected(CortexError(status.error()));
    if (*status == FileStatus::Missing)
        return std::unexpected(CortexError::missing_file(std::move(path)));
    auto bytes = read_file(fs, path);
    if (!bytes)
        return std::unexpected(CortexError(bytes.error()));
    auto m = parse_metadata(*bytes);
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
