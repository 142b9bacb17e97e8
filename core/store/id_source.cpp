#include "core/store/id_source.hpp"

#include "core/engine/sim_engine.hpp"

namespace vorn {

std::expected<Uuid, CortexError> mint_id(SimEngine* engine) {
    if (engine != nullptr) {
        auto ids = engine->mint_ids(1);
        if (!ids)
            return std::unexpected(CortexError::random_source(ids.error().message()));
        return ids->front();
    }
    auto id = Uuid::random_v4();
    if (!id)
        return std::unexpected(CortexError::random_source(std::move(id.error())));
    return *id;
}

}  // namespace vorn
