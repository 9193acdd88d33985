// GDI+ drawing where it could differ from the other backends: text placement, translucent
// pictures, clipping, and what the PNG decoder accepts. Needs no display.

#include "tests/toolkit/toolkit_fixture.h"

#include "toolkit/offscreen.h"
#include "toolkit/platformwindow.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

constexpr std::uint32_t kGrey = 0xFF404040u;

// The rows and columns with ink (anything but the grey ground) inside `area`.
struct Ink {
    CCoord left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;
    int pixels = 0;
};

Ink inkIn(const toolkit::OffscreenSurface& surface, const CRect& area) {
    Ink ink;
    for (CCoord y = area.top; y < area.bottom; ++y)
        for (CCoord x = area.left; x < area.right; ++x)
            if (surface.pixel(x, y) != kGrey) {
                ink.left = std::min(ink.left, x);
                ink.top = std::min(ink.top, y);
                ink.right = std::max(ink.right, x + 1);
                ink.bottom = std::max(ink.bottom, y + 1);
                ++ink.pixels;
            }
    return ink;
}

class Drawing : public ::testing::Test {
  protected:
    Drawing() : surface(200, 100) { surface.clear(CColor(0x40, 0x40, 0x40)); }
    toolkit::OffscreenSurface surface;
};

} // namespace

TEST_F(Drawing, TextIsCentredVerticallyAndAlignedToTheAskedSide) {
    const CRect box(20, 30, 120, 50);
    auto& context = surface.context();
    context.drawText("Ch 01", box, kNormalFont, kWhiteCColor, kLeftText);
    Ink ink = inkIn(surface, CRect(0, 0, 200, 100));
    ASSERT_GT(ink.pixels, 20) << "no text drawn: no usable font";
    EXPECT_GE(ink.left, 21);
    EXPECT_LE(ink.left, 23);
    // Cap height of 12-pixel text is about 9 pixels, centred in the 20-pixel box.
    EXPECT_GE(ink.top, 34);
    EXPECT_LE(ink.bottom, 46);
    EXPECT_LE(std::abs((ink.top - box.top) - (box.bottom - ink.bottom)), 3);

    surface.clear(CColor(0x40, 0x40, 0x40));
    context.drawText("Ch 01", box, kNormalFont, kWhiteCColor, kRightText);
    ink = inkIn(surface, CRect(0, 0, 200, 100));
    EXPECT_LE(ink.right, 119);
    EXPECT_GE(ink.right, 116);

    surface.clear(CColor(0x40, 0x40, 0x40));
    context.drawText("Ch 01", box, kNormalFont, kWhiteCColor, kCenterText);
    ink = inkIn(surface, CRect(0, 0, 200, 100));
    EXPECT_LE(std::abs((ink.left - box.left) - (box.right - ink.right)), 2);
}

TEST_F(Drawing, TextStaysInsideItsRectangleAndTheClipAndFollowsTheOffset) {
    auto& context = surface.context();
    // Too long for its box: cut at the box's edges.
    context.drawText("A rather long line of text", CRect(50, 10, 90, 30), kNormalFont,
                     kWhiteCColor);
    Ink ink = inkIn(surface, CRect(0, 0, 200, 100));
    EXPECT_GE(ink.left, 50);
    EXPECT_LE(ink.right, 90);
    EXPECT_GE(ink.top, 10);
    EXPECT_LE(ink.bottom, 30);

    surface.clear(CColor(0x40, 0x40, 0x40));
    {
        toolkit::DrawContext::StateGuard guard(context);
        context.setOffset(CPoint(100, 50));
        context.setClipRect(CRect(100, 50, 130, 100));
        context.drawText("Wide text here", CRect(0, 0, 100, 20), kNormalFont, kWhiteCColor,
                         kLeftText);
    }
    ink = inkIn(surface, CRect(0, 0, 200, 100));
    EXPECT_GT(ink.pixels, 5);
    EXPECT_GE(ink.left, 100);
    EXPECT_LE(ink.right, 130);
    EXPECT_GE(ink.top, 50);
    EXPECT_LE(ink.bottom, 70);

    // An unknown family still draws, with a stand-in.
    surface.clear(CColor(0x40, 0x40, 0x40));
    context.drawText("abc", CRect(0, 0, 60, 20), CFontDesc{"No Such Family", 12, kBoldFace},
                     kWhiteCColor);
    EXPECT_GT(inkIn(surface, CRect(0, 0, 60, 20)).pixels, 5);
}

