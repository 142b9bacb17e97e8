#include "core/format/metadata.hpp"

#include <array>

#include "core/format/json_reader.hpp"
#include "core/format/json_sax.hpp"
#include "core/format/json_writer.hpp"
#include "core/format/slug.hpp"

namespace vorn {
namespace {

enum Field : int {
    kVersion,
    kId,
    kName,
    kCortexType,
    kHhConfig,
    kSourceKind,
    kSourceRoot,
    kCreatedAt,
    kUpdatedAt,
    kFieldCount,
    kUnknown = -1,
};

constexpr std::array<std::string_view, kFieldCount> kFieldNames = {
    "version",     "id",          "name",       "cortex_type", "hh_config",
    "source_kind", "source_root", "created_at", "updated_at"};

constexpr unsigned kRequired = 1u << kVersion | 1u << kId | 1u << kName | 1u << kSourceRoot |
                               1u << kCreatedAt | 1u << kUpdatedAt;

// Streams the document's members straight into a MetadataFile.
class MetadataReader : public JsonSax<MetadataReader> {
  public:
    using JsonSax::JsonSax;

    MetadataFile record;

    bool on_begin(bool is_object) {
        if (!in_root_) {
            if (!is_object)
                return fail(container_type_error(false, "a metadata object"));
            in_root_ = true;
            return true;
        }
        if (field_ == kHhConfig)
            return begin_opaque(is_object);
        if (field_ == kUnknown)
            return skip_container();
        return fail(container_type_error(is_object, expected_for(field_)));
    }

    bool on_end(bool) {
        unsigned missing = kRequired & ~seen_;
        for (int f = 0; f < kFieldCount; ++f) {
            if (missing & (1u << f))
                return fail("missing field `" + std::string(kFieldNames[f]) + "`");
        }
        return true;
    }

    bool on_key(std::string_view key) {
        field_ = kUnknown;
        for (int f = 0; f < kFieldCount; ++f) {
            if (kFieldNames[f] == key) {
                if (seen_ & (1u << f))
                    return fail("duplicate field `" + std::string(key) + "`");
                seen_ |= 1u << f;
                field_ = f;
                break;
            }
        }
        return true;
    }

    bool on_scalar(const JsonScalar& s) {
        if (!in_root_)
            return fail(invalid_type(s, "a metadata object"));
        switch (field_) {
            case kVersion:
                return take(to_u32(s), record.version);
            case kId:
                return take(to_uuid(s), record.id);
            case kName:
                return take_string(s, record.name);
            case kCortexType:
                return take_string(s, record.cortex_type);
            case kHhConfig:
                if (s.type != JsonScalar::Type::Null)
                    record.hh_config = to_json_value(s);
                return true;
            case kSourceKind:
                if (s.type == JsonScalar::Type::Null)
                    return true;
                record.source_kind.emplace();
                return take_string(s, *record.source_kind);
            case kSourceRoot:
                return take_string(s, record.source_root);
            case kCreatedAt:
                return take_string(s, record.created_at);
            case kUpdatedAt:
                return take_string(s, record.updated_at);
            default:
                return true;  // unknown member
        }
    }

    bool on_opaque(JsonValue&& v) {
        record.hh_config = std::move(v);
        return true;
    }

  private:
    static std::string_view expected_for(int field) {
        switch (field) {
            case kVersion:
                return "u32";
            case kId:
                return "a UUID string";
            default:
                return "a string";
        }
    }

    template <typename T, typename U>
    bool take(std::expected<T, std::string> v, U& out) {
        if (!v)
            return fail(std::move(v.error()));
        out = *v;
        return true;
    }

    bool take_string(const JsonScalar& s, std::string& out) {
        auto v = to_string_view(s);
        if (!v)
            return fail(std::move(v.error()));
        out.assign(*v);
        return true;
    }

    bool in_root_ = false;
    int field_ = kUnknown;
    unsigned seen_ = 0;
};

// Replaces the version-1 source_kind with the cortex_type it stands for.
std::optional<MetadataError> migrate_v1(MetadataFile& m) {
    std::string_view kind = m.source_kind ? std::string_view(*m.source_kind) : "";
    if (kind.empty() || kind == "fresh")
        m.cortex_type = "lif";
    else if (kind == "knowledge-graph")
        m.cortex_type = "knowledge-graph";
    else
        return MetadataError::unknown_source_kind(std::string(kind));
    m.source_kind.reset();
    m.version = 2;
    return std::nullopt;
}

std::optional<MetadataError> check_content(const MetadataFile& m) {
    if (!is_slug(m.cortex_type))
        return MetadataError::cortex_type_slug(m.cortex_type);
    if (m.name.empty())
        return MetadataError::empty_name();
    if (m.source_root.empty())
        return MetadataError::empty_source_root();
    return std::nullopt;
}

}  // namespace

std::expected<MetadataFile, MetadataError> parse_metadata(std::string_view bytes) {
    JsonInput input(bytes);
    return parse_metadata(input);
}

std::expected<MetadataFile, MetadataError> parse_metadata(JsonInput& input) {
    MetadataReader reader(input);
    if (auto err = reader.run())
        return std::unexpected(MetadataError::json_error(std::move(*err)));
    MetadataFile m = std::move(reader.record);
    if (m.version == 1) {
        if (auto err = migrate_v1(m))
            return std::unexpected(std::move(*err));
    } else if (m.version != 2) {
        return std::unexpected(MetadataError::unsupported_version(m.version, kMaxMetadataVersion));
    }
    if (auto err = check_content(m))
        return std::unexpected(std::move(*err));
    return m;
}

std::optional<MetadataError> validate_metadata_for_write(const MetadataFile& m) {
    if (m.version != 1 && m.version != 2)
        return MetadataError::unsupported_version(m.version, kMaxMetadataVersion);
    return check_content(m);
}

std::expected<std::string, MetadataError> serialize_metadata(const MetadataFile& m) {
    if (auto err = validate_metadata_for_write(m))
        return std::unexpected(std::move(*err));
    std::string out;
    JsonWriter w(out, true);
    w.begin_object();
    w.key("version");
    w.unsigned_int(m.version);
    w.key("id");
    w.uuid(m.id);
    w.key("name");
    w.string(m.name);
    w.key("cortex_type");
    w.string(m.cortex_type);
    if (m.hh_config) {
        w.key("hh_config");
        w.value(*m.hh_config);
    }
    if (m.source_kind) {
        w.key("source_kind");
        w.string(*m.source_kind);
    }
    w.key("source_root");
    w.string(m.source_root);
    w.key("created_at");
    w.string(m.created_at);
    w.key("updated_at");
    w.string(m.updated_at);
    w.end_object();
    if (w.error())
        return std::unexpected(MetadataError::json_error(*w.error()));
    return out;
}

}  // namespace vorn
