#include "core/models/izhikevich_neuron.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/cpp/util/test_support.hpp"

namespace vorn {
namespace {

// Regular spiking; c = -50 shows that the start potential is not c.
constexpr IzhikevichConfig kConfig{.a = 0.02f, .b = 0.2f, .c = -50.0f, .d = 8.0f, .v_peak = 30.0f};

TEST(IzhikevichNeuron, StartFirstStepAndReset) {
    IzhikevichNeuron n(Uuid{}, kConfig);
    EXPECT_EQ(n.membrane_potential(), -65.0f);
    EXPECT_EQ(n.last_v(), -65.0f);
    EXPECT_EQ(n.u(), -13.0f);
    // dv = -325 + 169 + 140 + 13 = -3; du = 0.02 * (-13 + 13) = 0.
    EXPECT_FALSE(n.step_impl(1.0f, 0.0f));
    EXPECT_FLOAT_EQ(n.membrane_potential(), -68.0f);
    EXPECT_EQ(n.u(), -13.0f);
    EXPECT_EQ(n.last_v(), -65.0f);
    n.step_impl(1.0f, 50.0f);
    n.reset();
    EXPECT_EQ(n.snapshot(), IzhikevichNeuron(Uuid{}, kConfig).snapshot());
    EXPECT_FALSE(n.step_impl(1.0f, NAN));  // a NaN potential never spikes
}

TEST(IzhikevichNeuron, SpikeAtExactlyThePeak) {
    // Where one strong step lands, then v_peak placed exactly there and just above.
    IzhikevichConfig cfg = kConfig;
    cfg.v_peak = 1e9f;
    IzhikevichNeuron probe(Uuid{}, cfg);
    ASSERT_FALSE(probe.step_impl(1.0f, 100.0f));
    cfg.v_peak = probe.membrane_potential();
    IzhikevichNeuron at(Uuid{}, cfg);
    EXPECT_TRUE(at.step_impl(1.0f, 100.0f));
    EXPECT_EQ(at.membrane_potential(), kConfig.c);
    EXPECT_EQ(at.u(), probe.u() + kConfig.d);
    cfg.v_peak = std::nextafter(cfg.v_peak, 1e9f);
    IzhikevichNeuron above(Uuid{}, cfg);
    EXPECT_FALSE(above.step_impl(1.0f, 100.0f));
}

TEST(IzhikevichNeuron, SnapshotAndFixedParameters) {
    IzhikevichNeuron n(Uuid{}, kConfig);
    const JsonValue before = n.snapshot();
    EXPECT_EQ(testing::keys_of(before) + testing::keys_of(*before.as_object().find("config")),
              "config,id,last_v,u,v,a,b,c,d,v_peak,");
    for (const char* key : {"a", "v", "u", "config", ""}) {
        EXPECT_EQ(n.set_param(key, JsonValue::number(0.5)).error().message(),
                  "unknown parameter '" + std::string(key) + "'");
    }
    EXPECT_EQ(n.snapshot(), before);
}

}  // namespace
}  // namespace vorn
