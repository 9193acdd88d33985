#pragma once
// Creates the plug-in through its entry point, with the fake host and the recording MIDI
// calls, exactly as a host would.

#include <gtest/gtest.h>

#include <string>

#include "midi/midioutdevice.h"
#include "plugin/midiremoteeffect.h"
#include "tests/support/fake_host.h"
#include "tests/support/recording_midi.h"

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing_host::FakeHost::instance().reset();
        testing_midi::Recorder::instance().reset({u"Port A", u"Port B", u"Port C", u"Port D"});
        record = VSTPluginMain(testing_host::hostCallback);
        ASSERT_NE(record, nullptr);
    }
    void TearDown() override {
        if (record) dispatch(effClose);
    }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) {
        return record->dispatcher(record, opcode, index, value, ptr, opt);
    }
    std::string text(VstInt32 opcode, VstInt32 index = 0) {
        char buffer[256] = {};
        dispatch(opcode, index, 0, buffer);
        return buffer;
    }
    void set(VstInt32 index, float value) { record->setParameter(record, index, value); }
    float get(VstInt32 index) { return record->getParameter(record, index); }
    MidiRemoteEffect* effect() {
        return static_cast<MidiRemoteEffect*>(static_cast<AudioEffect*>(record->object));
    }
    // The MIDI port sends on its own thread: wait until it dealt with everything so far.
    void settle() { ASSERT_TRUE(effect()->midiPort().waitUntilSent(std::chrono::seconds(5))); }
    // Forgets what was sent so far, once the port has sent it.
    void clearMidi() {
        settle();
        testing_midi::Recorder::instance().clearLog();
    }
    std::vector<testing_midi::SentMessage> midi() {
        settle();
        return testing_midi::Recorder::instance().messages();
    }
    std::vector<testing_midi::Call> midiCalls() {
        settle();
        return testing_midi::Recorder::instance().calls();
    }

    AEffect* record = nullptr;
};
