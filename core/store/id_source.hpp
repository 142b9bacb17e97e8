#pragma once
// Fresh random ids for new networks, nodes and edges.

#include <expected>

#include "core/store/cortex_error.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

class SimEngine;

// A version-4 UUID from the operating system's random source. With an engine,
// the engine mints it: in a distributed run rank 0 draws and every rank
// receives the same id. Fails with the RandomSource error ("could not
// retrieve random bytes for uuid: {}") when the source cannot deliver,
// instead of ending the process.
std::expected<Uuid, CortexError> mint_id(SimEngine* engine = nullptr);

}  // namespace vorn
