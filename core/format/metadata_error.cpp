#include "core/format/metadata_error.hpp"

namespace vorn {

std::string MetadataError::message() const {
    switch (kind) {
        case Kind::Json:
            return "metadata JSON parse error: " + json.message();
        case Kind::UnsupportedVersion:
            return "metadata version " + std::to_string(found) + " is not supported (max " +
                   std::to_string(max) + ")";
        case Kind::CortexTypeSlug:
            return "cortex_type '" + text + "' is not a valid kebab-case slug";
        case Kind::UnknownSourceKind:
            return "v1 metadata has unknown source_kind '" + text + "' (cannot migrate)";
        case Kind::EmptyName:
            return "metadata.name must not be empty";
        case Kind::EmptySourceRoot:
            return "metadata.source_root must not be empty";
    }
    return {};
}

}  // namespace vorn
