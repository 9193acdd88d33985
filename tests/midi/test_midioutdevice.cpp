// The MIDI port on its own, over the recording MIDI calls: which device it reaches, what it
// sends when the driver keeps up, is slow or answers "not ready", and how it ends.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <thread>

#include "midi/midioutdevice.h"
#include "tests/support/recording_midi.h"

using testing_midi::Recorder;
using testing_midi::SentMessage;
using namespace std::chrono_literals;
using State = MidiOutDevice::PortState;

namespace {

void expectBytes(DWORD message, unsigned status, unsigned controller, unsigned value) {
    EXPECT_EQ(message & 0xFF, status);
    EXPECT_EQ((message >> 8) & 0xFF, controller);
    EXPECT_EQ((message >> 16) & 0xFF, value);
    EXPECT_EQ(message >> 24, 0u);
}

// The last value each channel received.
std::map<int, int> finalValues(const std::vector<SentMessage>& messages) {
    std::map<int, int> values;
    for (const SentMessage& message : messages)
        values[message.channel()] = message.value();
    return values;
}

class Port : public ::testing::Test {
  protected:
    void SetUp() override {
        Recorder::instance().reset({u"A", u"B", u"C"});
        port = std::make_unique<MidiOutDevice>();
    }
    void settle() { ASSERT_TRUE(port->waitUntilSent(5s)); }
    std::unique_ptr<MidiOutDevice> port;
};

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

TEST(MidiOutDevice, ListsTerminatedNamesAndSeesNewDevicesOnlyWhenItCountsAgain) {
    Recorder::instance().reset(
        {u"Alpha", u"Caf\u00e9 \u0141", u"0123456789012345678901234567890123"});
    Recorder::instance().failCapsQuery(1);
    MidiOutDevice port;
    ASSERT_EQ(port.getDeviceCount(), 3u);
    EXPECT_EQ(port.getDeviceName(0), "Alpha");
    EXPECT_EQ(port.getDeviceName(1), "") << "a failed query gives an empty name";
    EXPECT_EQ(port.getDeviceName(2), "0123456789012345678901234567890");
    EXPECT_EQ(port.getDeviceName(3), "");
    Recorder::instance().setDevices({u"Alpha", u"Caf\u00e9", u"Late"});
    Recorder::instance().failCapsQuery(-1);
    EXPECT_EQ(port.getDeviceCount(), 3u);
    EXPECT_EQ(port.getDeviceName(2), "0123456789012345678901234567890");
    port.recount();
    EXPECT_EQ(port.getDeviceName(1), "Caf\xe9");
    EXPECT_EQ(port.getDeviceName(2), "Late");
    EXPECT_TRUE(Recorder::instance().calls().empty()) << "counting opens nothing";
}

TEST_F(Port, NothingIsOpenUntilADeviceIsChosenAndNothingIsSentWithoutOne) {
    port->sendControlChange(0, 10);
    settle();
    EXPECT_EQ(port->status().state, State::kNone);
    EXPECT_FALSE(port->isOpen());
    EXPECT_TRUE(Recorder::instance().calls().empty());
    EXPECT_EQ(port->sendControlChange(48, 1), MMSYSERR_INVALPARAM);
    EXPECT_EQ(port->sendControlChange(-1, 1), MMSYSERR_INVALPARAM);

    Recorder::instance().reset();
    MidiOutDevice empty;
    empty.selectDevice(0);
    empty.sendControlChange(0, 1);
    ASSERT_TRUE(empty.waitUntilSent(5s));
    EXPECT_EQ(empty.status().state, State::kNone);
    EXPECT_TRUE(Recorder::instance().calls().empty());
}

TEST_F(Port, ChoosingOpensReselectingReopensAndAFailedOpenRecoversWhenAskedAgain) {
    port->selectDevice(1);
    port->sendControlChange(8, 64);
    settle();
    EXPECT_TRUE(Recorder::instance().isOpen(u"B"));
    EXPECT_EQ(port->status().state, State::kOpen);
    EXPECT_EQ(port->status().number, 1);
    port->selectDevice(1); // the same device: closed and opened again
    settle();
    EXPECT_EQ(Recorder::instance().openHandles(), 1);

    Recorder::instance().failOpen(true);
    port->selectDevice(0);
    settle();
    EXPECT_EQ(Recorder::instance().openHandles(), 0) << "a failed open leaves nothing open";
    EXPECT_EQ(port->status().state, State::kNotConnected);
    EXPECT_EQ(port->status().name, "A") << "the choice stays for another try";
    port->sendControlChange(0, 1);
    settle();
    Recorder::instance().failOpen(false);
    port->reconnect();
    port->sendControlChange(0, 2);
    settle();
    EXPECT_TRUE(Recorder::instance().isOpen(u"A"));

    port->selectDevice(7); // out of the list: no device
    settle();
    EXPECT_EQ(port->status().state, State::kNone);
    EXPECT_EQ(Recorder::instance().openHandles(), 0);

    const auto sent = Recorder::instance().messages();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].name, u"B");
    EXPECT_EQ(sent[0].status(), 0xB2);
    EXPECT_EQ(sent[1].name, u"A");
    EXPECT_EQ(sent[1].value(), 2);
}

