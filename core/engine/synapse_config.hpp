#pragma once
// SynapseConfig: the record that selects the kind of a new synapse and its
// parameters.

#include <variant>

namespace vorn {

// Parameters of a new STDP synapse; the defaults are the kind's defaults.
// w_min <= w_max is a precondition of construction.
struct StdpConfig {
    float w_min = 0.0f;
    float w_max = 1.0f;
    float g_syn = 80.0f;      // current per unit weight
    float a_plus = 0.01f;     // potentiation step per unit pre trace
    float a_minus = 0.012f;   // depression step per unit post trace
    float tau_plus = 20.0f;   // ms, pre trace decay
    float tau_minus = 20.0f;  // ms, post trace decay
};

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

// A fixed weight that never learns; negative weights inhibit.
struct StaticConfig {
    float g_syn = 1.0f;  // current per unit weight
};

// Variants in this order: Stdp, Plastic, Static.
using SynapseConfig = std::variant<StdpConfig, PlasticSynapseConfig, StaticConfig>;

}  // namespace vorn
