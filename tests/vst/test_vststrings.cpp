#include <gtest/gtest.h>

#include <cstring>

#include "vst/vststrings.h"

TEST(BoundedText, CopyCutsTerminatesAndZeroFills) {
    char buffer[10];
    std::memset(buffer, 'x', sizeof buffer);
    vst::boundedCopy(buffer, "Gain 12345", 8);
    EXPECT_STREQ(buffer, "Gain 123");
    EXPECT_EQ(buffer[9], 'x') << "nothing beyond bound + 1 bytes is written";

    std::memset(buffer, 'x', sizeof buffer);
    vst::boundedCopy(buffer, "ab", 8);
    EXPECT_STREQ(buffer, "ab");
    for (int i = 2; i <= 8; ++i) EXPECT_EQ(buffer[i], '\0') << i;
}

TEST(BoundedText, NullPointersAreHarmless) {
    vst::boundedCopy(nullptr, "abc", 8);
    vst::boundedAppend(nullptr, "abc", 8);
    char buffer[9] = "keep";
    vst::boundedCopy(buffer, nullptr, 8);
    EXPECT_STREQ(buffer, "");
}

TEST(BoundedText, AppendCutsTheWholeText) {
    char buffer[9] = "12.";
    vst::boundedAppend(buffer, "2500000", 8);
    EXPECT_STREQ(buffer, "12.25000");
    char small[5] = "7.";
    vst::boundedAppend(small, "000000", 4);
    EXPECT_STREQ(small, "7.00");
}
