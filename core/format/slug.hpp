#pragma once
// Kebab-case slugs name cortex types and neuron and synapse kinds.

#include <string_view>

namespace vorn {

// Non-empty; only a-z, 0-9 and '-'; neither first nor last character '-'.
bool is_slug(std::string_view text);

}  // namespace vorn
