#pragma once
// PlasticConfigTable: the distinct plastic-synapse configurations in use,
// interned.

#include "core/engine/intern_table.hpp"
#include "core/engine/synapse_config.hpp"

namespace vorn {

static_assert(sizeof(PlasticSynapseConfig) == 16 * sizeof(float), "config is sixteen floats");

using PlasticConfigTable = InternTable<PlasticSynapseConfig>;

}  // namespace vorn
