#include "core/seeds/seed_error.hpp"

#include "core/util/float_format.hpp"

namespace vorn {
namespace {

std::string too_large_message(SeedError::Quantity quantity, std::uint64_t amount) {
    const std::string prefix = "seed network too large: ";
    const std::string count = std::to_string(amount);
    switch (quantity) {
        case SeedError::Quantity::Nodes:
            return prefix + "more than " + count + " nodes";
        case SeedError::Quantity::Edges:
            return prefix + "more than " + count + " edges";
        case SeedError::Quantity::Draws:
            return prefix + "more than " + count + " connection draws";
        case SeedError::Quantity::Bytes:
            return prefix + "more than " + count + " bytes";
        case SeedError::Quantity::Allocation:
            return prefix + "memory for an estimated " + count + " bytes could not be allocated";
    }
    return {};
}

}  // namespace

std::string SeedError::message() const {
    switch (kind) {
        case Kind::WeightRange:
            return "weight_range [" + format_float(lo) + ", " + format_float(hi) +
                   "] is not a valid subrange of [0.0, 1.0]";
        case Kind::DelayMs:
            return "delay_ms " + format_float(value) + " is not finite or is negative";
        case Kind::RingDegree:
            return "ring degree k=" + std::to_string(k) +
                   " is too large for n=" + std::to_string(n) + " neurons (need 2k < n)";
        case Kind::Probability:
            return "probability '" + name + "'=" + format_float(value) + " must be in [0.0, 1.0]";
        case Kind::TooFewLayers:
            return "layered() requires at least 2 layers";
        case Kind::EmptyLayer:
            return "layered() layer " + std::to_string(index) + " has 0 neurons";
        case Kind::TooLarge:
            return too_large_message(quantity, amount);
    }
    return {};
}

}  // namespace vorn
