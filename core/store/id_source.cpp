#include "core/store/id_source.hpp"

namespace vorn {

std::expected<Uuid, CortexError> mint_id() {
    auto id = Uuid::random_v4();
    if (!id)
        return std::unexpected(CortexError::random_source(std::move(id.error())));
    return *id;
}

}  // namespace vorn
