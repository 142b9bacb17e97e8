// Streams a topology document into its records: one frame per open record
// object or array, fields found by length-then-bytes comparison against a
// short name table, and seen/required members kept as bit masks.

#include <array>

#include "core/format/json_reader.hpp"
#include "core/format/json_sax.hpp"
#include "core/format/topology.hpp"

namespace vorn {
namespace {

enum class Frame : std::uint8_t { Root, Defaults, Spec, Nodes, Node, Edges, Edge };

// Member indices, in document order, per object frame.
enum RootField : int { kFormat, kVersion, kCortexType, kDefaults, kNodes, kEdges, kRootMetadata };
enum DefaultsField : int { kNeuron, kSynapse };
enum SpecField : int { kKind, kConfig };
enum NodeField : int { kNodeId, kLabel, kNodeKind, kNodeMetadata, kInitState };
enum EdgeField : int { kEdgeId, kPre, kPost, kEdgeKind, kInitWeight, kDelayMs, kEdgeMetadata };
constexpr int kUnknown = -1;

using Names = std::array<std::string_view, 8>;
constexpr Names kRootNames = {"format", "version", "cortex_type", "defaults",
                              "nodes",  "edges",   "metadata"};
constexpr Names kDefaultsNames = {"neuron", "synapse"};
constexpr Names kSpecNames = {"kind", "config"};
constexpr Names kNodeNames = {"id", "label", "kind", "metadata", "init_state"};
constexpr Names kEdgeNames = {"id", "pre", "post", "kind", "init_weight", "delay_ms", "metadata"};

constexpr unsigned bit(int f) {
    return 1u << f;
}
constexpr unsigned kRootRequired =
    bit(kFormat) | bit(kVersion) | bit(kCortexType) | bit(kDefaults) | bit(kNodes) | bit(kEdges);
constexpr unsigned kDefaultsRequired = bit(kNeuron) | bit(kSynapse);
constexpr unsigned kSpecRequired = bit(kKind);
constexpr unsigned kNodeRequired = bit(kNodeId);
constexpr unsigned kEdgeRequired = bit(kEdgeId) | bit(kPre) | bit(kPost) | bit(kInitWeight);

const Names* names_of(Frame f) {
    switch (f) {
        case Frame::Root:
            return &kRootNames;
        case Frame::Defaults:
            return &kDefaultsNames;
        case Frame::Spec:
            return &kSpecNames;
        case Frame::Node:
            return &kNodeNames;
        case Frame::Edge:
            return &kEdgeNames;
        default:
            return nullptr;
    }
}

unsigned required_of(Frame f) {
    switch (f) {
        case Frame::Root:
            return kRootRequired;
        case Frame::Defaults:
            return kDefaultsRequired;
        case Frame::Spec:
            return kSpecRequired;
        case Frame::Node:
            return kNodeRequired;
        case Frame::Edge:
            return kEdgeRequired;
        default:
            return 0;
    }
}

int find_field(const Names& names, std::string_view key) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string_view& n = names[i];
        if (n.size() == key.size() && !n.empty() &&
            std::memcmp(n.data(), key.data(), n.size()) == 0)
            return static_cast<int>(i);
    }
    return kUnknown;
}

// What a member (or array element) of each frame must hold, for messages.
std::string_view expected_text(Frame f, int field) {
    switch (f) {
        case Frame::Root:
            switch (field) {
                case kVersion:
                    return "u32";
                case kDefaults:
                    return "a defaults object";
                case kNodes:
                case kEdges:
                    return "an array";
                default:
                    return "a string";
            }
        case Frame::Defaults:
            return "a spec object";
        case Frame::Spec:
            return "a string";
        case Frame::Nodes:
            return "a node object";
        case Frame::Edges:
            return "an edge object";
        case Frame::Node:
            return field == kNodeKind ? "a spec object"
                   : field == kNodeId ? "a UUID string"
                                      : "a string";
        case Frame::Edge:
            if (field == kEdgeKind)
                return "a spec object";
            return field == kInitWeight || field == kDelayMs ? "f32" : "a UUID string";
    }
    return "a value";
}

