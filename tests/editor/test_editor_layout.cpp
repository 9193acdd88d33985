#include <gtest/gtest.h>

#include <typeinfo>

#include "tests/editor/editor_fixture.h"

using Layout = EditorTest;

namespace {
void expectRect(const CView* view, CCoord left, CCoord top, CCoord right, CCoord bottom) {
    ASSERT_NE(view, nullptr);
    const CRect& r = view->getViewSize();
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.right, right);
    EXPECT_EQ(r.bottom, bottom);
}
} // namespace

TEST_F(Layout, WindowSizeBeforeAndAfterOpening) {
    EXPECT_EQ(record->flags & effFlagsHasEditor, effFlagsHasEditor);
    ERect rect = windowRect();
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.bottom, 424);
    EXPECT_EQ(rect.right, 573);
    openWindow();
    rect = windowRect();
    EXPECT_EQ(rect.bottom, 394);
    EXPECT_EQ(rect.right, 573);
    EXPECT_EQ(frame()->getViewSize().getHeight(), 394);
    EXPECT_EQ(frame()->getViewSize().getWidth(), 573);
}

TEST_F(Layout, EveryControlHasItsClassTagAndRectangle) {
    openWindow();
    MidiRemoteEditor* e = editor();
    for (int channel = 0; channel < 48; ++channel) {
        const int slot = channel % 24;
        const int left = 25 + 70 * (slot % 8), top = 32 + 122 * (slot / 8);
        CAnimKnob* knob = e->getKnob(channel);
        EXPECT_EQ(knob->getTag(), channel + 2);
        expectRect(knob, left, top, left + 30, top + 30);
        EXPECT_EQ(knob->getParentView(), e->getPageView(channel / 24));
        EXPECT_TRUE(knob->getMouseEnabled());
        CTextEdit* label = e->getGainLabel(channel);
        EXPECT_EQ(label->getTag(), channel + 100);
        expectRect(label, left - 2, top + 38, left + 33, top + 58);
        EXPECT_FALSE(label->getMouseEnabled());
        EXPECT_EQ(label->getParentView(), e->getPageView(channel / 24));
    }
    for (int pair = 0; pair < 24; ++pair) {
        const int slot = pair % 12;
        const int left = 26 + 140 * (slot % 4), top = 96 + 122 * (slot / 4);
        COnOffButton* link = e->getLink(pair);
        EXPECT_EQ(link->getTag(), pair + 50);
        expectRect(link, left, top, left + 104, top + 18);
        EXPECT_EQ(link->getParentView(), e->getPageView(pair / 12));
    }
    expectRect(e->getPage1Button(), 0, 0, 67, 25);
    expectRect(e->getPage2Button(), 69, 0, 136, 25);
    expectRect(e->getRefreshButton(), 138, 0, 232, 25);
    expectRect(e->getDeviceMenu(), 234, 0, 410, 25);
    expectRect(e->getFrameButton(), 412, 0, 532, 25);
    expectRect(e->getInfoButton(), 534, 0, 573, 25);
    EXPECT_EQ(e->getPage1Button()->getTag(), 74);
    EXPECT_EQ(e->getPage2Button()->getTag(), 75);
    EXPECT_EQ(e->getRefreshButton()->getTag(), 1);
    EXPECT_EQ(e->getDeviceMenu()->getTag(), 0);
    EXPECT_EQ(e->getFrameButton()->getTag(), 76);
    EXPECT_EQ(e->getInfoButton()->getTag(), 77);
    for (CView* view : {static_cast<CView*>(e->getPage1Button()), static_cast<CView*>(e->getDeviceMenu()),
                        static_cast<CView*>(e->getInfoButton())})
        EXPECT_EQ(view->getParentView(), e->getMenuView());

    expectRect(e->getMenuView(), 0, 0, 573, 30);
    for (int page = 0; page < 3; ++page) {
        expectRect(e->getPageView(page), 0, 30, 573, 394);
        EXPECT_EQ(e->getPageView(page)->getBackgroundOffset().y, 30);
    }
    EXPECT_TRUE(frame()->isChild(e->getMenuView()));
    EXPECT_TRUE(frame()->isChild(e->getPageView(0)));
    EXPECT_FALSE(frame()->isChild(e->getPageView(1)));
    EXPECT_FALSE(frame()->isChild(e->getPageView(2)));
    EXPECT_EQ(e->getPageView(0)->getNbViews(), 24 + 24 + 12);
    EXPECT_EQ(e->getPageView(2)->getNbViews(), 0);
    EXPECT_EQ(e->getMenuView()->getNbViews(), 6);
}

