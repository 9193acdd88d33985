#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "tests/support/plugin_fixture.h"

using testing_midi::Recorder;

using Effect = PluginTest;

TEST_F(Effect, ProgramNameIsBoundedToTwentyFourCharacters) {
    char longName[] = "abcdefghijklmnopqrstuvwxyz1234";
    dispatch(effSetProgramName, 0, 0, longName);
    EXPECT_EQ(text(effGetProgramName), "abcdefghijklmnopqrstuvwx");
}

TEST_F(Effect, AudioPassesThroughUnchanged) {
    constexpr int frames = 512;
    std::vector<float> in1(frames), in2(frames), out1(frames, -7.0f), out2(frames, -7.0f);
    std::vector<double> din1(frames), din2(frames), dout1(frames, -7.0), dout2(frames, -7.0);
    for (int i = 0; i < frames; ++i) {
        in1[i] = std::sin(i * 0.1f);
        in2[i] = -0.5f + i * 1e-3f;
        din1[i] = std::cos(i * 0.2);
        din2[i] = 1e-300 * i;
    }
    float* inputs[] = {in1.data(), in2.data()};
    float* outputs[] = {out1.data(), out2.data()};
    record->processReplacing(record, inputs, outputs, 0);
    record->processReplacing(record, inputs, outputs, -3);
    EXPECT_EQ(out1[0], -7.0f);
    record->processReplacing(record, inputs, outputs, frames);
    EXPECT_EQ(0, std::memcmp(in1.data(), out1.data(), frames * sizeof(float)));
    EXPECT_EQ(0, std::memcmp(in2.data(), out2.data(), frames * sizeof(float)));

    double* dinputs[] = {din1.data(), din2.data()};
    double* doutputs[] = {dout1.data(), dout2.data()};
    record->processDoubleReplacing(record, dinputs, doutputs, frames);
    EXPECT_EQ(0, std::memcmp(din1.data(), dout1.data(), frames * sizeof(double)));
    EXPECT_EQ(0, std::memcmp(din2.data(), dout2.data(), frames * sizeof(double)));

    // In place: the host hands the same buffers as input and output.
    record->processReplacing(record, inputs, inputs, frames);
    EXPECT_EQ(0, std::memcmp(in1.data(), out1.data(), frames * sizeof(float)));
    record->process(record, inputs, outputs, frames);
    EXPECT_TRUE(midi().empty());

    // Crossed buffers (output 1 is input 2): the copy keeps its sample-by-sample order.
    std::vector<float> a{1, 2, 3}, b{4, 5, 6};
    float* crossedIn[] = {a.data(), b.data()};
    float* crossedOut[] = {b.data(), a.data()};
    record->processReplacing(record, crossedIn, crossedOut, 3);
    EXPECT_EQ(b, (std::vector<float>{1, 2, 3}));
    EXPECT_EQ(a, (std::vector<float>{1, 2, 3}));
}

TEST_F(Effect, GainsAreStoredAndSentOnceADeviceIsOpen) {
    set(5, 0.5f);
    EXPECT_EQ(get(5), 0.5f);
    EXPECT_TRUE(midi().empty()) << "no device is open after construction";

    set(0, 2.7f);  // opens device 2
    set(5, 0.5f);
    set(5, 0.5f);  // what the device already holds is not sent again (host echoes)
    set(5, 0.501f); // nor is a change within the same 7-bit step
    set(49, 1.0f);
    const auto sent = midi();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].device, 2);
    EXPECT_EQ(sent[0].status(), 0xB1);
    EXPECT_EQ(sent[0].controller(), 27);
    EXPECT_EQ(sent[0].value(), 63);
    EXPECT_EQ(sent[1].status(), 0xB6);
    EXPECT_EQ(sent[1].controller(), 31);
    EXPECT_EQ(sent[1].value(), 127);
}

TEST_F(Effect, RefreshResendsEveryStoredGainInOrder) {
    for (int channel = 0; channel < 48; ++channel) set(2 + channel, channel / 47.0f);
    set(0, 0.0f);
    clearMidi();
    set(1, 0.999f);
    set(1, 0.0f);
    EXPECT_TRUE(midi().empty());
    EXPECT_EQ(get(1), 0.0f);
    set(1, 1.0f);
    set(1, 0.0f);
    settle();
    set(1, 1.0f); // a refresh always sends, even what the device holds
    const auto sent = midi();
    ASSERT_EQ(sent.size(), 96u);
    for (int i = 0; i < 96; ++i) {
        const int channel = i % 48;
        EXPECT_EQ(sent[i].status(), 0xB1 + channel / 8) << channel;
        EXPECT_EQ(sent[i].controller(), 24 + channel % 8) << channel;
        EXPECT_EQ(sent[i].value(), static_cast<int>(channel / 47.0f * 127.0)) << channel;
    }
}

