#include "core/models/izhikevich_neuron.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace vorn {
namespace {

// Regular spiking parameters.
constexpr IzhikevichConfig kRegular{.a = 0.02f, .b = 0.2f, .c = -65.0f, .d = 8.0f, .v_peak = 30.0f};

Uuid test_id() {
    return Uuid::parse("6ba7b810-9dad-41d1-80b4-00c04fd430c8").value();
}

TEST(IzhikevichNeuron, StartsAtFixedPotentialAndTakesFirstStep) {
    // The start potential is -65 even when c says otherwise.
    IzhikevichConfig cfg = kRegular;
    cfg.c = -50.0f;
    IzhikevichNeuron n(test_id(), cfg);
    EXPECT_EQ(n.membrane_potential(), -65.0f);
    EXPECT_EQ(n.last_v(), -65.0f);
    EXPECT_EQ(n.u(), -13.0f);

    // dv = -325 + 169 + 140 + 13 = -3; du = 0.02 * (-13 + 13) = 0.
    EXPECT_FALSE(n.step_impl(1.0f, 0.0f));
    EXPECT_FLOAT_EQ(n.membrane_potential(), -68.0f);
    EXPECT_EQ(n.u(), -13.0f);
    EXPECT_EQ(n.last_v(), -65.0f);

    n.reset();
    EXPECT_EQ(n.membrane_potential(), -65.0f);
    EXPECT_EQ(n.u(), -13.0f);
}

TEST(IzhikevichNeuron, SpikeAtExactlyPeakResetsBothVariables) {
    // Find where one strong step lands, then put v_peak exactly there.
    IzhikevichConfig probe_cfg = kRegular;
    probe_cfg.v_peak = 1e9f;
    IzhikevichNeuron probe(test_id(), probe_cfg);
    ASSERT_FALSE(probe.step_impl(1.0f, 100.0f));
    const float landed = probe.membrane_potential();
    const float u_after = probe.u();

    IzhikevichConfig at_cfg = kRegular;
    at_cfg.v_peak = landed;
    IzhikevichNeuron at(test_id(), at_cfg);
    EXPECT_TRUE(at.step_impl(1.0f, 100.0f));
    EXPECT_EQ(at.membrane_potential(), kRegular.c);
    EXPECT_EQ(at.u(), u_after + kRegular.d);

    IzhikevichConfig above_cfg = kRegular;
    above_cfg.v_peak = std::nextafter(landed, 1e9f);
    IzhikevichNeuron above(test_id(), above_cfg);
    EXPECT_FALSE(above.step_impl(1.0f, 100.0f));
    EXPECT_EQ(above.membrane_potential(), landed);
}

TEST(IzhikevichNeuron, FiresRepeatedlyUnderDriveButNeverOnNaN) {
    IzhikevichNeuron n(test_id(), kRegular);
    int spikes = 0;
    for (int i = 0; i < 1000; ++i) {
        if (n.step_impl(0.5f, 10.0f)) {
            ++spikes;
            EXPECT_EQ(n.membrane_potential(), kRegular.c);
        }
        EXPECT_LT(n.membrane_potential(), kRegular.v_peak);
    }
    EXPECT_GE(spikes, 5);

    IzhikevichNeuron nan(test_id(), kRegular);
    EXPECT_FALSE(nan.step_impl(1.0f, std::numeric_limits<float>::quiet_NaN()));
    EXPECT_TRUE(std::isnan(nan.membrane_potential()));
}

TEST(IzhikevichNeuron, SnapshotAndFixedParameters) {
    IzhikevichNeuron n(test_id(), kRegular);
    const JsonValue before = n.snapshot();
    const JsonObject& o = before.as_object();
    std::string keys;
    for (const auto& [k, v] : o) {
        keys += k + ",";
    }
    EXPECT_EQ(keys, "config,id,last_v,u,v,");
    std::string cfg_keys;
    for (const auto& [k, v] : o.find("config")->as_object()) {
        cfg_keys += k + ",";
    }
    EXPECT_EQ(cfg_keys, "a,b,c,d,v_peak,");
    EXPECT_EQ(o.find("config")->as_object().find("a")->to_double(), static_cast<double>(0.02f));
    EXPECT_EQ(o.find("u")->to_double(), -13.0);

    for (const char* key : {"a", "v", "u", "config", "id", ""}) {
        auto err = n.set_param(key, JsonValue::number(0.5));
        EXPECT_EQ(err.error().message(), "unknown parameter '" + std::string(key) + "'");
    }
    EXPECT_EQ(n.snapshot(), before);
}

}  // namespace
}  // namespace vorn
