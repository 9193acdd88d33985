#pragma once
// The plug-in with its window opened offscreen, driven by mouse events in window coordinates.

#include <chrono>
#include <string>
#include <thread>

#include "editor/midiremoteeditor.h"
#include "vst/audioeffect.h"
#include "tests/support/plugin_fixture.h"
#include "toolkit/offscreen.h"

class EditorTest : public PluginTest {
protected:
    static constexpr int kMenuHeight = 30;

    MidiRemoteEditor* editor() {
        return static_cast<MidiRemoteEditor*>(static_cast<AudioEffect*>(record->object)->getEditor());
    }
    void openWindow() { ASSERT_EQ(dispatch(effEditOpen, 0, 0, nullptr), 1); }
    void closeWindow() { dispatch(effEditClose); }
    ERect windowRect() {
        ERect* rect = nullptr;
        EXPECT_EQ(dispatch(effEditGetRect, 0, 0, &rect), 1);
        return rect ? *rect : ERect{};
    }
    CFrame* frame() { return editor()->getFrame(); }

    void click(int x, int y) {
        frame()->onMouseDown(CPoint(x, y), kLButton);
        frame()->onMouseUp(CPoint(x, y), kLButton);
    }
    // A vertical drag: positive `up` raises the value by up / 200 of the range.
    void drag(int x, int y, int up, int steps = 1) {
        frame()->onMouseDown(CPoint(x, y), kLButton);
        for (int i = 1; i <= steps; ++i) frame()->onMouseMoved(CPoint(x, y - up * i / steps), kLButton);
        frame()->onMouseUp(CPoint(x, y - up), kLButton);
    }
    // Window centre of the knob of a channel shown on the current page (0-based slot).
    static CPoint knobCentre(int slot) {
        return CPoint(40 + 70 * (slot % 8), kMenuHeight + 47 + 122 * (slot / 8));
    }
    static CPoint linkCentre(int linkSlot) {
        return CPoint(78 + 140 * (linkSlot % 4), kMenuHeight + 105 + 122 * (linkSlot / 4));
    }
    std::string labelText(int channel) { return editor()->getGainLabel(channel)->getText(); }
    // The messages sent so far, once there are at least `count` or a few seconds passed: MIDI
    // may leave from a thread of its own shortly after the change.
    std::vector<testing_midi::SentMessage> midiAtLeast(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        auto sent = midi();
        while (sent.size() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            sent = midi();
        }
        return sent;
    }
};
