#pragma once
// SynapseConfig: the record that selects the kind of a new synapse.

#include <variant>

namespace vorn {

struct StdpConfig {};

// All sixteen parameters of a new plastic synapse; w_min <= w_max is a
// precondition of construction.
struct PlasticSynapseConfig {
    float w_min;
    float w_max;
    float g_syn;
    float a_plus;
    float a_minus;
    float tau_plus_ms;
    float tau_minus_ms;
    float tau_eligibility_ms;
    float tau_tag_ms;
    float learning_rate;
    float dopamine_threshold;
    float dopamine_gain;
    float target_post_rate_hz;
    float homeostatic_rate;
    float tau_rate_ms;
    float post_consolidation_decay;
};

// Variants in this order: Stdp, Plastic.
using SynapseConfig = std::variant<StdpConfig, PlasticSynapseConfig>;

}  // namespace vorn
