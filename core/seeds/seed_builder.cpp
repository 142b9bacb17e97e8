#include "core/seeds/seed_builder.hpp"

#include <charconv>
#include <cmath>

namespace vorn {

std::optional<SeedError> check_seed_params(const SeedParams& params) {
    const float lo = params.weight_lo;
    const float hi = params.weight_hi;
    // Written so that NaN fails every comparison and so the check.
    const bool range_ok =
        std::isfinite(lo) && std::isfinite(hi) && lo >= 0.0f && lo <= hi && hi <= 1.0f;
    if (!range_ok)
        return SeedError::weight_range(lo, hi);
    // -0.0 compares equal to 0.0 and passes.
    if (!std::isfinite(params.delay_ms) || params.delay_ms < 0.0f)
        return SeedError::delay(params.delay_ms);
    return std::nullopt;
}

bool is_probability(float p) {
    return std::isfinite(p) && p >= 0.0f && p <= 1.0f;
}

std::string node_label(std::uint64_t index) {
    char buf[24] = {'n'};
    const auto end = std::to_chars(buf + 1, buf + sizeof buf, index).ptr;
    return std::string(buf, end);
}

std::string layer_node_label(std::uint64_t layer, std::uint64_t index) {
    // "L", up to 20 digits, "-n", up to 20 digits.
    char buf[48] = {'L'};
    char* end = std::to_chars(buf + 1, buf + 21, layer).ptr;
    end[0] = '-';
    end[1] = 'n';
    end = std::to_chars(end + 2, buf + sizeof buf, index).ptr;
    return std::string(buf, end);
}

}  // namespace vorn