class TopologyReader : public JsonSax<TopologyReader> {
  public:
    using JsonSax::JsonSax;

    TopologyFile file;

    bool on_begin(bool is_object) {
        if (frames_ == 0) {
            if (!is_object)
                return fail(container_type_error(false, "a topology object"));
            return push(Frame::Root);
        }
        Top& t = top();
        if (t.field == kUnknown && (t.frame != Frame::Nodes && t.frame != Frame::Edges))
            return skip_container();
        switch (t.frame) {
            case Frame::Root:
                if (t.field == kRootMetadata)
                    return begin_opaque(is_object);
                if (t.field == kDefaults && is_object)
                    return push(Frame::Defaults);
                if (t.field == kNodes && !is_object)
                    return push(Frame::Nodes);
                if (t.field == kEdges && !is_object)
                    return push(Frame::Edges);
                break;
            case Frame::Defaults:
                if (is_object) {
                    if (t.field == kNeuron)
                        return push_spec(file.defaults.neuron.kind, file.defaults.neuron.config);
                    return push_spec(file.defaults.synapse.kind, file.defaults.synapse.config);
                }
                break;
            case Frame::Spec:
                if (t.field == kConfig)
                    return begin_opaque(is_object);
                break;
            case Frame::Nodes:
                if (is_object) {
                    file.nodes.emplace_back();
                    return push(Frame::Node);
                }
                break;
            case Frame::Node:
                if (t.field == kNodeMetadata || t.field == kInitState)
                    return begin_opaque(is_object);
                if (t.field == kNodeKind && is_object) {
                    NeuronSpec& spec = file.nodes.back().kind.emplace();
                    return push_spec(spec.kind, spec.config);
                }
                break;
            case Frame::Edges:
                if (is_object) {
                    file.edges.emplace_back();
                    return push(Frame::Edge);
                }
                break;
            case Frame::Edge:
                if (t.field == kEdgeMetadata)
                    return begin_opaque(is_object);
                if (t.field == kEdgeKind && is_object) {
                    SynapseSpec& spec = file.edges.back().kind.emplace();
                    return push_spec(spec.kind, spec.config);
                }
                break;
        }
        return fail(container_type_error(is_object, expected_text(t.frame, t.field)));
    }

    bool on_end(bool) {
        Top& t = top();
        if (unsigned missing = required_of(t.frame) & ~t.seen) {
            const Names& names = *names_of(t.frame);
            int first = __builtin_ctz(missing);
            return fail("missing field `" + std::string(names[first]) + "`");
        }
        --frames_;
        return true;
    }

    bool on_key(std::string_view key) {
        Top& t = top();
        t.field = find_field(*names_of(t.frame), key);
        if (t.field == kUnknown)
            return true;
        if (t.seen & bit(t.field))
            return fail("duplicate field `" + std::string(key) + "`");
        t.seen |= bit(t.field);
        return true;
    }

