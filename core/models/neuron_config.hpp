#pragma once
// NeuronConfig: the record that selects a neuron model when a neuron is created.

#include <cstdint>
#include <variant>

namespace vorn {

enum class Integrator : std::uint8_t { Euler = 0, Rk4 = 1 };

struct LifConfig {};

struct HhConfig {
    float c_m;             // membrane capacitance
    float g_na;            // maximal sodium conductance
    float g_k;             // maximal potassium conductance
    float g_l;             // leak conductance
    float e_na;            // mV
    float e_k;             // mV
    float e_l;             // mV
    float v_rest;          // mV, start and reset value of v
    float v_spike_thresh;  // mV
    float refractory_ms;   // ms
    Integrator integrator;
};

struct IzhikevichConfig {
    float a;
    float b;
    float c;       // mV, after-spike reset of v
    float d;       // after-spike increment of u
    float v_peak;  // mV
};

struct AdExConfig {
    float c_m;
    float g_l;
    float e_l;      // mV, also the start potential
    float v_t;      // mV
    float delta_t;  // mV
    float v_peak;   // mV
    float v_reset;  // mV
    float tau_w;    // ms
    float a;
    float b;
};

// Variants in this order: Lif, Hh, Izhikevich, AdEx.
using NeuronConfig = std::variant<LifConfig, HhConfig, IzhikevichConfig, AdExConfig>;

}  // namespace vorn
