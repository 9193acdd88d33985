#include <gtest/gtest.h>

#include <thread>

#include "tests/editor/editor_fixture.h"

using testing_host::FakeHost;
using testing_midi::Recorder;

class Events : public EditorTest {
protected:
    void SetUp() override {
        EditorTest::SetUp();
        set(0, 0.0f);  // device 0 open
        openWindow();
        clearMidi();
        FakeHost::instance().reset();
    }
    std::vector<testing_host::HostCall> automation() {
        return FakeHost::instance().recorded(audioMasterAutomate);
    }
};

TEST_F(Events, KnobDragSendsOneChangePerSevenBitStep) {
    const CPoint knob = knobCentre(0);
    // 1 pixel is 0.005 of the range: still step 0, which the editor already passed on.
    drag(knob.x, knob.y, 1);
    EXPECT_TRUE(midi().empty());
    EXPECT_EQ(get(2), 0.0f);
    EXPECT_TRUE(automation().empty());

    FakeHost::instance().reset();
    drag(knob.x, knob.y, 99, 99);  // on to 0.5, one pixel at a time
    EXPECT_NEAR(get(2), 0.5f, 1e-5);
    const auto sent = midi();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().status(), 0xB1);
    EXPECT_EQ(sent.back().controller(), 24);
    EXPECT_EQ(sent.back().value(), gainToMidiValue(get(2)));
    EXPECT_NEAR(sent.back().value(), 63, 1);
    // Never two messages for the same step, never an older step after a newer one, and never
    // more messages than steps passed (a sender that lags keeps only the newest step).
    for (std::size_t i = 1; i < sent.size(); ++i) EXPECT_GT(sent[i].value(), sent[i - 1].value());
    EXPECT_LE(sent.size(), 63u);
    EXPECT_LE(sent.size(), automation().size());
    EXPECT_LE(automation().size(), 63u);
    EXPECT_EQ(automation().back().index, 2);
    EXPECT_EQ(automation().back().opt, get(2));
    char expected[kGainTextSize];
    formatGainText(get(2), expected);
    EXPECT_EQ(labelText(0), expected);

    // The whole gesture is bracketed once for tag 2.
    const auto calls = FakeHost::instance().recorded();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front().opcode, audioMasterBeginEdit);
    EXPECT_EQ(calls.front().index, 2);
    EXPECT_EQ(calls.back().opcode, audioMasterEndEdit);
    EXPECT_EQ(calls.back().index, 2);
    EXPECT_EQ(FakeHost::instance().recorded(audioMasterBeginEdit).size(), 1u);
}

TEST_F(Events, LinkedPairsMoveTogetherMovedChannelFirst) {
    set(3, 0.2f);
    click(linkCentre(0).x, linkCentre(0).y);  // "Ln 1+2" on
    EXPECT_EQ(get(50), 1.0f);
    ASSERT_EQ(automation().size(), 1u);
    EXPECT_EQ(automation()[0].index, 50);
    EXPECT_EQ(get(3), 0.2f) << "switching a link on does not align the gains";

    clearMidi();
    FakeHost::instance().reset();
    CAnimKnob* knob = editor()->getKnob(0);
    knob->setValue(0.75f);
    editor()->valueChanged(knob);
    EXPECT_EQ(get(2), 0.75f);
    EXPECT_EQ(get(3), 0.75f);
    auto sent = midi();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].controller(), 24);
    EXPECT_EQ(sent[1].controller(), 25);
    EXPECT_EQ(sent[0].value(), 95);
    EXPECT_EQ(sent[1].value(), 95);
    EXPECT_FLOAT_EQ(editor()->getKnob(1)->getValue(), 0.75f) << "the partner's knob follows";
    EXPECT_EQ(labelText(1), "40 dB");

    // Turning the partner acts on it first, then on channel 1.
    clearMidi();
    knob = editor()->getKnob(1);
    knob->setValue(0.25f);
    editor()->valueChanged(knob);
    sent = midi();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].controller(), 25);
    EXPECT_EQ(sent[1].controller(), 24);

    // The last pair links through "Ln 47+48" like every other.
    set(73, 1.0f);
    clearMidi();
    knob = editor()->getKnob(47);
    knob->setValue(1.0f);
    editor()->valueChanged(knob);
    sent = midi();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].status(), 0xB6);
    EXPECT_EQ(sent[0].controller(), 31);
    EXPECT_EQ(sent[1].controller(), 30);
}