    bool on_scalar(const JsonScalar& s) {
        if (frames_ == 0)
            return fail(invalid_type(s, "a topology object"));
        Top& t = top();
        if (t.field == kUnknown && t.frame != Frame::Nodes && t.frame != Frame::Edges)
            return true;
        bool is_null = s.type == JsonScalar::Type::Null;
        switch (t.frame) {
            case Frame::Root:
                switch (t.field) {
                    case kFormat:
                        return take_string(s, file.format);
                    case kVersion:
                        return take(to_u32(s), file.version);
                    case kCortexType:
                        return take_string(s, file.cortex_type);
                    case kRootMetadata:
                        file.metadata = to_json_value(s);
                        return true;
                }
                break;
            case Frame::Spec:
                if (t.field == kKind)
                    return take_string(s, *spec_kind_);
                if (!is_null)
                    *spec_config_ = to_json_value(s);
                return true;
            case Frame::Node: {
                TopologyNode& node = file.nodes.back();
                switch (t.field) {
                    case kNodeId:
                        return take(to_uuid(s), node.id);
                    case kLabel:
                        return take_string(s, node.label);
                    case kNodeKind:
                        if (is_null)
                            return true;
                        break;
                    case kNodeMetadata:
                        node.metadata = to_json_value(s);
                        return true;
                    case kInitState:
                        if (!is_null)
                            node.init_state = to_json_value(s);
                        return true;
                }
                break;
            }
            case Frame::Edge: {
                TopologyEdge& edge = file.edges.back();
                switch (t.field) {
                    case kEdgeId:
                        return take(to_uuid(s), edge.id);
                    case kPre:
                        return take(to_uuid(s), edge.pre);
                    case kPost:
                        return take(to_uuid(s), edge.post);
                    case kEdgeKind:
                        if (is_null)
                            return true;
                        break;
                    case kInitWeight:
                        return take(to_f32(s), edge.init_weight);
                    case kDelayMs:
                        return take(to_f32(s), edge.delay_ms);
                    case kEdgeMetadata:
                        edge.metadata = to_json_value(s);
                        return true;
                }
                break;
            }
            default:
                break;
        }
        return fail(invalid_type(s, expected_text(t.frame, t.field)));
    }

    bool on_opaque(JsonValue&& v) {
        Top& t = top();
        switch (t.frame) {
            case Frame::Root:
                file.metadata = std::move(v);
                break;
            case Frame::Spec:
                *spec_config_ = std::move(v);
                break;
            case Frame::Node:
                if (t.field == kNodeMetadata)
                    file.nodes.back().metadata = std::move(v);
                else
                    file.nodes.back().init_state = std::move(v);
                break;
            default:
                file.edges.back().metadata = std::move(v);
                break;
        }
        return true;
    }

  private:
    struct Top {
        Frame frame;
        int field;
        unsigned seen;
    };

    Top& top() { return stack_[frames_ - 1]; }

    bool push(Frame f) {
        stack_[frames_++] = Top{f, kUnknown, 0};
        return true;
    }

    bool push_spec(std::string& kind, std::optional<JsonValue>& config) {
        spec_kind_ = &kind;
        spec_config_ = &config;
        return push(Frame::Spec);
    }

    template <typename T, typename U>
    bool take(std::expected<T, std::string> v, U& out) {
        if (!v)
            return fail(std::move(v.error()));
        out = *v;
        return true;
    }

    bool take_string(const JsonScalar& s, std::string& out) {
        if (s.type != JsonScalar::Type::String)
            return fail(invalid_type(s, "a string"));
        out.assign(s.text);
        return true;
    }

    // Record frames nest at most four deep: root, edges, edge, spec.
    std::array<Top, 4> stack_{};
    std::size_t frames_ = 0;
    std::string* spec_kind_ = nullptr;
    std::optional<JsonValue>* spec_config_ = nullptr;
};

}  // namespace

std::expected<TopologyFile, JsonError> read_topology_json(JsonInput& input) {
    TopologyReader reader(input);
    if (auto err = reader.run())
        return std::unexpected(std::move(*err));
    return std::move(reader.file);
}

std::expected<TopologyFile, TopologyError> parse_topology(std::string_view bytes) {
    if (bytes.size() > kTopologyByteCap)
        return std::unexpected(TopologyError::too_large(bytes.size(), kTopologyByteCap));
    JsonInput input(bytes);
    auto file = read_topology_json(input);
    if (!file)
        return std::unexpected(TopologyError::json_error(std::move(file.error())));
    if (auto err = validate_topology(*file))
        return std::unexpected(std::move(*err));
    return std::move(*file);
}

TopologyFile TopologyFile::new_empty(std::string cortex_type, TopologyDefaults defaults) {
    TopologyFile t;
    t.cortex_type = std::move(cortex_type);
    t.defaults = std::move(defaults);
    return t;
}

}  // namespace vorn