TEST_F(Port, ADeviceThatMovedInTheTableIsStillTheOneOpenedAndAVanishedOneIsNotReplaced) {
    // The system re-ordered its table after this port counted (a device re-plugged).
    Recorder::instance().setDevices({u"C", u"A", u"B"});
    port->selectDevice(0); // "A" as this port counted it
    port->sendControlChange(0, 5);
    settle();
    EXPECT_TRUE(Recorder::instance().isOpen(u"A"));
    EXPECT_EQ(Recorder::instance().messagesTo(u"A").size(), 1u);
    EXPECT_TRUE(Recorder::instance().messagesTo(u"C").empty());

    // "B" is gone; whatever now stands at its number is not opened in its place.
    Recorder::instance().setDevices({u"C", u"A"});
    port->selectDevice(1);
    port->sendControlChange(0, 6);
    settle();
    EXPECT_EQ(port->status().state, State::kNotConnected);
    EXPECT_EQ(Recorder::instance().openHandles(), 0);
    EXPECT_EQ(Recorder::instance().messages().size(), 1u);
}

TEST_F(Port, AnotherPortsCountNeverRedirectsThisPortsNumbers) {
    // Instance two counts while instance one has already chosen: its numbers stay its own.
    Recorder::instance().setDevices({u"B", u"C"});
    MidiOutDevice other;
    other.selectDevice(0);
    port->selectDevice(0);
    port->sendControlChange(3, 33);
    other.sendControlChange(3, 44);
    settle();
    ASSERT_TRUE(other.waitUntilSent(5s));
    EXPECT_TRUE(Recorder::instance().messagesTo(u"A").empty());
    EXPECT_EQ(port->status().state, State::kNotConnected) << "this port's 0 was A, which is gone";
    const auto toB = Recorder::instance().messagesTo(u"B");
    ASSERT_EQ(toB.size(), 1u);
    EXPECT_EQ(toB[0].value(), 44) << "only the instance that chose B reaches it";
}

TEST_F(Port, ChangesLeaveInTheOrderTheyWereMadeWhenTheDriverKeepsUp) {
    port->selectDevice(0);
    settle();
    // A burst over distinct controllers keeps its order however late the sender wakes.
    const int burst[] = {5, 3, 40, 0, 47, 12, 30, 7};
    int value = 1;
    for (int channel : burst)
        port->sendControlChange(channel, value++);
    settle();
    // Changes of one controller each reach the device while it keeps up.
    for (int step = 0; step < 8; ++step) {
        port->sendControlChange(5, 100 + step);
        settle();
    }
    const auto sent = Recorder::instance().messages();
    ASSERT_EQ(sent.size(), 16u);
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(sent[i].channel(), burst[i]) << i;
        EXPECT_EQ(sent[i].value(), static_cast<int>(i) + 1) << i;
        EXPECT_EQ(sent[8 + i].value(), 100 + static_cast<int>(i)) << i;
    }
}

TEST_F(Port, ValuesTheDeviceAlreadyHoldsAreNotSentAgainUnlessAskedTo) {
    port->selectDevice(0);
    port->sendControlChange(4, 90);
    settle();
    port->sendControlChange(4, 90); // an echo of the same value
    settle();
    port->sendControlChange(4, 90, true); // a refresh
    settle();
    port->selectDevice(0); // a new port knows nothing of what the old one took
    port->sendControlChange(4, 90);
    settle();
    EXPECT_EQ(Recorder::instance().messages().size(), 3u);
}

TEST_F(Port, ASlowDriverGetsEachControllersNewestValueAndNoOlderOneAfterIt) {
    Recorder::instance().setSendDelay(1ms);
    port->selectDevice(0);
    settle();
    std::map<int, int> expected;
    for (int i = 0; i < 2000; ++i) {
        const int channel = i % 6;
        const int value = (i * 7) % 128;
        port->sendControlChange(channel, value);
        expected[channel] = value;
    }
    settle();
    const auto sent = Recorder::instance().messages();
    EXPECT_LT(sent.size(), 1000u) << "older pending values were replaced";
    EXPECT_EQ(finalValues(sent), expected);

    // Changes going on for many message times: once they stop, the device needs at most one
    // message per changed controller besides the one under way, none of them outdated.
    const auto until = std::chrono::steady_clock::now() + 40ms;
    for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
        port->sendControlChange(i % 6, i % 128);
        expected[i % 6] = i % 128;
    }
    const std::size_t sentBeforeTheLastChange = Recorder::instance().messages().size();
    settle();
    const auto all = Recorder::instance().messages();
    EXPECT_LE(all.size() - sentBeforeTheLastChange, 6u + 1u);
    EXPECT_EQ(finalValues(all), expected);
}