TEST_F(Events, LinksThatAreNotExactlyOnOrPartnersOutOfRange) {
    set(50, 1.0f);
    set(3, 1.5f);  // a partner value only a host could store
    clearMidi();
    CAnimKnob* knob = editor()->getKnob(0);
    knob->setValue(0.5f);
    editor()->valueChanged(knob);
    EXPECT_TRUE(midi().empty());
    EXPECT_EQ(get(2), 0.0f);

    set(50, 0.5f);  // counts as unlinked
    editor()->valueChanged(knob);
    ASSERT_EQ(midi().size(), 1u);
    EXPECT_EQ(get(2), 0.5f);
    EXPECT_EQ(get(3), 1.5f);
}

// Whatever set a gain last, the window's next move onto another 7-bit step reaches the effect,
// the device and the host; a move that stays on the step the effect holds does not.
class NextMove : public Events {
  protected:
    // Channel 1's knob dragged to the floor in one mouse move, as a fast hand does.
    void dragChannelOneToTheFloor() { dragChannelOne(-200); }
    void dragChannelOne(int up) {
        FakeHost::instance().reset();
        clearMidi();
        drag(knobCentre(0).x, knobCentre(0).y, up, 1);
    }
    // The move reached the effect, the device (step 0) and the host, once for each channel
    // it set.
    void expectChannelOneOnStepZero(const char* after, float gain = 0.0f,
                                    std::size_t channels = 1) {
        SCOPED_TRACE(after);
        EXPECT_EQ(get(2), gain);
        const auto sent = midi();
        ASSERT_EQ(sent.size(), channels);
        EXPECT_EQ(sent[0].controller(), 24);
        EXPECT_EQ(sent[0].value(), 0);
        ASSERT_EQ(automation().size(), channels);
        EXPECT_EQ(automation()[0].index, 2);
        EXPECT_EQ(automation()[0].opt, gain);
        EXPECT_EQ(labelText(0), "10 dB");
    }
};

TEST_F(NextMove, AfterTheHostOnTheWindowThread) {
    set(2, 0.8f);
    dragChannelOneToTheFloor();
    expectChannelOneOnStepZero("host change on the window thread");
}

TEST_F(NextMove, AfterTheHostOnAnotherThreadBeforeTheWindowsIdle) {
    std::thread([this] { set(2, 0.8f); }).join();
    // The knob still shows 0.0 until the idle; one pixel up is 0.005, step 0.
    dragChannelOne(1);
    expectChannelOneOnStepZero("host change from another thread, knob not yet moved", 0.005f);
}

TEST_F(NextMove, AfterOpeningTheWindow) {
    closeWindow();
    set(2, 0.8f);
    openWindow();
    dragChannelOneToTheFloor();
    expectChannelOneOnStepZero("window opened on a restored gain");
}

TEST_F(NextMove, AfterTheHostMovedALinkedPair) {
    set(50, 1.0f);
    set(2, 0.8f);
    set(3, 0.8f);
    dragChannelOneToTheFloor();
    expectChannelOneOnStepZero("linked pair set by the host", 0.0f, 2);
    EXPECT_EQ(get(3), 0.0f) << "the partner follows";
}

TEST_F(NextMove, AfterALinkedPartnerMovedTheChannel) {
    set(50, 1.0f);
    CAnimKnob* partner = editor()->getKnob(1);
    partner->setValue(0.8f);
    editor()->valueChanged(partner);
    EXPECT_EQ(get(2), 0.8f);
    set(50, 0.0f);
    dragChannelOneToTheFloor();
    expectChannelOneOnStepZero("partner moved channel 1, then unlinked");
}

