// Pictures through the offscreen surface, checked by pixel probes.

#include "tests/toolkit/toolkit_fixture.h"

#include "toolkit/offscreen.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

using tktest::stripColor;
using tktest::ToolkitTest;

namespace {

constexpr std::uint32_t kGrey = 0xFF404040u;

int countNonGrey(const toolkit::OffscreenSurface& surface, const CRect& area) {
    int count = 0;
    for (CCoord y = area.top; y < area.bottom; ++y)
        for (CCoord x = area.left; x < area.right; ++x)
            if (surface.pixel(x, y) != kGrey) ++count;
    return count;
}

std::filesystem::path tempPng(const char* name) {
    return std::filesystem::temp_directory_path() /
           (std::string("qr_toolkit_") +
            std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" + name +
            ".png");
}

} // namespace

class Render : public ToolkitTest {
  protected:
    Render() : surface(300, 200) { surface.clear(CColor(0x40, 0x40, 0x40)); }

    void render() { frame->render(surface.context()); }

    toolkit::OffscreenSurface surface;
};

TEST_F(Render, BackgroundOffsetShowsTheMatchingBitmapRows) {
    // A full-frame picture whose row y has the colour of image y; the page starts at row 30
    // with offset (0, 30), so window row y shows picture row y.
    CBitmap* picture = tktest::makeStrip(300, 1, 200);
    auto* page = new CViewContainer(CRect(0, 30, 300, 200), frame, picture);
    page->setBackgroundOffset(CPoint(0, 30));
    frame->addView(page);
    picture->forget();
    render();
    EXPECT_EQ(surface.pixel(0, 29), kGrey);
    EXPECT_EQ(surface.pixel(0, 30), stripColor(30));
    EXPECT_EQ(surface.pixel(299, 120), stripColor(120));
    EXPECT_EQ(surface.pixel(10, 199), stripColor(199));
}

TEST_F(Render, KnobShowsTheImageOfItsValueAtItsPlace) {
    CBitmap* strip = tktest::makeStrip(30, 30, 41);
    auto* page = new CViewContainer(CRect(0, 30, 300, 200), frame);
    frame->addView(page);
    auto* knob = new CAnimKnob(CRect(25, 32, 55, 62), &listener, 2, 41, 30, strip, CPoint(0, 0));
    page->addView(knob);
    strip->forget();
    for (auto [value, image] : {std::pair{0.0f, 0}, {0.5f, 20}, {1.0f, 40}}) {
        knob->setValue(value);
        render();
        EXPECT_EQ(surface.pixel(25, 62), stripColor(image)) << value;
        EXPECT_EQ(surface.pixel(54, 91), stripColor(image)) << value;
        EXPECT_EQ(surface.pixel(24, 62), kGrey);
        EXPECT_EQ(surface.pixel(55, 91), kGrey);
        EXPECT_EQ(surface.pixel(25, 92), kGrey) << "the next image must not show";
    }
}

TEST_F(Render, TwoStateButtonsShowTheHalfOfTheirState) {
    CBitmap* states = tktest::makeStrip(37, 25, 2);
    // Wider than its bitmap, as the information button is.
    auto* onOff = new COnOffButton(CRect(10, 0, 49, 25), &listener, 77, states, 0);
    auto* kick = new CKickButton(CRect(100, 0, 137, 25), &listener, 1, 25, states, CPoint(0, 0));
    frame->addView(onOff);
    frame->addView(kick);
    states->forget();
    render();
    EXPECT_EQ(surface.pixel(10, 0), stripColor(0));
    EXPECT_EQ(surface.pixel(46, 24), stripColor(0));
    EXPECT_EQ(surface.pixel(47, 10), kGrey);
    EXPECT_EQ(surface.pixel(100, 0), stripColor(0));

    onOff->setValue(1.0f);
    frame->onMouseDown(CPoint(110, 10), kLButton); // kick button held down
    render();
    EXPECT_EQ(surface.pixel(10, 0), stripColor(1));
    EXPECT_EQ(surface.pixel(46, 24), stripColor(1));
    EXPECT_EQ(surface.pixel(10, 25), kGrey);
    EXPECT_EQ(surface.pixel(120, 20), stripColor(1));
    frame->onMouseUp(CPoint(110, 10), kLButton);
    render();
    EXPECT_EQ(surface.pixel(120, 20), stripColor(0));
}

TEST_F(Render, RenderingClearsTheDirtyRegionAndPaintsOnlyWhatIsAsked) {
    CBitmap* states = tktest::makeStrip(20, 20, 2);
    auto* button = new COnOffButton(CRect(0, 0, 20, 20), &listener, 50, states);
    frame->addView(button);
    states->forget();
    button->invalid();
    EXPECT_FALSE(frame->getDirtyRect().isEmpty());
    frame->renderRect(surface.context(), CRect(0, 0, 10, 20));
    EXPECT_FALSE(frame->getDirtyRect().isEmpty()); // only half was painted
    EXPECT_EQ(surface.pixel(9, 5), stripColor(0));
    EXPECT_EQ(surface.pixel(10, 5), kGrey);
    render();
    EXPECT_TRUE(frame->getDirtyRect().isEmpty());
    EXPECT_EQ(surface.pixel(10, 5), stripColor(0));
}

