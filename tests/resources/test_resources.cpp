// The window's bitmaps as the plug-in finds them: every name, in any letter case, gives a PNG of
// the size the editor's layout is built on; any other name gives nothing.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/resources.h"

namespace {

struct Expected {
    const char* name;
    std::uint32_t width;
    std::uint32_t height;
};

constexpr std::array<Expected, 11> kBitmaps{{
    {"BackgroundMenu", 573, 30},
    {"BackgroundPage1", 573, 394},
    {"BackgroundPage2", 573, 394},
    {"BackgroundInfo", 573, 394},
    {"KnobHandle", 30, 1230},
    {"ButtonLinkHandle", 104, 36},
    {"ButtonRefreshHandle", 94, 50},
    {"ButtonPage_1_Handle", 67, 50},
    {"ButtonPage_2_Handle", 67, 50},
    {"ButtonFrameHandle", 120, 50},
    {"ButtonInfoHandle", 37, 50},
}};

std::uint32_t bigEndian32(std::span<const unsigned char> bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
           std::uint32_t{bytes[at + 2]} << 8 | std::uint32_t{bytes[at + 3]};
}

std::string withCase(std::string_view name, bool upper) {
    std::string out(name);
    for (char& c : out) {
        if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

class EmbeddedBitmap : public ::testing::TestWithParam<Expected> {};

TEST_P(EmbeddedBitmap, IsAPngWithAlphaOfTheLayoutSize) {
    const Expected& expected = GetParam();
    const auto bytes = platform::findResource(expected.name);
    // Signature, then the IHDR chunk: length 13, type, width, height, depth, colour type.
    ASSERT_GE(bytes.size(), 8u + 8u + 13u + 4u);
    constexpr unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_TRUE(std::equal(std::begin(signature), std::end(signature), bytes.begin()));
    EXPECT_EQ(bigEndian32(bytes, 8), 13u);
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(bytes.data() + 12), 4), "IHDR");
    EXPECT_EQ(bigEndian32(bytes, 16), expected.width);
    EXPECT_EQ(bigEndian32(bytes, 20), expected.height);
    EXPECT_EQ(bytes[24], 8) << "8 bits per channel";
    EXPECT_EQ(bytes[25], 6) << "RGBA: the controls are drawn over the page";
    // The whole file is there: it ends with the IEND chunk.
    constexpr unsigned char iend[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    EXPECT_TRUE(std::equal(std::begin(iend), std::end(iend), bytes.end() - sizeof iend));
}

TEST_P(EmbeddedBitmap, IsFoundInAnyLetterCase) {
    const Expected& expected = GetParam();
    const auto exact = platform::findResource(expected.name);
    for (const std::string& other :
         {withCase(expected.name, true), withCase(expected.name, false)}) {
        const auto found = platform::findResource(other);
        EXPECT_EQ(found.data(), exact.data()) << other;
        EXPECT_EQ(found.size(), exact.size()) << other;
    }
}

INSTANTIATE_TEST_SUITE_P(Window, EmbeddedBitmap, ::testing::ValuesIn(kBitmaps),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EmbeddedBitmaps, AreDistinct) {
    for (std::size_t i = 0; i < kBitmaps.size(); ++i)
        for (std::size_t j = i + 1; j < kBitmaps.size(); ++j)
            EXPECT_NE(platform::findResource(kBitmaps[i].name).data(),
                      platform::findResource(kBitmaps[j].name).data())
                << kBitmaps[i].name << " / " << kBitmaps[j].name;
}

TEST(EmbeddedBitmaps, UnknownNamesGiveNothing) {
    using namespace std::string_view_literals;
    // The device button's bitmap is asked for by the editor but deliberately not embedded.
    for (std::string_view name :
         {"ButtonMidiDevHandle"sv, ""sv, "Knob"sv, "KnobHandle2"sv, "KnobHandle.png"sv,
          " KnobHandle"sv, "Knob Handle"sv, "ButtonPage_3_Handle"sv, "#1"sv, "DATA"sv,
          "KnobHandle\0Extra"sv, "Knob\xC3\xA4Handle"sv}) {
        EXPECT_TRUE(platform::findResource(name).empty())
            << "\"" << std::string(name) << "\" (" << name.size() << " bytes)";
    }
    // A name is compared whole, never as a prefix of a longer view.
    constexpr std::string_view longer = "KnobHandleX";
    EXPECT_TRUE(platform::findResource(longer).empty());
    EXPECT_FALSE(platform::findResource(longer.substr(0, 10)).empty());
}

} // namespace
