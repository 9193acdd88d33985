#include <gtest/gtest.h>

#include <thread>

#include "tests/editor/editor_fixture.h"

using HostUpdates = EditorTest;

TEST_F(HostUpdates, ControlsFollowTheHostAlsoOnTheHiddenPage) {
    openWindow();
    MidiRemoteEditor* e = editor();
    set(30, 1.0f);  // channel 29, page two
    EXPECT_EQ(e->getCurrentPage(), 0);
    EXPECT_EQ(e->getKnob(28)->getValue(), 1.0f);
    EXPECT_EQ(labelText(28), "50 dB");
    set(2, 0.999f);
    EXPECT_EQ(labelText(0), "49 dB");
    set(2, 0.0f);
    EXPECT_EQ(labelText(0), "10 dB");
    set(2, -1.0f);
    EXPECT_EQ(labelText(0), "-30 dB");
    set(73, 1.0f);
    EXPECT_EQ(e->getLink(23)->getValue(), 1.0f);

    // The menu names the device whose port is open, once it is.
    EXPECT_STREQ(e->getDeviceMenu()->getShownText(), "No MIDI output");
    set(0, 2.7f);
    settle();
    dispatch(effEditIdle);
    EXPECT_EQ(e->getDeviceMenu()->getCurrentIndex(), 2);
    EXPECT_STREQ(e->getDeviceMenu()->getShownText(), "Port C");
    set(0, 9.0f); // no such device: the port closes and the menu says so
    settle();
    dispatch(effEditIdle);
    EXPECT_EQ(e->getDeviceMenu()->getCurrentIndex(), -1);
    EXPECT_STREQ(e->getDeviceMenu()->getShownText(), "No MIDI output");

    const float before = e->getRefreshButton()->getValue();
    set(1, 1.0f);
    EXPECT_EQ(e->getRefreshButton()->getValue(), before);
}

TEST_F(HostUpdates, NoticesFromAnotherThreadWaitForTheWindowThread) {
    openWindow();
    MidiRemoteEditor* e = editor();
    std::thread audio([this] {
        set(10, 0.25f);
        set(10, 0.75f);  // the newest value wins
        set(52, 1.0f);
    });
    audio.join();
    EXPECT_EQ(get(10), 0.75f);
    EXPECT_EQ(e->getKnob(8)->getValue(), 0.0f) << "no toolkit object is touched off the window thread";
    EXPECT_EQ(labelText(8), "10 dB");
    dispatch(effEditIdle);
    EXPECT_EQ(e->getKnob(8)->getValue(), 0.75f);
    EXPECT_EQ(labelText(8), "40 dB");
    EXPECT_EQ(e->getLink(2)->getValue(), 1.0f);
}

TEST_F(HostUpdates, AutomationFromAnotherThreadWhileTheWindowIsUsed) {
    set(0, 0.0f);
    openWindow();
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        for (int i = 0; !stop.load(); ++i) set(2 + i % 48, (i % 128) / 127.0f);
    });
    for (int i = 0; i < 200; ++i) {
        dispatch(effEditIdle);
        drag(knobCentre(i % 24).x, knobCentre(i % 24).y, i % 2 ? 20 : -20, 4);
        if (i % 50 == 0) {
            closeWindow();
            openWindow();
        }
    }
    stop = true;
    audio.join();
    // A last pass of automation: the controls end on the values the effect holds.
    std::thread([this] {
        for (int channel = 0; channel < 48; ++channel) set(2 + channel, (channel + 1) / 50.0f);
    }).join();
    dispatch(effEditIdle);
    for (int channel = 0; channel < 48; ++channel)
        EXPECT_EQ(editor()->getKnob(channel)->getValue(), get(2 + channel)) << channel;
}

TEST_F(HostUpdates, ClosedWindowDropsNoticesAndOpeningReadsAfresh) {
    openWindow();
    closeWindow();
    set(5, 0.5f);
    std::thread([this] { set(6, 0.25f); }).join();
    openWindow();
    EXPECT_EQ(editor()->getKnob(3)->getValue(), 0.5f);
    EXPECT_EQ(labelText(3), "30 dB");
    EXPECT_EQ(editor()->getKnob(4)->getValue(), 0.25f);
}

TEST_F(HostUpdates, ClosingTheEffectWithTheWindowOpen) {
    openWindow();
    click(100, 12);
    EXPECT_EQ(dispatch(effClose), 1);
    record = nullptr;
}

// The editor asks the host to follow each change of its window's size, where the host says it
// can; the size query keeps its answers.
class SizeRequests : public EditorTest {
  protected:
    std::vector<testing_host::SizeRequest> requests() {
        return testing_host::FakeHost::instance().sizeRequests;
    }
    static std::string heights(const std::vector<testing_host::SizeRequest>& list) {
        std::string text;
        for (const auto& request : list)
            text += std::to_string(request.width) + "x" + std::to_string(request.height) + " ";
        return text;
    }
};

TEST_F(SizeRequests, OpeningShrinkingAndGrowingAskAHostThatCan) {
    testing_host::FakeHost::instance().canSizeWindow = true;
    EXPECT_EQ(windowRect().bottom, 424) << "before the first opening";
    openWindow();
    EXPECT_EQ(windowRect().bottom, 394);
    const auto asked = testing_host::FakeHost::instance().canDoAsked;
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.front(), "sizeWindow");
    ASSERT_EQ(heights(requests()), "573x394 ");
    EXPECT_EQ(requests()[0].rectDuringCall.bottom, 394) << "the host reads the new size back";
    EXPECT_EQ(requests()[0].rectDuringCall.right, 573);

    click(472, 12); // "Minimize!"
    EXPECT_EQ(windowRect().bottom, 27);
    click(472, 12); // "Maximize!"
    EXPECT_EQ(windowRect().bottom, 394);
    EXPECT_EQ(heights(requests()), "573x394 573x27 573x394 ");
    EXPECT_EQ(requests()[1].rectDuringCall.bottom, 27);

    // Reopened at the size it had, the window asks for nothing; closed shrunk, it does.
    closeWindow();
    openWindow();
    EXPECT_EQ(requests().size(), 3u);
    click(472, 12);
    closeWindow();
    EXPECT_EQ(windowRect().bottom, 27) << "the host keeps seeing the last size while closed";
    openWindow();
    EXPECT_EQ(heights(requests()), "573x394 573x27 573x394 573x27 573x394 ");
}

TEST_F(SizeRequests, AHostThatCannotIsNotAsked) {
    openWindow();
    click(472, 12);
    click(472, 12);
    EXPECT_FALSE(testing_host::FakeHost::instance().canDoAsked.empty());
    EXPECT_TRUE(requests().empty());
    EXPECT_TRUE(testing_host::FakeHost::instance().recorded(audioMasterSizeWindow).empty());
    EXPECT_EQ(windowRect().bottom, 394);
}
