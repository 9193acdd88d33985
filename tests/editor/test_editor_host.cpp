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
