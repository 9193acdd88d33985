#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "plugin/parameters.h"

namespace {
std::string gainText(float gain) {
    char text[kGainTextSize];
    formatGainText(gain, text);
    return text;
}
std::string name(int index) {
    char text[kParameterNameSize] = "unset";
    return parameterName(index, text) ? text : "<none>";
}
} // namespace

TEST(GainConversions, MidiValueTruncatesAndStaysSevenBit) {
    EXPECT_EQ(gainToMidiValue(0.0f), 0);
    EXPECT_EQ(gainToMidiValue(0.5f), 63);
    EXPECT_EQ(gainToMidiValue(0.75f), 95);
    EXPECT_EQ(gainToMidiValue(0.999f), 126);
    EXPECT_EQ(gainToMidiValue(1.0f), 127);
    EXPECT_EQ(gainToMidiValue(std::nextafter(1.0f, 0.0f)), 126);
    EXPECT_EQ(gainToMidiValue(1.5f), 127);
    EXPECT_EQ(gainToMidiValue(-0.5f), 0);
    EXPECT_EQ(gainToMidiValue(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(gainToMidiValue(std::numeric_limits<float>::infinity()), 127);
    EXPECT_EQ(gainToMidiValue(-std::numeric_limits<float>::infinity()), 0);
}

TEST(GainConversions, TextIsWholeDecibelsAndAlwaysBounded) {
    EXPECT_EQ(gainText(0.0f), "10 dB");
    EXPECT_EQ(gainText(0.025f), "11 dB");
    EXPECT_EQ(gainText(0.5f), "30 dB");
    EXPECT_EQ(gainText(0.999f), "49 dB");
    EXPECT_EQ(gainText(1.0f), "50 dB");
    EXPECT_EQ(gainText(-1.0f), "-30 dB");
    EXPECT_EQ(gainText(249.0f), "9970 dB");
    EXPECT_EQ(gainText(1.0e9f), "Huge!");
    EXPECT_EQ(gainText(-1.0e9f), "Huge!");
    EXPECT_EQ(gainText(std::numeric_limits<float>::infinity()), "Huge!");
    EXPECT_EQ(gainText(std::numeric_limits<float>::quiet_NaN()), "NaN");
}

TEST(ParameterNames, AllSeventyFourFitEightCharacters) {
    EXPECT_EQ(name(0), "MidiDev");
    EXPECT_EQ(name(1), "Refresh");
    EXPECT_EQ(name(2), "Gain 1");
    EXPECT_EQ(name(11), "Gain 10");
    EXPECT_EQ(name(49), "Gain 48");
    EXPECT_EQ(name(50), "Ln 1+2");
    EXPECT_EQ(name(55), "Ln 11+12");
    EXPECT_EQ(name(73), "Ln 47+48");
    EXPECT_EQ(name(74), "<none>");
    EXPECT_EQ(name(-1), "<none>");
    for (int index = 2; index <= 49; ++index) EXPECT_EQ(name(index), "Gain " + std::to_string(index - 1));
    for (int index = 50; index <= 73; ++index) {
        const int first = 2 * (index - 50) + 1;
        EXPECT_EQ(name(index), "Ln " + std::to_string(first) + "+" + std::to_string(first + 1));
    }
}
