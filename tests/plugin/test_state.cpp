// What a host saves with a project and gives back on reload: the parameter values and the
// chosen device, found again by name wherever it now is.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "plugin/statedata.h"
#include "tests/support/plugin_fixture.h"

using testing_host::FakeHost;
using testing_midi::Recorder;

namespace {

std::vector<unsigned char> blobOf(const SavedState& state) {
    std::array<unsigned char, kMaxStateSize> buffer{};
    const std::size_t size = writeStateData(state, buffer);
    return std::vector<unsigned char>(buffer.begin(), buffer.begin() + static_cast<long>(size));
}

SavedState sampleState(const char* device) {
    SavedState state;
    for (std::size_t i = 0; i < state.values.size(); ++i) state.values[i] = 0.25f;
    state.values[0] = 1.0f;
    std::strcpy(state.deviceName.data(), device);
    return state;
}

void putU32(std::vector<unsigned char>& blob, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) blob[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

void putFloat(std::vector<unsigned char>& blob, std::size_t index, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    putU32(blob, 16 + 4 * index, bits);
}

} // namespace

TEST(StateData, WhatIsWrittenReadsBackAndAnythingMalformedIsRefusedWhole) {
    const std::vector<unsigned char> good = blobOf(sampleState("Desk A"));
    ASSERT_EQ(good.size(), kStateHeaderSize + 7);
    SavedState read;
    ASSERT_TRUE(readStateData(good.data(), good.size(), read));
    EXPECT_STREQ(read.deviceName.data(), "Desk A");
    EXPECT_EQ(read.values[5], 0.25f);

    const SavedState untouched = sampleState("keep");
    const auto refused = [&](std::vector<unsigned char> blob, std::size_t size, const char* why) {
        SavedState out = untouched;
        EXPECT_FALSE(readStateData(blob.data(), size, out)) << why;
        EXPECT_STREQ(out.deviceName.data(), "keep") << why;
    };
    refused(good, good.size() - 1, "truncated");
    refused(good, 12, "only a header");
    auto blob = good;
    blob[0] = 'X';
    refused(blob, blob.size(), "magic");
    blob = good;
    putU32(blob, 4, 2);
    refused(blob, blob.size(), "a later version");
    blob = good;
    putU32(blob, 8, static_cast<std::uint32_t>(good.size() + 1));
    refused(blob, blob.size(), "length beyond the buffer");
    putU32(blob, 8, 0xFFFFFFFFu);
    refused(blob, blob.size(), "length at the integer limit");
    blob = good;
    putU32(blob, 12, 73);
    refused(blob, blob.size(), "parameter count");
    blob = good;
    putU32(blob, 312, 0xFFFFFFF0u);
    refused(blob, blob.size(), "name length wrapping the sum");
    blob = good;
    blob.back() = 'x';
    refused(blob, blob.size(), "unterminated name");
    blob = good;
    blob[kStateHeaderSize + 2] = '\0';
    refused(blob, blob.size(), "a zero inside the name");
    for (auto [index, value] : std::vector<std::pair<std::size_t, float>>{
             {3, std::numeric_limits<float>::quiet_NaN()},
             {3, 1.5f},
             {60, -0.25f},
             {1, std::numeric_limits<float>::infinity()},
             {0, 2.5f},
             {0, -2.0f}}) {
        blob = good;
        putFloat(blob, index, value);
        refused(blob, blob.size(), "value out of range");
    }
    SavedState out;
    EXPECT_FALSE(readStateData(nullptr, good.size(), out));
    EXPECT_FALSE(readStateData(good.data(), SIZE_MAX, out));

    // What the effect holds is brought into range before it is written.
    EXPECT_EQ(savableValue(5, std::numeric_limits<float>::quiet_NaN()), 0.0f);
    EXPECT_EQ(savableValue(5, 7.0f), 1.0f);
    EXPECT_EQ(savableValue(0, 2.7f), 2.0f);
    EXPECT_EQ(savableValue(0, -1e9f), -1.0f);
}

class State : public PluginTest {
  protected:
    std::vector<unsigned char> saveState() {
        void* data = nullptr;
        const VstIntPtr size = dispatch(effGetChunk, 0, 0, &data);
        EXPECT_GT(size, 0);
        const auto* bytes = static_cast<const unsigned char*>(data);
        return std::vector<unsigned char>(bytes, bytes + size);
    }
    VstIntPtr loadState(std::vector<unsigned char> blob) {
        return dispatch(effSetChunk, 0, static_cast<VstIntPtr>(blob.size()), blob.data());
    }
    // A new instance, as a host makes it when it reopens a project.
    void reopen() {
        dispatch(effClose);
        Recorder::instance().clearLog();
        FakeHost::instance().reset();
        record = VSTPluginMain(testing_host::hostCallback);
        ASSERT_NE(record, nullptr);
    }
};

TEST_F(State, AReopenedProjectFindsItsDeviceWhereverItsNumberNowIs) {
    set(0, 1.0f); // "Port B"
    for (int channel = 0; channel < 48; ++channel) set(2 + channel, channel / 47.0f);
    set(50, 1.0f);
    const std::vector<unsigned char> saved = saveState();

    // Between the sessions a device came up before it.
    Recorder::instance().setDevices({u"New", u"Port A", u"Port C", u"Port B"});
    reopen();
    ASSERT_EQ(loadState(saved), 1);
    EXPECT_EQ(get(0), 3.0f) << "parameter 0 takes the device's number now";
    EXPECT_EQ(get(50), 1.0f);
    const auto sent = midi();
    ASSERT_EQ(sent.size(), 48u);
    for (const auto& message : sent) EXPECT_EQ(message.name, u"Port B");
    for (int channel = 0; channel < 48; ++channel)
        EXPECT_EQ(sent[static_cast<std::size_t>(channel)].value(), gainToMidiValue(channel / 47.0f));
    EXPECT_EQ(Recorder::instance().openHandles(), 1);
}

// Some hosts give back the state data and then set every parameter again, parameter 0 to the
// number the project saved, which counted the devices of another day.
TEST_F(State, TheSavedNumberSetAgainByTheHostStillMeansTheProjectsDevice) {
    set(0, 1.0f); // "Port B"
    set(9, 0.5f);
    const std::vector<unsigned char> saved = saveState();
    Recorder::instance().setDevices({u"Port X", u"Port Y", u"Port B"});
    reopen();
    ASSERT_EQ(loadState(saved), 1);
    set(0, 1.0f);
    set(9, 0.5f);
    settle();
    EXPECT_EQ(get(0), 2.0f);
    EXPECT_TRUE(Recorder::instance().messagesTo(u"Port Y").empty());
    EXPECT_TRUE(Recorder::instance().isOpen(u"Port B"));

    // Another number is a new choice, and from then on numbers count this instance's list.
    set(0, 0.0f);
    settle();
    EXPECT_TRUE(Recorder::instance().isOpen(u"Port X"));
    set(0, 1.0f);
    settle();
    EXPECT_TRUE(Recorder::instance().isOpen(u"Port Y"));
}

// Others set every parameter first, parameter 0 to the saved number, and give the state right
// after: the stale number must not open a device, nor gains reach one.
TEST_F(State, TheSavedNumberSetByTheHostJustBeforeTheStateNeverReachesADevice) {
    set(0, 0.0f); // "Port A"
    set(7, 0.5f);
    const std::vector<unsigned char> saved = saveState();
    Recorder::instance().setDevices({u"Port X", u"Port A"});
    reopen();
    set(0, 0.01f);
    set(7, 0.5f);
    ASSERT_EQ(loadState(saved), 1);
    settle();
    EXPECT_FALSE(Recorder::instance().calls().empty());
    for (const auto& call : Recorder::instance().calls()) EXPECT_EQ(call.deviceName, u"Port A");
    EXPECT_EQ(Recorder::instance().messagesTo(u"Port A").size(), 48u);
}

TEST_F(State, AMissingDeviceSendsNothingUntilACountFindsItThenGetsEveryGain) {
    set(0, 2.0f); // "Port C"
    set(7, 0.5f);
    const std::vector<unsigned char> saved = saveState();

    Recorder::instance().setDevices({u"Port A", u"Port B"});
    reopen();
    ASSERT_EQ(loadState(saved), 1);
    set(0, 2.0f); // the host sets the saved number again: still the missing device
    EXPECT_TRUE(midiCalls().empty()) << "nothing opened, nothing sent anywhere";
    EXPECT_EQ(get(0), -1.0f);
    const MidiOutDevice::Status status = effect()->midiPort().status();
    EXPECT_EQ(status.state, MidiOutDevice::PortState::kNotConnected);
    EXPECT_EQ(status.name, "Port C");
    // Saved again while missing, the project still names its device.
    SavedState resaved;
    const std::vector<unsigned char> blob = saveState();
    ASSERT_TRUE(readStateData(blob.data(), blob.size(), resaved));
    EXPECT_STREQ(resaved.deviceName.data(), "Port C");

    Recorder::instance().setDevices({u"Port A", u"Port B", u"Other", u"Port C"});
    effect()->recountDevices(); // the user opened the device menu
    const auto sent = midi();
    ASSERT_EQ(sent.size(), 48u);
    for (const auto& message : sent) EXPECT_EQ(message.name, u"Port C");
    EXPECT_EQ(sent[5].value(), 63);
    EXPECT_EQ(get(0), 3.0f);
    EXPECT_EQ(FakeHost::instance().recorded(audioMasterUpdateDisplay).size(), 1u)
        << "the host hears of the new number as a display change";
    EXPECT_TRUE(FakeHost::instance().recorded(audioMasterAutomate).empty());
}

TEST_F(State, AnOpenPortStaysOpenThroughACountAndParameterZeroFollowsIt) {
    set(0, 1.0f);
    settle();
    Recorder::instance().setDevices({u"Port B", u"Port D"});
    effect()->recountDevices();
    settle();
    EXPECT_EQ(get(0), 0.0f);
    EXPECT_TRUE(Recorder::instance().isOpen(u"Port B"));
    const auto calls = midiCalls();
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const auto& c) { return c.name == "close"; }),
              0);
}

TEST_F(State, BadStateDataChangesNothingAndAStateWithoutDeviceClosesThePort) {
    set(0, 0.0f);
    set(9, 0.75f);
    settle();
    std::vector<unsigned char> blob = saveState();
    blob[0] = 'Z';
    EXPECT_EQ(loadState(blob), 0);
    EXPECT_EQ(dispatch(effSetChunk, 0, 100, nullptr), 0);
    unsigned char small[8] = {};
    EXPECT_EQ(dispatch(effSetChunk, 0, INT_MAX, small), 0);
    EXPECT_EQ(dispatch(effSetChunk, 0, -5, small), 0);
    EXPECT_EQ(get(9), 0.75f);
    settle();
    EXPECT_TRUE(Recorder::instance().isOpen(u"Port A"));

    SavedState none = sampleState("");
    none.values[9] = 0.125f;
    EXPECT_EQ(loadState(blobOf(none)), 1);
    EXPECT_EQ(get(9), 0.125f);
    EXPECT_EQ(get(0), -1.0f);
    settle();
    EXPECT_EQ(Recorder::instance().openHandles(), 0);
}
