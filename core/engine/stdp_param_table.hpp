#pragma once
// StdpParamTable: the distinct (w_min, w_max, g_syn, a_plus, a_minus) sets of
// STDP synapses in use, interned.

#include "core/engine/intern_table.hpp"

namespace vorn {

struct StdpParams {
    float w_min;
    float w_max;
    float g_syn;
    float a_plus;
    float a_minus;
};

using StdpParamTable = InternTable<StdpParams>;

}  // namespace vorn
