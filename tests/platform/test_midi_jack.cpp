// The Linux MIDI output calls end to end: a private `jackd -d dummy`, a JACK MIDI receiver of
// our own, and the bytes that arrive there.
#include <gtest/gtest.h>

#include "midi/midioutdevice.h"
#include "platform/winmm.h"
#include "tests/platform/jack_harness.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace qr_test;

namespace {

std::string deviceName(UINT id) {
    MIDIOUTCAPSA caps{};
    if (midiOutGetDevCapsA(id, &caps, sizeof caps) != MMSYSERR_NOERROR) return {};
    return std::string(caps.szPname, strnlen(caps.szPname, sizeof caps.szPname));
}

std::vector<std::string> deviceNames() {
    std::vector<std::string> names;
    const UINT count = midiOutGetNumDevs();
    for (UINT i = 0; i < count; ++i)
        names.push_back(deviceName(i));
    return names;
}

// The device id a port is listed under (by its name cut to 31 characters), or -1.
int findDevice(const std::string& portName) {
    const std::vector<std::string> names = deviceNames();
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == portName.substr(0, 31)) return static_cast<int>(i);
    return -1;
}

Message bytesOf(DWORD packed, std::size_t size) {
    Message message;
    for (std::size_t i = 0; i < size; ++i)
        message.push_back(static_cast<unsigned char>(packed >> (8 * i)));
    return message;
}

// A full refresh as the plug-in sends it: one Control Change per channel.
std::vector<Message> refresh(HMIDIOUT handle, int seed) {
    std::vector<Message> sent;
    for (int channel = 0; channel < MidiOutDevice::kNumChannels; ++channel) {
        const DWORD packed = MidiOutDevice::controlChangeMessage(channel, (channel + seed) % 128);
        EXPECT_EQ(midiOutShortMsg(handle, packed), MMSYSERR_NOERROR);
        sent.push_back(bytesOf(packed, 3));
    }
    return sent;
}

// Closes a port a failed assertion left open, so the next test starts clean.
struct ScopedHandle {
    HMIDIOUT handle = nullptr;
    ~ScopedHandle() {
        if (handle) midiOutClose(handle);
    }
    MMRESULT close() { return midiOutClose(std::exchange(handle, nullptr)); }
};

class EnvironmentValue {
  public:
    EnvironmentValue(const char* name, const std::string& value) : name(name) {
        if (const char* old = std::getenv(name)) previous = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvironmentValue() {
        if (previous.empty())
            ::unsetenv(name);
        else
            ::setenv(name, previous.c_str(), 1);
    }

  private:
    const char* name;
    std::string previous;
};

// Runs `work` on a thread of its own; false if it has not finished within `limit` (the thread
// is then left behind, as it cannot be stopped).
template <typename Work> bool finishesWithin(std::chrono::seconds limit, Work work) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread worker([done, work]() mutable {
        work();
        *done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!*done && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    if (!*done) {
        worker.detach();
        return false;
    }
    worker.join();
    return true;
}

std::string skipReasonForJack() {
    if (alsaSequencerUsable()) return "the ALSA sequencer is present, so the service uses it";
    if (findProgram("jackd").empty()) return "jackd is not installed";
    return {};
}

class MidiOverJack : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        skipReason = skipReasonForJack();
        if (!skipReason.empty()) return;
        server = new JackServer;
        startError = server->start("qrtest-midi");
        environment = new EnvironmentValue("JACK_DEFAULT_SERVER", server->serverName());
    }
    static void TearDownTestSuite() {
        delete environment;
        delete server;
        environment = nullptr;
        server = nullptr;
    }
    void SetUp() override {
        if (!skipReason.empty()) GTEST_SKIP() << skipReason;
        ASSERT_TRUE(startError.empty()) << startError;
    }

    // Opens a receiver and returns the device id its port is listed under.
    static int listen(MidiReceiver& receiver, const std::string& client) {
        if (!receiver.open(client, "events in")) return -1;
        return findDevice(receiver.portName());
    }

    static inline std::string skipReason;
    static inline std::string startError;
    static inline JackServer* server = nullptr;
    static inline EnvironmentValue* environment = nullptr;
};