TEST_F(Port, NotReadyIsRetriedUntilTheDriverTakesTheChange) {
    port->selectDevice(0);
    settle();
    Recorder::instance().setNotReady(true);
    port->sendControlChange(1, 11);
    port->sendControlChange(2, 22);
    port->sendControlChange(1, 12);
    EXPECT_FALSE(port->waitUntilSent(50ms)) << "nothing is dealt with while the driver refuses";
    EXPECT_GT(Recorder::instance().notReadyAnswers(), 1);
    Recorder::instance().setNotReady(false);
    settle();
    const auto sent = Recorder::instance().messages();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].channel(), 2) << "channel 1's change was made last";
    EXPECT_EQ(sent[1].value(), 12);
}

TEST_F(Port, ChangesMadeBeforeADeviceChangeGoToTheOldDeviceAndLaterOnesToTheNew) {
    Recorder::instance().setSendDelay(2ms);
    port->selectDevice(0);
    settle();
    for (int channel = 0; channel < 10; ++channel)
        port->sendControlChange(channel, 1);
    port->selectDevice(1);
    for (int channel = 0; channel < 10; ++channel)
        port->sendControlChange(channel, 2);
    settle();
    const auto toA = Recorder::instance().messagesTo(u"A");
    const auto toB = Recorder::instance().messagesTo(u"B");
    ASSERT_EQ(toA.size(), 10u);
    ASSERT_EQ(toB.size(), 10u);
    for (const auto& message : toA)
        EXPECT_EQ(message.value(), 1);
    for (const auto& message : toB)
        EXPECT_EQ(message.value(), 2);
    // A's port closed only after its last message.
    const auto calls = Recorder::instance().calls();
    const auto closeA = std::find_if(calls.begin(), calls.end(), [](const auto& call) {
        return call.name == "close" && call.deviceName == u"A";
    });
    ASSERT_NE(closeA, calls.end());
    EXPECT_TRUE(std::none_of(closeA, calls.end(), [](const auto& call) {
        return call.name == "send" && call.deviceName == u"A";
    }));
}

TEST_F(Port, ClosingSendsWhatIsPendingAndNeverHangsOnADeadDevice) {
    Recorder::instance().setSendDelay(2ms);
    port->selectDevice(0);
    settle();
    for (int channel = 0; channel < 20; ++channel)
        port->sendControlChange(channel, 100);
    port.reset();
    EXPECT_EQ(Recorder::instance().messages().size(), 20u);
    EXPECT_EQ(Recorder::instance().openHandles(), 0);

    port = std::make_unique<MidiOutDevice>();
    port->selectDevice(1);
    settle();
    Recorder::instance().setNotReady(true);
    port->sendControlChange(0, 1);
    const auto start = std::chrono::steady_clock::now();
    port.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(Recorder::instance().openHandles(), 0);
}

TEST_F(Port, AFloodFromFourThreadsWithDeviceChangesEndsWithTheNewestValuesOnTheLastDevice) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    std::array<std::atomic<int>, 48> newest{};
    for (int t = 0; t < 3; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; !stop.load(); ++i) {
                const int channel = (t * 16 + i) % 48;
                const int value = (i + t) % 128;
                // Each thread owns its channels, so "newest" is well defined per channel.
                if (channel / 16 != t) continue;
                newest[static_cast<std::size_t>(channel)].store(value);
                port->sendControlChange(channel, value);
            }
        });
    }
    writers.emplace_back([&] {
        for (int i = 0; i < 60; ++i) {
            port->selectDevice(i % 4); // 3 is no device
            if (i % 7 == 0)
                port->sendControlChange(i % 48, newest[static_cast<std::size_t>(i % 48)].load(),
                                        true);
            std::this_thread::sleep_for(1ms);
        }
        port->selectDevice(2);
    });
    writers.back().join();
    std::this_thread::sleep_for(30ms); // the writers go on with C open
    stop.store(true);
    for (std::size_t t = 0; t + 1 < writers.size(); ++t)
        writers[t].join();
    settle();

    std::map<int, int> expected;
    for (int channel = 0; channel < 48; ++channel)
        expected[channel] = newest[static_cast<std::size_t>(channel)].load();
    EXPECT_EQ(finalValues(Recorder::instance().messagesTo(u"C")), expected);
    // The recorder refuses sends to closed handles; the port must never have tried one.
    for (const auto& call : Recorder::instance().calls())
        ASSERT_NE(call.name, "rejected");
    EXPECT_LE(Recorder::instance().openHandles(), 1);
}