TEST_F(NextMove, StayingOnTheStepTheHostSetSendsNothing) {
    set(6, 0.5f); // channel 5, step 63
    clearMidi();
    FakeHost::instance().reset();
    CAnimKnob* knob = editor()->getKnob(4);
    knob->setValue(0.501f); // still step 63
    editor()->valueChanged(knob);
    EXPECT_EQ(get(6), 0.5f);
    EXPECT_TRUE(automation().empty());
    knob->setValue(0.004f); // step 0: a different step goes out
    editor()->valueChanged(knob);
    EXPECT_EQ(get(6), 0.004f);
    ASSERT_EQ(midi().size(), 1u);
    EXPECT_EQ(midi()[0].value(), 0);
}

TEST_F(Events, RefreshIsSentButNotAutomated) {
    for (int channel = 0; channel < 48; ++channel) set(2 + channel, 0.5f);
    clearMidi();
    FakeHost::instance().reset();
    click(185, 12);
    EXPECT_EQ(midi().size(), 48u);
    EXPECT_EQ(get(1), 0.0f) << "the release's 0.0 is stored last";
    EXPECT_TRUE(automation().empty());
    EXPECT_EQ(FakeHost::instance().recorded(audioMasterBeginEdit).size(), 1u);
    EXPECT_EQ(FakeHost::instance().recorded(audioMasterBeginEdit)[0].index, 1);

    // Released elsewhere: only the 0.0, nothing resent.
    clearMidi();
    frame()->onMouseDown(CPoint(185, 12), kLButton);
    frame()->onMouseMoved(CPoint(300, 200), kLButton);
    frame()->onMouseUp(CPoint(300, 200), kLButton);
    EXPECT_TRUE(midi().empty());
}

TEST_F(Events, DeviceMenuChoiceOpensTheDeviceAndIsAutomated) {
    frame()->setPopupChooser([](const COptionMenu& menu) { return menu.getNbEntries() - 1; });
    click(300, 12);
    EXPECT_EQ(get(0), 3.0f);
    settle();
    EXPECT_TRUE(Recorder::instance().isOpen(u"Port D"));
    ASSERT_EQ(automation().size(), 1u);
    EXPECT_EQ(automation()[0].index, 0);
    dispatch(effEditIdle); // the menu follows the port once it is open
    EXPECT_EQ(editor()->getDeviceMenu()->getCurrentIndex(), 3);
    EXPECT_STREQ(editor()->getDeviceMenu()->getShownText(), "Port D");

    FakeHost::instance().reset();
    frame()->setPopupChooser([](const COptionMenu&) { return -1; });
    click(300, 12);
    EXPECT_TRUE(automation().empty()) << "dismissing the menu reports nothing";
    EXPECT_EQ(get(0), 3.0f);
}

TEST_F(Events, TheDeviceMenuCountsAgainWhenOpenedAndSaysWhatIsConnected) {
    COptionMenu* menu = editor()->getDeviceMenu();
    settle();
    dispatch(effEditIdle);
    EXPECT_STREQ(menu->getShownText(), "Port A");
    for (int entry = 0; entry < menu->getNbEntries(); ++entry)
        EXPECT_EQ(menu->getEntryFlags(entry), 0) << "no check marks";

    // A device switched on after the plug-in was made appears once the menu is opened.
    Recorder::instance().setDevices({u"Port A", u"Port B", u"Port C", u"Port D", u"Late"});
    int offered = 0;
    frame()->setPopupChooser([&offered](const COptionMenu& shown) {
        offered = shown.getNbEntries();
        return shown.getNbEntries() - 1;
    });
    click(300, 12);
    EXPECT_EQ(offered, 5);
    settle();
    dispatch(effEditIdle);
    EXPECT_STREQ(menu->getShownText(), "Late");
    EXPECT_TRUE(Recorder::instance().isOpen(u"Late"));

    // Unplugged: the next count closes it and the menu says so, without a device name as if
    // it were in use.
    Recorder::instance().setDevices({u"Port A", u"Port B"});
    frame()->setPopupChooser([](const COptionMenu&) { return -1; });
    click(300, 12);
    settle();
    dispatch(effEditIdle);
    EXPECT_EQ(menu->getCurrentIndex(), -1);
    EXPECT_STREQ(menu->getShownText(), "Late (not connected)");
    EXPECT_EQ(Recorder::instance().openHandles(), 0);

    // Plugged in again and "Refresh": it comes back and gets every gain.
    Recorder::instance().setDevices({u"Late", u"Port A", u"Port B"});
    clearMidi();
    click(185, 12);
    const auto sent = midi();
    ASSERT_EQ(sent.size(), 48u) << "the device coming back gets every gain, once";
    EXPECT_EQ(sent[0].name, u"Late");
    dispatch(effEditIdle);
    EXPECT_STREQ(menu->getShownText(), "Late");
    EXPECT_EQ(get(0), 0.0f) << "parameter 0 follows the device to its new number";
}