TEST_F(MidiOverJack, ListsReceiverPortsUnderTheirNamesCutTo31Characters) {
    MidiReceiver receiver;
    ASSERT_TRUE(receiver.open("qr-receiver-with-a-long-client-name", "events in"));
    const std::string full = receiver.portName();
    ASSERT_EQ(full, "qr-receiver-with-a-long-client-name:events in");

    const int id = findDevice(full);
    ASSERT_GE(id, 0) << "device list lacks the receiver";
    MIDIOUTCAPSA a{};
    ASSERT_EQ(midiOutGetDevCapsA(id, &a, sizeof a), MMSYSERR_NOERROR);
    EXPECT_STREQ(a.szPname, "qr-receiver-with-a-long-client-");
    EXPECT_EQ(a.wTechnology, MOD_MIDIPORT);
    MIDIOUTCAPSW w{};
    ASSERT_EQ(midiOutGetDevCapsW(id, &w, sizeof w), MMSYSERR_NOERROR);
    EXPECT_EQ(std::u16string(w.szPname), u"qr-receiver-with-a-long-client-");

    // While our own port is open, it does not show up as a device.
    HMIDIOUT handle = nullptr;
    ASSERT_EQ(midiOutOpen(&handle, id, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    for (const std::string& name : deviceNames())
        EXPECT_EQ(name.rfind("Quorvel", 0), std::string::npos) << name;
    EXPECT_EQ(midiOutClose(handle), MMSYSERR_NOERROR);
}

TEST_F(MidiOverJack, SentBytesArriveExactly) {
    MidiReceiver receiver;
    const int id = listen(receiver, "qr-exact");
    ASSERT_GE(id, 0);
    ScopedHandle port;
    ASSERT_EQ(midiOutOpen(&port.handle, id, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_NE(port.handle, nullptr);
    const HMIDIOUT handle = port.handle;

    EXPECT_EQ(midiOutShortMsg(handle, 0x7F18B1), MMSYSERR_NOERROR); // Control Change
    EXPECT_EQ(midiOutShortMsg(handle, 0x401A), MMSYSERR_NOERROR);   // same, by running status
    EXPECT_EQ(midiOutShortMsg(handle, 0xAA05C3), MMSYSERR_NOERROR); // Program Change: one data byte
    EXPECT_EQ(midiOutShortMsg(handle, 0x4000E0), MMSYSERR_NOERROR); // Pitch Bend
    EXPECT_EQ(midiOutShortMsg(handle, 0xF8), MMSYSERR_NOERROR);     // clock: status only
    // Nothing leaves for what cannot be a short message.
    EXPECT_EQ(midiOutShortMsg(handle, 0xF0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(midiOutShortMsg(handle, 0x8018B1), MMSYSERR_INVALPARAM);

    const std::vector<Message> expected = {
        {0xB1, 0x18, 0x7F}, {0xB1, 0x1A, 0x40}, {0xC3, 0x05}, {0xE0, 0x00, 0x40}, {0xF8}};
    EXPECT_EQ(receiver.waitFor(expected.size()), expected);
    EXPECT_EQ(port.close(), MMSYSERR_NOERROR);
    EXPECT_TRUE(receiver.waitFor(1, 100ms).empty());
}

// A message sent at once after opening arrives: the port keeps it until the connection is in
// the graph the cycles run (it used to leave by the still unconnected port now and then).
TEST_F(MidiOverJack, FirstMessageAfterOpeningArrives) {
    MidiReceiver receiver;
    const int id = listen(receiver, "qr-first-message");
    ASSERT_GE(id, 0);
    // Some rounds in a hundred lost their message before.
    constexpr int kRounds = 60;
    int lost = 0;
    for (int round = 0; round < kRounds; ++round) {
        ScopedHandle port;
        ASSERT_EQ(midiOutOpen(&port.handle, id, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        const DWORD message = MidiOutDevice::controlChangeMessage(round % 48, round);
        ASSERT_EQ(midiOutShortMsg(port.handle, message), MMSYSERR_NOERROR);
        ASSERT_EQ(port.close(), MMSYSERR_NOERROR);
        if (receiver.waitFor(1, 1s) != std::vector<Message>{bytesOf(message, 3)}) ++lost;
    }
    EXPECT_EQ(lost, 0) << "of " << kRounds << " first messages";
}

TEST_F(MidiOverJack, RefreshThenImmediateCloseLosesNothing) {
    MidiReceiver receiver;
    const int id = listen(receiver, "qr-refresh");
    ASSERT_GE(id, 0);
    for (int round = 0; round < 8; ++round) {
        ScopedHandle port;
        ASSERT_EQ(midiOutOpen(&port.handle, id, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        const std::vector<Message> sent = refresh(port.handle, round);
        ASSERT_EQ(port.close(), MMSYSERR_NOERROR);
        EXPECT_EQ(receiver.waitFor(sent.size()), sent) << "round " << round;
    }
}

// The number of the port named `portName` in a port's own list, or -1.
int numberIn(const MidiOutDevice& device, const std::string& portName) {
    const std::vector<std::string> names = device.menuNames();
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == portName.substr(0, 31)) return static_cast<int>(i);
    return -1;
}

TEST_F(MidiOverJack, RefreshThenDeviceChangeLosesNothing) {
    MidiReceiver first, second;
    ASSERT_TRUE(first.open("qr-first", "events in"));
    ASSERT_TRUE(second.open("qr-second", "events in"));
    MidiOutDevice device;
    const int firstId = numberIn(device, first.portName());
    const int secondId = numberIn(device, second.portName());
    ASSERT_GE(firstId, 0);
    ASSERT_GE(secondId, 0);
    ASSERT_EQ(device.getDeviceName(static_cast<UINT>(firstId)), "qr-first:events in");

    device.selectDevice(firstId);
    std::vector<Message> sent;
    for (int channel = 0; channel < MidiOutDevice::kNumChannels; ++channel) {
        ASSERT_EQ(device.sendControlChange(channel, 127 - channel, true), MMSYSERR_NOERROR);
        sent.push_back(bytesOf(MidiOutDevice::controlChangeMessage(channel, 127 - channel), 3));
    }
    device.selectDevice(secondId);
    ASSERT_EQ(device.sendControlChange(5, 9), MMSYSERR_NOERROR);
    EXPECT_EQ(first.waitFor(sent.size()), sent);
    EXPECT_EQ(second.waitFor(1), (std::vector<Message>{{0xB1, 24 + 5, 9}}));
    EXPECT_TRUE(first.waitFor(1, 100ms).empty()) << "nothing after the change reaches the first";
}

// Two plug-in instances in one host process, each with its own count of the devices.
TEST_F(MidiOverJack, AnotherInstancesCountNeverRedirectsThisInstancesNumber) {
    auto receiverA = std::make_unique<MidiReceiver>();
    MidiReceiver receiverB;
    ASSERT_TRUE(receiverA->open("qr-recv-a", "events in"));
    ASSERT_TRUE(receiverB.open("qr-recv-b", "events in"));
    MidiOutDevice instanceA;
    const int numberA = numberIn(instanceA, receiverA->portName());
    ASSERT_GE(numberA, 0);

    receiverA.reset(); // goes away, and a second instance counts what is left
    MidiOutDevice instanceB;
    ASSERT_EQ(numberIn(instanceB, receiverB.portName()), numberA)
        << "B now stands where A stood in a fresh count";

    instanceA.selectDevice(numberA);
    instanceA.sendControlChange(0, 77, true);
    ASSERT_TRUE(instanceA.waitUntilSent(5s));
    EXPECT_EQ(instanceA.status().state, MidiOutDevice::PortState::kNotConnected);
    EXPECT_TRUE(receiverB.waitFor(1, 200ms).empty())
        << "instance A reached a device it never chose";
}

// A receiver that goes away and comes back: the port notices, says so, and a count brings it
// back under its name.
TEST_F(MidiOverJack, AReceiverThatLeavesAndReturnsIsFoundAgainByItsName) {
    auto receiver = std::make_unique<MidiReceiver>();
    ASSERT_TRUE(receiver->open("qr-coming-back", "events in"));
    MidiOutDevice device;
    const int number = numberIn(device, receiver->portName());
    ASSERT_GE(number, 0);
    device.selectDevice(number);
    device.sendControlChange(1, 10);
    EXPECT_EQ(receiver->waitFor(1), (std::vector<Message>{{0xB1, 25, 10}}));

    receiver.reset();
    EXPECT_EQ(device.recount().number, -1); // opening the menu, say
    device.sendControlChange(1, 11);
    ASSERT_TRUE(device.waitUntilSent(5s));
    EXPECT_EQ(device.status().state, MidiOutDevice::PortState::kNotConnected);
    EXPECT_EQ(device.status().name, "qr-coming-back:events in")
        << "the choice waits for its device";

    MidiReceiver other; // takes the vacated place in a fresh count
    ASSERT_TRUE(other.open("qr-somebody-else", "events in"));
    receiver = std::make_unique<MidiReceiver>();
    ASSERT_TRUE(receiver->open("qr-coming-back", "events in"));
    const MidiOutDevice::Recount recount = device.recount();
    EXPECT_TRUE(recount.reopening);
    EXPECT_EQ(device.getDeviceName(static_cast<UINT>(recount.number)), "qr-coming-back:events in");
    device.sendControlChange(1, 12, true);
    EXPECT_EQ(receiver->waitFor(1), (std::vector<Message>{{0xB1, 25, 12}}));
    EXPECT_TRUE(other.waitFor(1, 100ms).empty());
}

// While the server is stopped the callers go on at full speed; once it runs again the device
// gets every controller's newest value.
TEST_F(MidiOverJack, AStoppedServerNeitherHoldsUpCallersNorLosesTheNewestValues) {
    MidiReceiver receiver;
    ASSERT_TRUE(receiver.open("qr-paused", "events in"));
    MidiOutDevice device;
    device.selectDevice(numberIn(device, receiver.portName()));
    device.sendControlChange(0, 1);
    ASSERT_EQ(receiver.waitFor(1).size(), 1u);

    server->pause();
    ASSERT_TRUE(finishesWithin(10s, [&] {
        for (int i = 0; i < 20000; ++i) device.sendControlChange(i % 48, i % 128);
    })) << "a caller waited for the stopped server";
    server->resume();
    ASSERT_TRUE(device.waitUntilSent(10s));
    std::map<int, int> last;
    for (const Message& message : receiver.waitFor(1000000, 2s)) // everything that came
        if (message.size() == 3) last[(message[0] - 0xB1) * 8 + message[1] - 24] = message[2];
    std::map<int, int> expected;
    for (int i = 0; i < 20000; ++i) expected[i % 48] = i % 128;
    EXPECT_EQ(last, expected);
}

TEST_F(MidiOverJack, BurstLargerThanTheQueueArrivesCompleteAndInOrder) {
    MidiReceiver receiver;
    const int id = listen(receiver, "qr-burst");
    ASSERT_GE(id, 0);
    ScopedHandle port;
    ASSERT_EQ(midiOutOpen(&port.handle, id, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<Message> sent;
    for (int i = 0; i < 4000; ++i) {
        const DWORD packed = MidiOutDevice::controlChangeMessage(i % 48, i % 128);
        ASSERT_EQ(midiOutShortMsg(port.handle, packed), MMSYSERR_NOERROR) << i;
        sent.push_back(bytesOf(packed, 3));
    }
    ASSERT_EQ(port.close(), MMSYSERR_NOERROR);
    EXPECT_EQ(receiver.waitFor(sent.size()), sent);
}

TEST_F(MidiOverJack, ReopenAfterCloseSendsAgain) {
    MidiReceiver receiver;
    const int id = listen(receiver, "qr-reopen");
    ASSERT_GE(id, 0);
    for (int value : {11, 22}) {
        ScopedHandle port;
        ASSERT_EQ(midiOutOpen(&port.handle, id, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        ASSERT_EQ(midiOutShortMsg(port.handle, MidiOutDevice::controlChangeMessage(47, value)),
                  MMSYSERR_NOERROR);
        ASSERT_EQ(port.close(), MMSYSERR_NOERROR);
        EXPECT_EQ(receiver.waitFor(1),
                  (std::vector<Message>{{0xB6, 31, static_cast<unsigned char>(value)}}));
    }
}

TEST_F(MidiOverJack, BadIdsAndArgumentsFail) {
    MidiReceiver receiver;
    ASSERT_GE(listen(receiver, "qr-bad"), 0);
    const UINT count = midiOutGetNumDevs();
    HMIDIOUT handle = reinterpret_cast<HMIDIOUT>(&receiver); // must come back null
    EXPECT_EQ(midiOutOpen(&handle, count, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(midiOutOpen(&handle, 0xFFFFFFFFu, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(midiOutOpen(nullptr, 0, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(midiOutOpen(&handle, 0, 0, 0, 0x00030000u /* function callback */),
              MMSYSERR_INVALPARAM);
    EXPECT_EQ(handle, nullptr);

    MIDIOUTCAPSA a{};
    EXPECT_EQ(midiOutGetDevCapsA(count, &a, sizeof a), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(midiOutGetDevCapsA(0, nullptr, sizeof a), MMSYSERR_INVALPARAM);
    // A short record gets only what fits.
    MIDIOUTCAPSA shortRecord{};
    std::memset(&shortRecord, 0x5A, sizeof shortRecord);
    EXPECT_EQ(midiOutGetDevCapsA(0, &shortRecord, 8), MMSYSERR_NOERROR);
    EXPECT_EQ(static_cast<unsigned char>(shortRecord.szPname[0]), 0x5A);

    EXPECT_EQ(midiOutShortMsg(nullptr, 0x7F18B1), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(midiOutClose(nullptr), MMSYSERR_INVALHANDLE);
}

// A device number means the port its caller counted: a port that goes away afterwards neither
// shifts the numbers of the others nor hands its number to a different port.
TEST_F(MidiOverJack, DeviceNumbersKeepTheMeaningOfTheLastCount) {
    auto leaving = std::make_unique<MidiReceiver>();
    MidiReceiver staying;
    ASSERT_TRUE(leaving->open("qr-leaving", "events in"));
    ASSERT_TRUE(staying.open("qr-staying", "events in"));
    const std::string leavingName = leaving->portName();
    std::vector<std::string> counted = deviceNames();
    const auto idOf = [&](const std::string& name) {
        return static_cast<UINT>(std::find(counted.begin(), counted.end(), name) - counted.begin());
    };
    const UINT leavingId = idOf(leavingName), stayingId = idOf(staying.portName());
    ASSERT_LT(leavingId, counted.size());
    ASSERT_LT(stayingId, counted.size());

    leaving.reset();
    ScopedHandle port;
    EXPECT_EQ(midiOutOpen(&port.handle, leavingId, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    ASSERT_EQ(midiOutOpen(&port.handle, stayingId, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutShortMsg(port.handle, MidiOutDevice::controlChangeMessage(0, 42)),
              MMSYSERR_NOERROR);
    ASSERT_EQ(port.close(), MMSYSERR_NOERROR);
    EXPECT_EQ(staying.waitFor(1), (std::vector<Message>{{0xB1, 24, 42}}));

    counted = deviceNames();
    EXPECT_EQ(std::count(counted.begin(), counted.end(), leavingName), 0);
}

TEST_F(MidiOverJack, TwoHandlesOnTwoThreadsKeepTheirStreams) {
    MidiReceiver left, right;
    const int leftId = listen(left, "qr-left");
    const int rightId = listen(right, "qr-right");
    ASSERT_GE(leftId, 0);
    ASSERT_GE(rightId, 0);
    std::atomic<int> failures{0};
    const auto play = [&](int id, int offset) {
        HMIDIOUT handle = nullptr;
        if (midiOutOpen(&handle, id, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
            return void(++failures);
        for (int i = 0; i < 1500; ++i)
            if (midiOutShortMsg(handle,
                                MidiOutDevice::controlChangeMessage(i % 48, (i + offset) % 128)))
                ++failures;
        if (midiOutClose(handle) != MMSYSERR_NOERROR) ++failures;
    };
    std::thread a(play, leftId, 0), b(play, rightId, 64);
    a.join();
    b.join();
    EXPECT_EQ(failures, 0);
    for (auto [receiver, offset] : {std::pair{&left, 0}, std::pair{&right, 64}}) {
        std::vector<Message> expected;
        for (int i = 0; i < 1500; ++i)
            expected.push_back(
                bytesOf(MidiOutDevice::controlChangeMessage(i % 48, (i + offset) % 128), 3));
        EXPECT_EQ(receiver->waitFor(expected.size()), expected) << "offset " << offset;
    }
}


// A server that dies or stops cycling under an open port: sending and closing fail or finish in
// bounded time instead of waiting for a queue nobody empties, and nothing that was accepted
// is lost.
class MidiJackServerTrouble : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string reason = skipReasonForJack(); !reason.empty()) GTEST_SKIP() << reason;
        ASSERT_EQ(server.start("qrtest-trouble", 256), "");
        environment =
            std::make_unique<EnvironmentValue>("JACK_DEFAULT_SERVER", server.serverName());
        ASSERT_TRUE(receiver.open("qr-trouble", "events in"));
        const int id = findDevice(receiver.portName());
        ASSERT_GE(id, 0);
        ASSERT_EQ(midiOutOpen(&handle, id, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    }

    static DWORD message(int i) { return MidiOutDevice::controlChangeMessage(i % 48, i % 128); }

    JackServer server;
    std::unique_ptr<EnvironmentValue> environment;
    // libjack's own complaints about a lost server are not ours to judge.
    StderrCapture libjackMessages;
    MidiReceiver receiver;
    HMIDIOUT handle = nullptr;
};

TEST_F(MidiJackServerTrouble, GoneServerFailsSendsAndClosesInBoundedTime) {
    server.stop();
    std::vector<MMRESULT> results;
    ASSERT_TRUE(finishesWithin(20s, [&, h = handle] {
        for (int i = 0; i < 20000; ++i)
            results.push_back(midiOutShortMsg(h, message(i)));
        midiOutClose(h);
    })) << "sending to a gone server hangs";
    EXPECT_EQ(results.back(), MMSYSERR_NODRIVER);
}

TEST_F(MidiJackServerTrouble, StalledServerFailsSendsButLosesNothingAccepted) {
    server.pause();
    std::vector<MMRESULT> results;
    const auto started = std::chrono::steady_clock::now();
    const bool finished = finishesWithin(20s, [&, h = handle] {
        for (int i = 0; i < 3000; ++i)
            results.push_back(midiOutShortMsg(h, message(i)));
    });
    const auto took = std::chrono::steady_clock::now() - started;
    server.resume();
    ASSERT_TRUE(finished) << "sending to a stalled server hangs";
    EXPECT_LT(took, 5s) << "only one wait for the stalled server, then failures at once";

    std::vector<Message> accepted;
    for (int i = 0; i < 3000 && results[i] == MMSYSERR_NOERROR; ++i)
        accepted.push_back(bytesOf(message(i), 3));
    EXPECT_GT(accepted.size(), 500u);
    EXPECT_LT(accepted.size(), 3000u);
    for (std::size_t i = accepted.size(); i < results.size(); ++i)
        EXPECT_EQ(results[i], MIDIERR_NOTREADY) << i;
    EXPECT_EQ(midiOutClose(std::exchange(handle, nullptr)), MMSYSERR_NOERROR);
    EXPECT_EQ(receiver.waitFor(accepted.size()), accepted);
}

// Without any service: no devices, every call fails cleanly, and nothing is printed, also
// when a crashed server left its socket file behind.
TEST(MidiWithoutService, NoDevicesAndNothingOnStderr) {
    if (alsaSequencerUsable()) GTEST_SKIP() << "the ALSA sequencer is present";
    const std::string name = "qrabsent" + std::to_string(::getpid());
    EnvironmentValue environment("JACK_DEFAULT_SERVER", name);

    // A socket nobody listens on, as a killed server leaves it.
    const std::string stale = jackSocketPath(name);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, stale.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);

    for (bool withStaleSocket : {true, false}) {
        if (!withStaleSocket) ::unlink(stale.c_str());
        StderrCapture capture;
        const UINT count = midiOutGetNumDevs();
        MIDIOUTCAPSA a{};
        MIDIOUTCAPSW w{};
        const MMRESULT capsA = midiOutGetDevCapsA(0, &a, sizeof a);
        const MMRESULT capsW = midiOutGetDevCapsW(0, &w, sizeof w);
        HMIDIOUT handle = nullptr;
        const MMRESULT opened = midiOutOpen(&handle, 0, 0, 0, CALLBACK_NULL);
        MidiOutDevice device;
        device.selectDevice(0);
        const bool settled = device.waitUntilSent(std::chrono::seconds(5));
        const std::string printed = capture.text();

        EXPECT_EQ(count, 0u);
        EXPECT_EQ(capsA, MMSYSERR_BADDEVICEID);
        EXPECT_EQ(capsW, MMSYSERR_BADDEVICEID);
        EXPECT_EQ(opened, MMSYSERR_BADDEVICEID);
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(device.getDeviceCount(), 0u);
        EXPECT_TRUE(settled);
        EXPECT_EQ(device.status().state, MidiOutDevice::PortState::kNone);
        EXPECT_EQ(printed, "") << "stale socket: " << withStaleSocket;
    }
}

} // namespace
