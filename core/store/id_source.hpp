#pragma once
// Fresh random ids for new networks, nodes and edges.

#include <expected>

#include "core/store/cortex_error.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

// A version-4 UUID from the operating system's random source. Fails with the
// RandomSource error ("could not retrieve random bytes for uuid: {}") when the
// source cannot deliver, instead of ending the process.
std::expected<Uuid, CortexError> mint_id();

}  // namespace vorn
