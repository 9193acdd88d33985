// Pictures of the window, checked by pixel probes at places the layout fixes.

#include <gtest/gtest.h>

#include "tests/editor/editor_fixture.h"

namespace {
int red(std::uint32_t argb) { return (argb >> 16) & 0xFF; }
int green(std::uint32_t argb) { return (argb >> 8) & 0xFF; }
int alpha(std::uint32_t argb) { return argb >> 24; }
bool isPageGrey(std::uint32_t argb) {
    return alpha(argb) == 255 && std::abs(red(argb) - 178) <= 12 && red(argb) == green(argb);
}
} // namespace

class Render : public EditorTest {
protected:
    void SetUp() override {
        EditorTest::SetUp();
        openWindow();
    }
    std::uint32_t probe(int x, int y) {
        toolkit::OffscreenSurface surface(573, 394);
        frame()->render(surface.context());
        return surface.pixel(x, y);
    }
    int darkPixelsIn(const CRect& area) {
        toolkit::OffscreenSurface surface(573, 394);
        frame()->render(surface.context());
        int count = 0;
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                if (red(surface.pixel(x, y)) < 60) ++count;
        return count;
    }
};

TEST_F(Render, PageOneShowsItsBackgroundKnobsAndLabels) {
    if (editor()->getKnob(0)->getBackground()->getWidth() == 0)
        GTEST_SKIP() << "this build has no PNG decoder yet";
    EXPECT_TRUE(isPageGrey(probe(560, 200))) << std::hex << probe(560, 200);
    // The knob of channel 1 is dark at its centre.
    EXPECT_LT(red(probe(40, 77)), 100);
    // Its label "10 dB" puts black text into the label rectangle (window rows 100 to 120).
    EXPECT_GT(darkPixelsIn(CRect(21, 100, 56, 120)), 10);
}

TEST_F(Render, LinkSwitchShowsRedTextWhenOn) {
    if (editor()->getKnob(0)->getBackground()->getWidth() == 0)
        GTEST_SKIP() << "this build has no PNG decoder yet";
    auto redPixels = [this] {
        toolkit::OffscreenSurface surface(573, 394);
        frame()->render(surface.context());
        int count = 0;
        for (int y = 126; y < 144; ++y)
            for (int x = 26; x < 130; ++x) {
                const auto p = surface.pixel(x, y);
                if (red(p) > 150 && green(p) < 80) ++count;
            }
        return count;
    };
    EXPECT_EQ(redPixels(), 0);
    set(50, 1.0f);
    EXPECT_GT(redPixels(), 20);
}

TEST_F(Render, ShrunkWindowIsTheMenuBar) {
    if (editor()->getKnob(0)->getBackground()->getWidth() == 0)
        GTEST_SKIP() << "this build has no PNG decoder yet";
    click(472, 12);
    toolkit::OffscreenSurface surface(573, 27);
    frame()->render(surface.context());
    // The menu slot of the device menu is dark grey.
    EXPECT_LT(red(surface.pixel(236, 20)), 140);
}