TEST_F(Events, PagesInformationAndShrinkingFollowTheMenuBar) {
    MidiRemoteEditor* e = editor();
    click(100, 12);  // "25-48"
    EXPECT_EQ(e->getCurrentPage(), 1);
    EXPECT_TRUE(frame()->isChild(e->getPageView(1)));
    EXPECT_FALSE(frame()->isChild(e->getPageView(0)));
    EXPECT_EQ(e->getPage2Button()->getValue(), 1.0f);
    EXPECT_FALSE(e->getPage2Button()->getMouseEnabled());
    EXPECT_EQ(e->getPage1Button()->getValue(), 0.0f);
    EXPECT_TRUE(e->getPage1Button()->getMouseEnabled());
    // Page two's first knob edits channel 25.
    drag(knobCentre(0).x, knobCentre(0).y, 200);
    EXPECT_EQ(get(26), 1.0f);

    click(550, 12);  // information
    EXPECT_EQ(e->getCurrentPage(), 2);
    EXPECT_EQ(e->getPageBeforeInfo(), 1);
    EXPECT_TRUE(frame()->isChild(e->getPageView(2)));
    // Only the information button answers now.
    FakeHost::instance().reset();
    click(30, 12);
    click(185, 12);
    click(472, 12);
    EXPECT_EQ(e->getCurrentPage(), 2);
    EXPECT_TRUE(e->isExpanded());
    EXPECT_TRUE(FakeHost::instance().recorded().empty());
    click(550, 12);
    EXPECT_EQ(e->getCurrentPage(), 1);
    EXPECT_EQ(e->getPageBeforeInfo(), 2);
    EXPECT_FALSE(e->getPage2Button()->getMouseEnabled());
    EXPECT_TRUE(e->getRefreshButton()->getMouseEnabled());

    click(472, 12);  // "Minimize!"
    EXPECT_FALSE(e->isExpanded());
    EXPECT_EQ(windowRect().bottom, 27);
    EXPECT_EQ(frame()->getViewSize().getHeight(), 27);
    EXPECT_EQ(frame()->getViewSize().getWidth(), 573);
    EXPECT_EQ(e->getFrameButton()->getValue(), 1.0f) << "shows \"Maximize!\"";
    click(30, 12);   // locked while shrunk
    click(550, 12);
    EXPECT_EQ(e->getCurrentPage(), 1);
    click(472, 12);  // "Maximize!"
    EXPECT_TRUE(e->isExpanded());
    EXPECT_EQ(windowRect().bottom, 394);
    EXPECT_EQ(e->getCurrentPage(), 1);
    EXPECT_FALSE(e->getPage2Button()->getMouseEnabled());
    EXPECT_TRUE(e->getPage1Button()->getMouseEnabled());

    click(30, 12);  // "1-24"
    EXPECT_EQ(e->getCurrentPage(), 0);
    EXPECT_TRUE(frame()->isChild(e->getPageView(0)));
}

TEST_F(Events, ClosingOnAnyPageReleasesEveryView) {
    click(100, 12);
    closeWindow();
    openWindow();
    click(550, 12);
    closeWindow();
    // Reopened windows are complete again.
    openWindow();
    EXPECT_EQ(editor()->getPageView(0)->getNbViews(), 60);
    EXPECT_EQ(editor()->getPageView(1)->getNbViews(), 60);
}
