#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "vst/valuetext.h"

namespace {
std::string floatText(float value, VstInt32 maxLen = 8) {
    char text[32];
    std::memset(text, '#', sizeof text);
    vst::formatFloat(value, text, maxLen);
    return text;
}
std::string decibelText(float value) {
    char text[32];
    vst::formatDecibels(value, text, 8);
    return text;
}
} // namespace

TEST(FloatToText, EightPositionsTruncatedNeverRounded) {
    EXPECT_EQ(floatText(0.0f), "0.000000");
    EXPECT_EQ(floatText(-0.0f), "0.000000");
    EXPECT_EQ(floatText(1.0f), "1.000000");
    EXPECT_EQ(floatText(3.0f), "3.000000");
    EXPECT_EQ(floatText(0.5f), "0.500000");
    EXPECT_EQ(floatText(2.0f / 3.0f), "0.666666");
    EXPECT_EQ(floatText(12.25f), "12.25000");
    EXPECT_EQ(floatText(47.0f), "47.00000");
    EXPECT_EQ(floatText(-3.0f), "-3.00000");
    EXPECT_EQ(floatText(-1234.5f), "-1234.50");
    EXPECT_EQ(floatText(1234567.0f), "1234567.");
    EXPECT_EQ(floatText(99999.5f), "99999.50");
}

TEST(FloatToText, ShorterBoundsCutTheText) {
    EXPECT_EQ(floatText(7.0f, 4), "7.00");
    EXPECT_EQ(floatText(12.25f, 4), "12.2");
    EXPECT_EQ(floatText(12.25f, 0), "");
    EXPECT_EQ(floatText(12.25f, -5), "");
}

TEST(FloatToText, OutOfRangeAndNonFiniteValuesHaveDefinedTexts) {
    EXPECT_EQ(floatText(1.0e9f), "Huge!");
    EXPECT_EQ(floatText(100000000.0f), "Huge!");
    EXPECT_EQ(floatText(-10000000.0f), "Huge!");
    EXPECT_EQ(floatText(-1.0e8f), "Huge!");
    EXPECT_EQ(floatText(std::numeric_limits<float>::infinity()), "Huge!");
    EXPECT_EQ(floatText(-std::numeric_limits<float>::infinity()), "Huge!");
    EXPECT_EQ(floatText(std::numeric_limits<float>::quiet_NaN()), "NaN");
    // Integer parts too long for the eight positions would lose their leading digits.
    EXPECT_EQ(floatText(12345678.0f), "Huge!");
    EXPECT_EQ(floatText(-1234567.0f), "Huge!");
    EXPECT_EQ(floatText(-123456.0f), "-123456.");
}

TEST(DecibelText, LogarithmicAndFloored) {
    EXPECT_EQ(decibelText(1.0f), "0.000000");
    EXPECT_EQ(decibelText(2.0f), "6.020600");
    EXPECT_EQ(decibelText(0.5f), "-6.02060");
    EXPECT_EQ(decibelText(0.001f), "-60.0000");
    EXPECT_EQ(decibelText(0.0f), "-oo");
    EXPECT_EQ(decibelText(-1.0f), "-oo");
    EXPECT_EQ(decibelText(std::numeric_limits<float>::quiet_NaN()), "NaN");
}