TEST_F(Drawing, PicturesBlendWithTheirOwnAndTheDrawnAlphaAndStayInTheirPart) {
    auto* bitmap = new CBitmap(10, 10);
    bitmap->fill(CColor(255, 0, 0));
    bitmap->setPixel(0, 0, 0x80800000u); // half-transparent red, premultiplied
    auto& context = surface.context();
    context.drawBitmap(*bitmap, CRect(0, 0, 10, 10), CPoint(0, 0), 0.5f);
    const std::uint32_t half = surface.pixel(5, 5);
    EXPECT_EQ(half >> 24, 0xFFu);
    EXPECT_NEAR(double((half >> 16) & 0xFF), 0.5 * 255 + 0.5 * 0x40, 3.0);
    EXPECT_NEAR(double(half & 0xFF), 0.5 * 0x40, 3.0);
    const std::uint32_t quarter = surface.pixel(0, 0);
    EXPECT_NEAR(double((quarter >> 16) & 0xFF), 0.25 * 255 + 0.75 * 0x40, 3.0);

    // A part that reaches past the picture draws only what exists; the clip cuts further.
    surface.clear(CColor(0x40, 0x40, 0x40));
    {
        toolkit::DrawContext::StateGuard guard(context);
        context.setClipRect(CRect(0, 0, 104, 100));
        context.drawBitmap(*bitmap, CRect(100, 20, 120, 40), CPoint(5, 5));
    }
    EXPECT_EQ(surface.pixel(100, 20), 0xFFFF0000u);
    EXPECT_EQ(surface.pixel(103, 24), 0xFFFF0000u);
    EXPECT_EQ(surface.pixel(104, 24), kGrey) << "outside the clip";
    EXPECT_EQ(surface.pixel(100, 25), kGrey) << "beyond the picture";
    bitmap->forget();
}

TEST(GdiplusPng, OnlyCompletePngFilesDecode) {
    toolkit::OffscreenSurface surface(3, 2);
    surface.clear(CColor(1, 2, 3, 128));
    const auto path = std::filesystem::temp_directory_path() / "qr_gdiplus_test.png";
    ASSERT_TRUE(surface.writePng(path.string().c_str()));
    std::vector<unsigned char> png;
    {
        std::ifstream file(path, std::ios::binary);
        png.assign(std::istreambuf_iterator<char>(file), {});
    }
    std::filesystem::remove(path);

    toolkit::PixelImage image;
    ASSERT_TRUE(toolkit::decodePng(png.data(), png.size(), image));
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.pixels[5] >> 24, 128u) << "alpha survives the round trip";

    // Without the closing chunk, or with a chunk claiming more than there is: refused.
    toolkit::PixelImage untouched;
    EXPECT_FALSE(toolkit::decodePng(png.data(), png.size() - 12, untouched));
    std::vector<unsigned char> lying = png;
    lying[8] = 0x7F; // the header chunk's length
    EXPECT_FALSE(toolkit::decodePng(lying.data(), lying.size(), untouched));
    EXPECT_EQ(untouched.width, 0);

    // Pictures GDI+ would read in other formats are not PNG.
    const unsigned char bmp[] = {'B', 'M', 0x3A, 0, 0, 0, 0, 0, 0, 0, 0x36, 0,    0, 0,    0x28,
                                 0,   0,   0,    1, 0, 0, 0, 1, 0, 0, 0,    1,    0, 0x18, 0,
                                 0,   0,   0,    0, 4, 0, 0, 0, 0, 0, 0,    0,    0, 0,    0,
                                 0,   0,   0,    0, 0, 0, 0, 0, 0, 0, 0,    0xFF, 0};
    EXPECT_FALSE(toolkit::decodePng(bmp, sizeof bmp, untouched));
}
