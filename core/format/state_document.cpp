#include "core/format/state_document.hpp"

#include <bit>
#include <cstring>

#include "core/format/folder_layout.hpp"
#include "core/format/json_reader.hpp"
#include "core/format/json_writer.hpp"

namespace vorn {
namespace {

struct TypeInfo {
    SectionType type;
    const char* name;
    std::size_t size;  // bytes per element
};

constexpr TypeInfo kTypes[] = {
    {SectionType::U8, "u8", 1},   {SectionType::U32, "u32", 4}, {SectionType::U64, "u64", 8},
    {SectionType::F32, "f32", 4}, {SectionType::F64, "f64", 8}, {SectionType::Uuid, "uuid", 16},
};

const TypeInfo& info(SectionType t) {
    return kTypes[static_cast<std::size_t>(t)];
}

std::uint64_t align8(std::uint64_t n) {
    return (n + 7) / 8 * 8;
}

// Element i of an array of T stored little-endian at p.
template <class T>
T load_le(const char* p) {
    if constexpr (std::is_same_v<T, Uuid>) {
        Uuid u;
        std::memcpy(u.bytes.data(), p, 16);
        return u;
    } else {
        using Bits =
            std::conditional_t<sizeof(T) == 1, std::uint8_t,
                               std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>;
        Bits bits;
        std::memcpy(&bits, p, sizeof bits);
        if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1)
            bits = std::byteswap(bits);
        return std::bit_cast<T>(bits);
    }
}

template <class T>
void store_le(const T* data, std::uint64_t count, std::string& out) {
    if constexpr (std::endian::native == std::endian::little || sizeof(T) == 1 ||
                  std::is_same_v<T, Uuid>) {
        out.append(reinterpret_cast<const char*>(data), count * sizeof(T));
    } else {
        for (std::uint64_t i = 0; i < count; ++i) {
            auto bits = std::byteswap(
                std::bit_cast<std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>(
                    data[i]));
            out.append(reinterpret_cast<const char*>(&bits), sizeof bits);
        }
    }
}

}  // namespace

StateError state_content_error(std::string text) {
    return StateError::json_error(JsonError{std::move(text), 0, 0});
}

void StateWriter::add(std::string name, std::span<const std::uint8_t> v) {
    sections_.push_back({std::move(name), SectionType::U8, v.data(), v.size()});
}
void StateWriter::add(std::string name, std::span<const std::uint32_t> v) {
    sections_.push_back({std::move(name), SectionType::U32, v.data(), v.size()});
}
void StateWriter::add(std::string name, std::span<const std::uint64_t> v) {
    sections_.push_back({std::move(name), SectionType::U64, v.data(), v.size()});
}
void StateWriter::add(std::string name, std::span<const float> v) {
    sections_.push_back({std::move(name), SectionType::F32, v.data(), v.size()});
}
void StateWriter::add(std::string name, std::span<const double> v) {
    sections_.push_back({std::move(name), SectionType::F64, v.data(), v.size()});
}
void StateWriter::add(std::string name, std::span<const Uuid> v) {
    sections_.push_back({std::move(name), SectionType::Uuid, v.data(), v.size()});
}

std::expected<std::string, StateError> StateWriter::finish() const {
    JsonArray sections;
    std::uint64_t offset = 0;
    for (const Section& s : sections_) {
        JsonObject o;
        o.insert_or_assign("name", JsonValue::string(s.name));
        o.insert_or_assign("type", JsonValue::string(info(s.type).name));
        o.insert_or_assign("count", JsonValue::unsigned_int(s.count));
        o.insert_or_assign("offset", JsonValue::unsigned_int(offset));
        sections.push_back(JsonValue(std::move(o)));
        offset = align8(offset + s.count * info(s.type).size);
    }
    JsonObject header;
    header.insert_or_assign("format", JsonValue::string(std::string(kStateFormatTag)));
    header.insert_or_assign("version", JsonValue::unsigned_int(kStateVersion));
    header.insert_or_assign("payload_bytes", JsonValue::unsigned_int(offset));
    header.insert_or_assign("sections", JsonValue(std::move(sections)));
    header.insert_or_assign("simulation", JsonValue(simulation_));
    std::string out;
    JsonWriter writer(out, false);
    writer.value(JsonValue(std::move(header)));
    if (writer.error())
        return std::unexpected(StateError::json_error(*writer.error()));
    out.push_back('\n');
    const std::size_t payload = out.size();
    out.reserve(payload + offset);
    for (const Section& s : sections_) {
        switch (s.type) {
            case SectionType::U8:
                store_le(static_cast<const std::uint8_t*>(s.data), s.count, out);
                break;
            case SectionType::U32:
                store_le(static_cast<const std::uint32_t*>(s.data), s.count, out);
                break;
            case SectionType::U64:
                store_le(static_cast<const std::uint64_t*>(s.data), s.count, out);
                break;
            case SectionType::F32:
                store_le(static_cast<const float*>(s.data), s.count, out);
                break;
            case SectionType::F64:
                store_le(static_cast<const double*>(s.data), s.count, out);
                break;
            case SectionType::Uuid:
                store_le(static_cast<const Uuid*>(s.data), s.count, out);
                break;
        }
        out.resize(payload + align8(out.size() - payload), '\0');
    }
    return out;
}

