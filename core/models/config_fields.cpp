#include "core/models/config_fields.hpp"

#include <algorithm>
#include <string>

namespace vorn {

std::expected<void, ParamError> check_exact_keys(const JsonObject& obj,
                                                 std::span<const std::string_view> keys) {
    for (const auto& member : obj) {
        if (std::find(keys.begin(), keys.end(), member.first) == keys.end()) {
            return std::unexpected(ParamError::unknown(member.first));
        }
    }
    for (std::string_view key : keys) {
        if (obj.find(key) == nullptr) {
            return std::unexpected(ParamError::missing(std::string(key)));
        }
    }
    return {};
}

}  // namespace vorn