TEST_F(Render, TextDrawsInsideItsRectangleOnly) {
    auto* label = new CTextEdit(CRect(23, 70, 58, 90), &listener, 100, nullptr, nullptr, 0);
    label->setTransparency(true);
    label->setFontColor(kBlackCColor);
    label->setMouseEnabled(false);
    frame->addView(label);
    render();
    EXPECT_EQ(countNonGrey(surface, CRect(0, 0, 300, 200)), 0) << "no text, no pixels";

    label->setText("30 dB");
    render();
    const int inside = countNonGrey(surface, CRect(23, 70, 58, 90));
    EXPECT_GT(inside, 20);
    EXPECT_EQ(countNonGrey(surface, CRect(0, 0, 300, 200)), inside);
    // Centred: ink on both halves of the label.
    EXPECT_GT(countNonGrey(surface, CRect(23, 70, 40, 90)), 5);
    EXPECT_GT(countNonGrey(surface, CRect(41, 70, 58, 90)), 5);

    // An opaque display paints its back colour over the whole rectangle.
    label->setTransparency(false);
    label->setBackColor(CColor(0, 0, 255));
    render();
    EXPECT_EQ(surface.pixel(23, 70), 0xFF0000FFu);
    EXPECT_EQ(surface.pixel(57, 89), 0xFF0000FFu);
}

TEST_F(Render, OptionMenuShowsItsCurrentEntryOnly) {
    auto* menu = new COptionMenu(CRect(234, 0, 300, 25), &listener, 0, nullptr, nullptr, 0);
    menu->setTransparency(true);
    menu->setFontColor(kBlackCColor);
    menu->setFont(kNormalFontSmall);
    menu->addEntry("Port \xC4");
    frame->addView(menu);
    render();
    EXPECT_EQ(countNonGrey(surface, CRect(234, 0, 300, 25)), 0);
    menu->setValue(0.0f);
    render();
    EXPECT_GT(countNonGrey(surface, CRect(234, 0, 300, 25)), 20);
}

TEST_F(Render, TranslucentPixelsBlendOverWhatIsBelow) {
    auto* bitmap = new CBitmap(4, 4);
    bitmap->fill(CColor(255, 255, 255, 128));
    auto* box = new CViewContainer(CRect(0, 0, 4, 4), frame, bitmap);
    frame->addView(box);
    bitmap->forget();
    render();
    const std::uint32_t p = surface.pixel(1, 1);
    EXPECT_EQ(p >> 24, 0xFFu);
    const std::uint32_t red = (p >> 16) & 0xFF;
    EXPECT_GT(red, 0x90u);
    EXPECT_LT(red, 0xB0u);
}

TEST(Png, OffscreenPicturesRoundTripThroughPngFiles) {
    toolkit::OffscreenSurface surface(8, 6);
    surface.clear(CColor(10, 20, 30));
    surface.context().fillRect(CRect(2, 1, 4, 3), CColor(200, 100, 0));
    const auto path = tempPng("roundtrip");
    ASSERT_TRUE(surface.writePng(path.string().c_str()));
    std::vector<char> bytes;
    {
        std::ifstream file(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(file), {});
    }
    std::error_code ignored;
    std::filesystem::remove(path, ignored);

    CBitmap* bitmap = CBitmap::fromPng(bytes.data(), bytes.size());
    EXPECT_EQ(bitmap->getWidth(), 8);
    EXPECT_EQ(bitmap->getHeight(), 6);
    EXPECT_EQ(bitmap->getPixel(0, 0), 0xFF0A141Eu);
    EXPECT_EQ(bitmap->getPixel(3, 2), 0xFFC86400u);
    EXPECT_EQ(bitmap->getPixel(4, 2), 0xFF0A141Eu);
    bitmap->forget();

    // Damaged or foreign bytes give an empty bitmap.
    for (std::size_t size : {std::size_t(0), std::size_t(8), bytes.size() / 2}) {
        CBitmap* damaged = CBitmap::fromPng(bytes.data(), size);
        EXPECT_FALSE(damaged->isLoaded()) << size;
        damaged->forget();
    }
    const char text[] = "not a picture at all";
    CBitmap* foreign = CBitmap::fromPng(text, sizeof text);
    EXPECT_FALSE(foreign->isLoaded());
    foreign->forget();
    EXPECT_FALSE(surface.writePng("/nonexistent-dir/x.png"));
}

TEST(Png, EmbeddedKnobStripDecodesWithItsAlpha) {
    CBitmap knob("KnobHandle");
    if (!knob.isLoaded()) GTEST_SKIP() << "no embedded bitmaps in this build";
    // Corners of every image lie outside the round knob: transparent ground.
    EXPECT_EQ(knob.getPixel(0, 0) >> 24, 0u);
    EXPECT_EQ(knob.getPixel(15, 15) >> 24, 0xFFu); // the knob's middle is opaque
}
