#pragma once
// Creates the plug-in through its entry point, with the fake host and the recording MIDI
// calls, exactly as a host would.

#include <gtest/gtest.h>

#include <string>

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
    std::vector<testing_midi::SentMessage> midi() {
        return testing_midi::Recorder::instance().messages();
    }

    AEffect* record = nullptr;
};
