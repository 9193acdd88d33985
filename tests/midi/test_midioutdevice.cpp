#include <gtest/gtest.h>

#include "midi/midioutdevice.h"
#include "tests/support/recording_midi.h"

using testing_midi::Recorder;

namespace {
void expectBytes(DWORD message, unsigned status, unsigned controller, unsigned value) {
    EXPECT_EQ(message & 0xFF, status);
    EXPECT_EQ((message >> 8) & 0xFF, controller);
    EXPECT_EQ((message >> 16) & 0xFF, value);
    EXPECT_EQ(message >> 24, 0u);
}
} // namespace

TEST(MidiOutDevice, ControlChangeBytesFollowTheChannelMapping) {
    expectBytes(MidiOutDevice::controlChangeMessage(0, 0), 0xB1, 0x18, 0x00);
    expectBytes(MidiOutDevice::controlChangeMessage(7, 127), 0xB1, 0x1F, 0x7F);
    expectBytes(MidiOutDevice::controlChangeMessage(8, 64), 0xB2, 0x18, 0x40);
    expectBytes(MidiOutDevice::controlChangeMessage(23, 63), 0xB3, 0x1F, 0x3F);
    expectBytes(MidiOutDevice::controlChangeMessage(47, 127), 0xB6, 0x1F, 0x7F);
    // A data byte never reaches 128, whatever the caller passes.
    expectBytes(MidiOutDevice::controlChangeMessage(0, 128), 0xB1, 0x18, 0x7F);
    expectBytes(MidiOutDevice::controlChangeMessage(0, -5), 0xB1, 0x18, 0x00);
}

TEST(MidiOutDevice, ListsDevicesOnceWithTerminatedNames) {
    Recorder::instance().reset({u"Alpha", u"Caf\u00e9 \u0141", u"0123456789012345678901234567890123"});
    Recorder::instance().failCapsQuery(1);
    MidiOutDevice port;
    ASSERT_EQ(port.getDeviceCount(), 3u);
    EXPECT_STREQ(port.getDeviceName(0), "Alpha");
    EXPECT_STREQ(port.getDeviceName(1), "") << "a failed query gives an empty name";
    EXPECT_STREQ(port.getDeviceName(2), "0123456789012345678901234567890");
    EXPECT_EQ(port.getDeviceName(3), nullptr);
    // Devices added later are not seen by this port.
    Recorder::instance().names.push_back(u"Late");
    EXPECT_EQ(port.getDeviceCount(), 3u);
    EXPECT_TRUE(Recorder::instance().calls().empty()) << "construction opens nothing";
}

TEST(MidiOutDevice, NoDevicesMeansNothingToOpenOrSend) {
    Recorder::instance().reset();
    MidiOutDevice port;
    EXPECT_EQ(port.getDeviceCount(), 0u);
    EXPECT_EQ(port.closeDevice(), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(port.sendControlChange(0, 10), MMSYSERR_INVALHANDLE);
    EXPECT_NE(port.openDevice(0), MMSYSERR_NOERROR);
    EXPECT_FALSE(port.isOpen());
}

TEST(MidiOutDevice, OpenCloseAndSendFollowTheTwoStates) {
    Recorder::instance().reset({u"A", u"B"});
    {
        MidiOutDevice port;
        EXPECT_EQ(port.openDevice(1), MMSYSERR_NOERROR);
        EXPECT_EQ(port.sendControlChange(8, 64), MMSYSERR_NOERROR);
        // Reopening the same device closes it first.
        EXPECT_EQ(port.openDevice(1), MMSYSERR_NOERROR);
        EXPECT_EQ(Recorder::instance().openHandles(), 1);
        // A failed open leaves nothing open, not even the old device.
        Recorder::instance().failOpen(true);
        EXPECT_EQ(port.openDevice(0), MMSYSERR_ALLOCATED);
        EXPECT_FALSE(port.isOpen());
        EXPECT_EQ(port.sendControlChange(0, 1), MMSYSERR_INVALHANDLE);
        Recorder::instance().failOpen(false);
        EXPECT_EQ(port.openDevice(0), MMSYSERR_NOERROR);
        EXPECT_EQ(port.closeDevice(), MMSYSERR_NOERROR);
        EXPECT_EQ(port.closeDevice(), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(port.sendControlChange(0, 1), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(port.openDevice(5), MMSYSERR_BADDEVICEID);
        EXPECT_EQ(port.openDevice(-1), MMSYSERR_BADDEVICEID);
        EXPECT_EQ(port.openDevice(0), MMSYSERR_NOERROR);
        EXPECT_EQ(port.sendControlChange(48, 1), MMSYSERR_INVALPARAM);
        EXPECT_EQ(port.sendControlChange(-1, 1), MMSYSERR_INVALPARAM);
    }
    // Destruction closed the open device exactly once.
    EXPECT_EQ(Recorder::instance().openHandles(), 0);
    std::vector<std::string> sequence;
    for (const auto& call : Recorder::instance().calls()) sequence.push_back(call.name);
    EXPECT_EQ(sequence, (std::vector<std::string>{"open", "send", "close", "open", "close", "open",
                                                  "open", "close", "open", "close"}));
    const auto sent = Recorder::instance().messages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].device, 1);
    EXPECT_EQ(sent[0].status(), 0xB2);
}