std::expected<StateReader, StateError> StateReader::open(std::string_view bytes) {
    const std::size_t eol = bytes.find('\n');
    const std::string_view line = bytes.substr(0, eol);
    auto parsed = parse_json_value(line);
    if (!parsed)
        return std::unexpected(StateError::json_error(parsed.error()));
    if (eol == std::string_view::npos)
        return std::unexpected(state_content_error("the header line has no end"));
    if (!parsed->is_object())
        return std::unexpected(state_content_error("the header is not an object"));
    const JsonObject& h = parsed->as_object();
    const JsonValue* format = h.find("format");
    if (format == nullptr || !format->is_string())
        return std::unexpected(state_content_error("missing field `format`"));
    if (format->as_string() != kStateFormatTag)
        return std::unexpected(StateError::format_tag_mismatch(format->as_string()));
    const JsonValue* version = h.find("version");
    if (version == nullptr || version->kind() != JsonValue::Kind::UInt)
        return std::unexpected(state_content_error("missing field `version`"));
    if (version->as_u64() == 0)
        return std::unexpected(state_content_error("version 0 is not a state version"));
    if (version->as_u64() > kStateVersion) {
        const auto found =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(version->as_u64(), 0xffffffffu));
        return std::unexpected(StateError::unsupported_version(found, kStateVersion));
    }
    StateReader r;
    r.payload_ = bytes.substr(eol + 1);
    const JsonValue* payload_bytes = h.find("payload_bytes");
    if (payload_bytes == nullptr || payload_bytes->kind() != JsonValue::Kind::UInt ||
        payload_bytes->as_u64() != r.payload_.size())
        return std::unexpected(state_content_error("the payload has " +
                                                   std::to_string(r.payload_.size()) +
                                                   " bytes, not the header's `payload_bytes`"));
    const JsonValue* simulation = h.find("simulation");
    if (simulation == nullptr || !simulation->is_object())
        return std::unexpected(state_content_error("missing field `simulation`"));
    r.simulation_ = simulation->as_object();
    const JsonValue* sections = h.find("sections");
    if (sections == nullptr || !sections->is_array())
        return std::unexpected(state_content_error("missing field `sections`"));
    for (const JsonValue& s : sections->as_array()) {
        const JsonValue* name = s.is_object() ? s.as_object().find("name") : nullptr;
        const JsonValue* type = s.is_object() ? s.as_object().find("type") : nullptr;
        const JsonValue* count = s.is_object() ? s.as_object().find("count") : nullptr;
        const JsonValue* offset = s.is_object() ? s.as_object().find("offset") : nullptr;
        if (name == nullptr || !name->is_string() || type == nullptr || !type->is_string() ||
            count == nullptr || count->kind() != JsonValue::Kind::UInt || offset == nullptr ||
            offset->kind() != JsonValue::Kind::UInt)
            return std::unexpected(
                state_content_error("a section lacks a name, type, count or offset"));
        const TypeInfo* t = nullptr;
        for (const TypeInfo& k : kTypes)
            t = k.name == type->as_string() ? &k : t;
        if (t == nullptr)
            return std::unexpected(state_content_error("section '" + name->as_string() +
                                                       "' has unknown type '" + type->as_string() +
                                                       "'"));
        // Overflow-safe: count and offset must each fit within the payload.
        const std::uint64_t size = r.payload_.size();
        if (offset->as_u64() > size || count->as_u64() > (size - offset->as_u64()) / t->size)
            return std::unexpected(state_content_error("section '" + name->as_string() +
                                                       "' runs past the end of the payload"));
        r.sections_.push_back({name->as_string(), t->type, count->as_u64(), offset->as_u64()});
    }
    return r;
}

const StateReader::Section* StateReader::find(std::string_view name) const {
    for (const Section& s : sections_) {
        if (s.name == name)
            return &s;
    }
    return nullptr;
}

template <class T>
std::expected<std::vector<T>, StateError> StateReader::read(std::string_view name, SectionType type,
                                                            std::int64_t count) const {
    const Section* s = find(name);
    if (s == nullptr)
        return std::unexpected(state_content_error("missing section '" + std::string(name) + "'"));
    if (s->type != type)
        return std::unexpected(state_content_error("section '" + std::string(name) +
                                                   "' is not of type " + info(type).name));
    if (count >= 0 && s->count != static_cast<std::uint64_t>(count))
        return std::unexpected(state_content_error("section '" + std::string(name) + "' has " +
                                                   std::to_string(s->count) + " elements, not " +
                                                   std::to_string(count)));
    std::vector<T> out(s->count);
    const char* p = payload_.data() + s->offset;
    for (std::uint64_t i = 0; i < s->count; ++i)
        out[i] = load_le<T>(p + i * info(type).size);
    return out;
}

std::expected<std::vector<std::uint8_t>, StateError> StateReader::u8(std::string_view name,
                                                                     std::int64_t count) const {
    return read<std::uint8_t>(name, SectionType::U8, count);
}
std::expected<std::vector<std::uint32_t>, StateError> StateReader::u32(std::string_view name,
                                                                       std::int64_t count) const {
    return read<std::uint32_t>(name, SectionType::U32, count);
}
std::expected<std::vector<std::uint64_t>, StateError> StateReader::u64(std::string_view name,
                                                                       std::int64_t count) const {
    return read<std::uint64_t>(name, SectionType::U64, count);
}
std::expected<std::vector<float>, StateError> StateReader::f32(std::string_view name,
                                                               std::int64_t count) const {
    return read<float>(name, SectionType::F32, count);
}
std::expected<std::vector<double>, StateError> StateReader::f64(std::string_view name,
                                                                std::int64_t count) const {
    return read<double>(name, SectionType::F64, count);
}
std::expected<std::vector<Uuid>, StateError> StateReader::uuids(std::string_view name,
                                                                std::int64_t count) const {
    return read<Uuid>(name, SectionType::Uuid, count);
}

}  // namespace vorn
