#include "core/format/event.hpp"

#include <cmath>
#include <limits>

#include "core/format/json_reader.hpp"
#include "core/format/json_writer.hpp"

namespace vorn {
namespace {

struct KindWriter {
    JsonWriter& w;
    void operator()(const NeuronAddEvent& e) const {
        w.key("id");
        w.uuid(e.id);
        w.key("label");
        w.string(e.label);
    }
    void operator()(const NeuronRemoveEvent& e) const {
        w.key("id");
        w.uuid(e.id);
        w.key("cascaded_edges");
        w.unsigned_int(e.cascaded_edges);
    }
    void operator()(const SynapseAddEvent& e) const {
        w.key("id");
        w.uuid(e.id);
        w.key("pre");
        w.uuid(e.pre);
        w.key("post");
        w.uuid(e.post);
        w.key("init_weight");
        w.f32(e.init_weight);
    }
    void operator()(const SynapseRemoveEvent& e) const {
        w.key("id");
        w.uuid(e.id);
    }
    void operator()(const SeedApplyEvent& e) const {
        w.key("added_nodes");
        w.unsigned_int(e.added_nodes);
        w.key("added_edges");
        w.unsigned_int(e.added_edges);
    }
};

// Member access on a parsed line; every failure becomes a Parse error on that line.
class LineFields {
  public:
    LineFields(const JsonObject& obj, std::uint64_t line) : obj_(obj), line_(line) {}

    EventError error(std::string text) const {
        return EventError::parse(JsonError{std::move(text), line_, 0});
    }

    std::expected<const JsonValue*, EventError> get(std::string_view key) const {
        const JsonValue* v = obj_.find(key);
        if (v == nullptr)
            return std::unexpected(error("missing field `" + std::string(key) + "`"));
        return v;
    }
    std::expected<std::string, EventError> string(std::string_view key) const {
        auto v = get(key);
        if (!v)
            return std::unexpected(v.error());
        if (!(*v)->is_string())
            return std::unexpected(error("field `" + std::string(key) + "`: expected a string"));
        return (*v)->as_string();
    }
    std::expected<std::uint64_t, EventError> u64(std::string_view key) const {
        auto v = get(key);
        if (!v)
            return std::unexpected(v.error());
        if ((*v)->kind() != JsonValue::Kind::UInt)
            return std::unexpected(
                error("field `" + std::string(key) + "`: expected an unsigned integer"));
        return (*v)->as_u64();
    }
    std::expected<Uuid, EventError> uuid(std::string_view key) const {
        auto s = string(key);
        if (!s)
            return std::unexpected(s.error());
        auto id = Uuid::parse(*s);
        if (!id)
            return std::unexpected(error("field `" + std::string(key) + "`: invalid UUID \"" + *s +
                                         "\": " + id.error()));
        return *id;
    }
    // A number, or null standing for a value that was not finite.
    std::expected<double, EventError> number_or_null(std::string_view key) const {
        auto v = get(key);
        if (!v)
            return std::unexpected(v.error());
        if ((*v)->is_null())
            return std::numeric_limits<double>::quiet_NaN();
        if (!(*v)->is_number())
            return std::unexpected(
                error("field `" + std::string(key) + "`: expected a number or null"));
        return (*v)->to_double();
    }

  private:
    const JsonObject& obj_;
    std::uint64_t line_;
};

// Unwraps an expected into a local, returning its error from the enclosing function.
#define VORN_TRY(var, expr)                      \
    auto var##_r = (expr);                       \
    if (!var##_r)                                \
        return std::unexpected(var##_r.error()); \
    auto var = std::move(*var##_r)

std::expected<EventKind, EventError> read_kind(const LineFields& f, std::string_view kind) {
    if (kind == "neuron_add") {
        VORN_TRY(id, f.uuid("id"));
        VORN_TRY(label, f.string("label"));
        return NeuronAddEvent{id, std::move(label)};
    }
    if (kind == "neuron_remove") {
        VORN_TRY(id, f.uuid("id"));
        VORN_TRY(count, f.u64("cascaded_edges"));
        return NeuronRemoveEvent{id, count};
    }
    if (kind == "synapse_add") {
        VORN_TRY(id, f.uuid("id"));
        VORN_TRY(pre, f.uuid("pre"));
        VORN_TRY(post, f.uuid("post"));
        VORN_TRY(weight, f.number_or_null("init_weight"));
        return SynapseAddEvent{id, pre, post, static_cast<float>(weight)};
    }
    if (kind == "synapse_remove") {
        VORN_TRY(id, f.uuid("id"));
        return SynapseRemoveEvent{id};
    }
    if (kind == "seed_apply") {
        VORN_TRY(nodes, f.u64("added_nodes"));
        VORN_TRY(edges, f.u64("added_edges"));
        return SeedApplyEvent{nodes, edges};
    }
    return std::unexpected(f.error("unknown event kind `" + std::string(kind) + "`"));
}

}  // namespace

std::string_view event_kind_name(const EventKind& kind) {
    static constexpr std::string_view kNames[] = {"neuron_add", "neuron_remove", "synapse_add",
                                                  "synapse_remove", "seed_apply"};
    return kNames[kind.index()];
}

std::expected<std::string, EventError> serialize_event(const EventRecord& e) {
    std::string out;
    out.reserve(192);
    JsonWriter w(out, false);
    w.begin_object();
    w.key("format");
    w.string(e.format);
    w.key("version");
    w.unsigned_int(e.version);
    w.key("t_ms");
    w.f64(e.t_ms);
    w.key("kind");
    w.string(event_kind_name(e.kind));
    std::visit(KindWriter{w}, e.kind);
    w.end_object();
    if (w.error())
        return std::unexpected(EventError::serialize(*w.error()));
    return out;
}

std::expected<EventRecord, EventError> parse_event_line(std::string_view line,
                                                        std::uint64_t line_number) {
    auto value = parse_json_value(line);
    if (!value) {
        JsonError e = std::move(value.error());
        e.line = line_number;  // a line never spans more than one line of the file
        return std::unexpected(EventError::parse(std::move(e)));
    }
    if (!value->is_object()) {
        return std::unexpected(
            EventError::parse(JsonError{"expected an event object", line_number, 0}));
    }
    LineFields f(value->as_object(), line_number);
    EventRecord rec;
    VORN_TRY(format, f.string("format"));
    if (format != "cortex.event")
        return std::unexpected(EventError::format_tag_mismatch(std::move(format)));
    VORN_TRY(version, f.u64("version"));
    if (version != 1) {
        auto shown = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(version, std::numeric_limits<std::uint32_t>::max()));
        return std::unexpected(EventError::unsupported_version(shown, kMaxEventVersion));
    }
    VORN_TRY(t_ms, f.number_or_null("t_ms"));
    VORN_TRY(kind_name, f.string("kind"));
    VORN_TRY(kind, read_kind(f, kind_name));
    rec.format = std::move(format);
    rec.version = 1;
    rec.t_ms = t_ms;
    rec.kind = std::move(kind);
    return rec;
}

}  // namespace vorn