TEST_F(Layout, OpeningReadsEveryValueFromTheEffect) {
    set(2, 0.0f);
    set(5, 0.5f);   // never-opened window: nothing is remembered, the value is read at open
    set(49, 1.0f);
    set(51, 1.0f);
    set(0, 2.0f);
    settle(); // the port opened device 2
    openWindow();
    MidiRemoteEditor* e = editor();
    EXPECT_EQ(labelText(0), "10 dB");
    EXPECT_FLOAT_EQ(e->getKnob(3)->getValue(), 0.5f);
    EXPECT_EQ(labelText(3), "30 dB");
    EXPECT_EQ(labelText(47), "50 dB");
    EXPECT_EQ(e->getLink(1)->getValue(), 1.0f);
    EXPECT_EQ(e->getLink(0)->getValue(), 0.0f);
    EXPECT_EQ(e->getDeviceMenu()->getNbEntries(), 4);
    EXPECT_EQ(e->getDeviceMenu()->getCurrentIndex(), 2);
    EXPECT_STREQ(e->getDeviceMenu()->getEntry(2), "Port C");
    // Page one on show, its button selected and locked.
    EXPECT_EQ(e->getPage1Button()->getValue(), 1.0f);
    EXPECT_FALSE(e->getPage1Button()->getMouseEnabled());
    EXPECT_EQ(e->getPage2Button()->getValue(), 0.0f);
    EXPECT_TRUE(e->getPage2Button()->getMouseEnabled());
    EXPECT_EQ(e->getFrameButton()->getValue(), 0.0f);
    EXPECT_EQ(e->getInfoButton()->getValue(), 0.0f);
    EXPECT_TRUE(e->getRefreshButton()->getMouseEnabled());
    EXPECT_TRUE(e->getDeviceMenu()->getMouseEnabled());
}

TEST(EditorDevices, NamesKeepLatinOneAndLowBytesAndFailedQueriesAreEmpty) {
    testing_host::FakeHost::instance().reset();
    testing_midi::Recorder::instance().reset(
        {u"Caf\u00e9", u"\u0141odz", u"Broken", u"0123456789012345678901234567890"});
    testing_midi::Recorder::instance().failCapsQuery(2);
    AEffect* record = VSTPluginMain(testing_host::hostCallback);
    ASSERT_NE(record, nullptr);
    auto* e = static_cast<MidiRemoteEditor*>(static_cast<AudioEffect*>(record->object)->getEditor());
    ASSERT_EQ(e->getDeviceCount(), 4u);
    EXPECT_EQ(e->getDeviceName(0), "Caf\xe9");
    EXPECT_EQ(e->getDeviceName(1), "Aodz");
    EXPECT_EQ(e->getDeviceName(2), "");
    EXPECT_EQ(e->getDeviceName(3), "0123456789012345678901234567890");
    record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f);
}

TEST_F(Layout, OpenAndCloseAreGuardedAndReopeningStartsOnPageOneFullSize) {
    closeWindow();  // nothing open: nothing happens
    openWindow();
    CFrame* first = frame();
    openWindow();  // already open: the window stays as it is
    EXPECT_EQ(frame(), first);
    click(100, 12);  // page two
    click(472, 12);  // shrink
    EXPECT_EQ(windowRect().bottom, 27);
    closeWindow();
    EXPECT_EQ(frame(), nullptr);
    EXPECT_EQ(windowRect().bottom, 27) << "the host keeps seeing the last size while closed";
    closeWindow();
    openWindow();
    EXPECT_EQ(editor()->getCurrentPage(), 0);
    EXPECT_EQ(windowRect().bottom, 394);
    EXPECT_TRUE(editor()->isExpanded());
    // Closing the effect with the window still open closes the window first.
}
