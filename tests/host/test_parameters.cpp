// The 74 parameters of the built plug-in as a host sees them: names, texts and values.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/host/host_test_paths.h"
#include "tools/host/host.h"

namespace {

class BuiltPluginParameters : public ::testing::Test {
  protected:
    void SetUp() override { plugin = qrhost::LoadedPlugin::load(host_tests::pluginPath()); }
    std::unique_ptr<qrhost::LoadedPlugin> plugin;
};

std::string expectedName(VstInt32 index) {
    if (index == 0) return "MidiDev";
    if (index == 1) return "Refresh";
    if (index <= 49) return "Gain " + std::to_string(index - 1);
    const int first = 2 * (index - 50) + 1;
    return "Ln " + std::to_string(first) + "+" + std::to_string(first + 1);
}

} // namespace

TEST_F(BuiltPluginParameters, NamesDisplaysAndLabelsOfAFreshEffect) {
    ASSERT_EQ(plugin->numParams(), 74);
    for (VstInt32 index = 0; index < 74; ++index) {
        const qrhost::ParameterInfo p = plugin->parameter(index);
        SCOPED_TRACE(index);
        EXPECT_EQ(p.name, expectedName(index));
        EXPECT_EQ(p.label, "");
        EXPECT_EQ(p.value, 0.0f);
        EXPECT_EQ(p.display, index >= 2 && index <= 49 ? "10 dB" : "0.000000");
    }
    EXPECT_EQ(plugin->parameter(49).name, "Gain 48");
    EXPECT_EQ(plugin->parameter(73).name, "Ln 47+48");
}

TEST_F(BuiltPluginParameters, ValuesComeBackExactlyWithTheirTexts) {
    struct Case {
        VstInt32 index;
        float value;
        const char* display;
    };
    const Case cases[] = {
        {2, 0.5f, "30 dB"},     {3, 1.0f, "50 dB"},     {4, 0.25f, "20 dB"},
        {49, 0.999f, "49 dB"},  {20, 0.0f, "10 dB"},    {21, 1.0f / 3.0f, "23 dB"},
        {50, 1.0f, "1.000000"}, {73, 0.0f, "0.000000"}, {1, 1.0f, "1.000000"},
        {0, 3.0f, "3.000000"},  {0, 0.0f, "0.000000"},  {5, 0.1f, "14 dB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        plugin->setParameter(c.index, c.value);
        EXPECT_EQ(plugin->getParameter(c.index), c.value);
        EXPECT_EQ(plugin->parameter(c.index).display, c.display);
    }
    // Earlier changes stay where they were put.
    EXPECT_EQ(plugin->getParameter(2), 0.5f);
    EXPECT_EQ(plugin->getParameter(50), 1.0f);
}

TEST_F(BuiltPluginParameters, ValuesOutsideTheRangeAreKeptAndShownInBounds) {
    const float odd[] = {-1.0f,
                         2.0f,
                         1e30f,
                         -1e30f,
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(),
                         std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::denorm_min()};
    for (VstInt32 index : {0, 1, 2, 30, 49, 50, 73}) {
        for (float value : odd) {
            SCOPED_TRACE(std::to_string(index) + " <- " + std::to_string(value));
            plugin->setParameter(index, value);
            const float stored = plugin->getParameter(index);
            if (std::isnan(value))
                EXPECT_TRUE(std::isnan(stored));
            else
                EXPECT_EQ(stored, value);
            const qrhost::ParameterInfo p = plugin->parameter(index);
            EXPECT_FALSE(p.display.empty());
            EXPECT_LE(p.display.size(), 8u);
        }
    }
    plugin->setParameter(2, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(plugin->parameter(2).display, "NaN");
    plugin->setParameter(2, 1e30f);
    EXPECT_EQ(plugin->parameter(2).display, "Huge!");
    // The device selector set to nonsense closes the port and keeps working afterwards.
    plugin->setParameter(0, 2.0f);
    EXPECT_EQ(plugin->parameter(0).display, "2.000000");
}

TEST_F(BuiltPluginParameters, IndexesOutsideTheSetChangeNothing) {
    for (VstInt32 index : {-1, 74, 1000}) {
        plugin->setParameter(index, 0.5f);
        EXPECT_EQ(plugin->getParameter(index), 0.0f);
        EXPECT_EQ(plugin->text(effGetParamName, index), "");
    }
    for (VstInt32 index = 0; index < 74; ++index)
        EXPECT_EQ(plugin->getParameter(index), 0.0f);
}