TEST_F(Effect, DeviceSelectorOpensOrCloses) {
    set(0, -0.5f);  // truncates to device 0
    settle();
    EXPECT_EQ(Recorder::instance().openHandles(), 1);
    EXPECT_TRUE(Recorder::instance().isOpen(u"Port A"));
    set(0, 3.0f);
    settle();
    EXPECT_TRUE(Recorder::instance().isOpen(u"Port D"));
    EXPECT_EQ(Recorder::instance().openHandles(), 1);
    for (float outOfRange : {4.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(), 3.0e9f, -3.0e9f}) {
        set(0, 1.0f);
        settle();
        ASSERT_EQ(Recorder::instance().openHandles(), 1);
        set(0, outOfRange);
        settle();
        EXPECT_EQ(Recorder::instance().openHandles(), 0) << outOfRange;
    }
    // The stored number stays even when nothing could be opened.
    EXPECT_EQ(get(0), -3.0e9f);
    Recorder::instance().failOpen(true);
    set(0, 1.0f);
    EXPECT_EQ(get(0), 1.0f);
    set(2, 0.5f);
    EXPECT_TRUE(midi().empty());
    EXPECT_EQ(Recorder::instance().openHandles(), 0);
}

TEST_F(Effect, OutOfRangeValuesNeverCorruptAMidiByte) {
    set(0, 0.0f);
    const float values[] = {1.5f, -0.5f, std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN(), 1e30f, -1e30f, 1e30f};
    for (float value : values) {
        set(2, value);
        settle(); // each value reaches the port on its own
    }
    const auto sent = midi();
    ASSERT_EQ(sent.size(), std::size(values));
    for (const auto& message : sent) {
        EXPECT_LT(message.controller(), 128);
        EXPECT_LT(message.value(), 128);
        EXPECT_EQ(message.message >> 24, 0u);
    }
    EXPECT_EQ(sent[0].value(), 127);
    EXPECT_EQ(sent[1].value(), 0);
    EXPECT_EQ(sent[2].value(), 127);
    EXPECT_EQ(sent[3].value(), 0);
    // The stored parameter stays as the host gave it.
    EXPECT_EQ(get(2), 1e30f);
}

TEST_F(Effect, IndexesOutsideTheSetChangeNothing) {
    set(0, 0.0f);
    clearMidi();
    set(74, 1.0f);
    set(-1, 1.0f);
    set(1000000, 1.0f);
    EXPECT_TRUE(midi().empty());
    EXPECT_EQ(get(74), 0.0f);
    EXPECT_EQ(get(-1), 0.0f);
    char name[16] = "untouched";
    dispatch(effGetParamName, 74, 0, name);
    EXPECT_STREQ(name, "untouched");
    EXPECT_EQ(text(effGetParamDisplay, 74), "0.000000");
    EXPECT_EQ(text(effGetParamLabel, 3), "");
}

TEST_F(Effect, LinksAreStoredAndShownAsNumbers) {
    set(73, 1.0f);
    EXPECT_EQ(get(73), 1.0f);
    EXPECT_EQ(text(effGetParamName, 73), "Ln 47+48");
    EXPECT_EQ(text(effGetParamDisplay, 73), "1.000000");
    EXPECT_EQ(text(effGetParamDisplay, 50), "0.000000");
    EXPECT_TRUE(midi().empty());
}

TEST_F(Effect, DisplaysOfGainsAndNumbers) {
    set(2, 0.999f);
    EXPECT_EQ(text(effGetParamDisplay, 2), "49 dB");
    set(2, 1.0f);
    EXPECT_EQ(text(effGetParamDisplay, 2), "50 dB");
    set(0, 3.0f);
    EXPECT_EQ(text(effGetParamDisplay, 0), "3.000000");
    set(1, 1.0f);
    EXPECT_EQ(text(effGetParamDisplay, 1), "1.000000");
    set(3, std::numeric_limits<float>::quiet_NaN());
    set(4, 1e20f);
    set(0, -1e20f);
    for (VstInt32 index : {0, 3, 4}) {
        char buffer[32];
        std::memset(buffer, '#', sizeof buffer);
        dispatch(effGetParamDisplay, index, 0, buffer);
        EXPECT_LE(std::strlen(buffer), 8u) << index;
    }
    EXPECT_EQ(text(effGetParamName, 1), "Refresh");
    EXPECT_EQ(text(effGetParamName, 2), "Gain 1");
    EXPECT_EQ(text(effGetParamName, 50), "Ln 1+2");
}

TEST_F(Effect, ClosingClosesTheOpenPortOnce) {
    set(0, 1.0f);
    settle();
    clearMidi();
    EXPECT_EQ(dispatch(effClose), 1);
    record = nullptr;
    const auto calls = Recorder::instance().calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "close");
    EXPECT_EQ(calls[0].device, 1);
    EXPECT_EQ(Recorder::instance().openHandles(), 0);
}
