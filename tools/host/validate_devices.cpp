// Several instances and devices that come and go, read back through receivers of the
// validator's own MIDI lab (validate_probes.h). What a plug-in must do, for our plug-in's
// parameters (0: a device number in the instance's own list as it last counted it, 1: refresh
// at exactly 1.0, 2..49: the gains):
// - a device number keeps meaning the device the instance counted: once that device is gone
//   nothing is opened in its place, whatever other instances count meanwhile;
// - a device that went away or failed to open is tried again on a refresh and on choosing it
//   again, and then holds the host's values;
// - nothing ever reaches a device nobody chose (a bystander receiver listens throughout);
// - the host's calls keep returning at once while devices and the server misbehave.
// Messages are read back with a bounded wait: a plug-in may send from a thread of its own.

#include <algorithm>
#include <atomic>
#include <limits>
#include <thread>

#include "plugin/parameters.h"
#include "tools/host/validate_support.h"

namespace qrhost {
namespace {

constexpr int kArrivalMs = 2000; // how long messages may take to arrive
constexpr int kSilenceMs = 700;  // how long a device that must get nothing is listened to
// How long a device stays away: time for a plug-in that opens devices on a thread of its own
// to try, and to notice, while the host goes on calling.
constexpr int kAwayMs = 500;

// The longest host call a check times, for "keeps answering". The stall family measures
// the audio thread properly; this only catches a host thread that hangs.
constexpr double kAnswerBoundMs = 50.0;

int numberOf(const MidiReceiverProbe& receiver) {
    const int number = deviceNumberOf(receiver);
    if (number < 0)
        throw HostError("the receiver " + receiver.portName() + " is not among the devices");
    return number;
}

// A receiver of the lab, once the system lists it, as a device that was plugged in is before
// a user can choose it.
std::unique_ptr<MidiReceiverProbe> openReceiver(MidiLab& lab, const std::string& key) {
    std::string whyNot;
    auto receiver = lab.receiver(key, whyNot);
    if (!receiver) throw HostError("the lab's receiver " + key + " did not open: " + whyNot);
    numberOf(*receiver);
    return receiver;
}

// Times one host call on this thread.
class CallTimer {
  public:
    template <typename Call> void operator()(Call&& call) {
        const auto started = Clock::now();
        call();
        longest = std::max(longest, millisecondsSince(started));
    }
    double longest = 0.0;
    std::string describe() const { return "longest host call " + fixed(longest, 2) + " ms"; }
    bool ok() const { return longest < kAnswerBoundMs; }
};

// The 7-bit values an instance holds for its 48 gains.
std::vector<int> heldValues(const Instance& instance) {
    std::vector<int> values;
    for (int channel = 0; channel < kNumGainChannels; ++channel)
        values.push_back(gainToMidiValue(instance.get(ParameterIndex::kFirstGain + channel)));
    return values;
}

// Whether a device got what a refresh of `instance` must bring: all its 48 values.
std::string refreshReached(MidiReceiverProbe& receiver, const Instance& instance, bool& reached) {
    DeviceState device;
    const auto wanted = heldValues(instance);
    reached = device.collectUntil(receiver, kArrivalMs, [&](const DeviceState& state) {
        return state.mismatches(wanted) == 0;
    });
    return std::to_string(device.received()) + " messages, " +
           std::to_string(device.mismatches(wanted)) + " of 48 gains off";
}

// A receiver that must get nothing: what it got, with a short wait for stragglers.
std::size_t strayMessages(MidiReceiverProbe& bystander, int waitMs) {
    return bystander.take(std::numeric_limits<std::size_t>::max(), waitMs).size();
}

void gain(const Instance& instance, int channel, int midiValue) {
    instance.set(ParameterIndex::kFirstGain + channel, gainValueFor(midiValue));
}

// An instance on the lab's receiver "a", with "b" listening as a bystander that nobody
// chooses, once the instance's first change arrived (or did not).
struct OnDevice {
    std::unique_ptr<MidiReceiverProbe> device;
    std::unique_ptr<MidiReceiverProbe> bystander;
    std::unique_ptr<Instance> instance;
    bool firstArrived = false;

    OnDevice(MidiLab& lab, EntryFunction entry, int firstValue)
        : device(openReceiver(lab, "a")), bystander(openReceiver(lab, "b")),
          instance(std::make_unique<Instance>(entry)) {
        instance->set(ParameterIndex::kMidiDevice, static_cast<float>(numberOf(*device)));
        gain(*instance, 0, firstValue);
        DeviceState state;
        firstArrived = state.collectUntil(
            *device, kArrivalMs, [&](const DeviceState& s) { return s.last(0) == firstValue; });
    }
    std::string describeFirst() const {
        return std::string("first change arrived: ") + (firstArrived ? "yes" : "no");
    }
};

// A host going on with its calls for a while: gains now and then, audio, the window's idle.
void hostCallsFor(Instance& instance, CallTimer& timer, int milliseconds) {
    AudioRunner<float> audio(*instance.record, 256);
    instance.resume(48000.0, 256);
    const auto started = Clock::now();
    for (int i = 0; millisecondsSince(started) < milliseconds; ++i) {
        timer([&] { gain(instance, 40 + i % 3, (20 + i) % 128); });
        if (audio.supported()) timer([&] { audio.run(*instance.record, i * 256, 256); });
        timer([&] { instance.dispatch(effEditIdle); });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    instance.suspend();
}

// ---------------------------------------------------------------------------------------
// Several instances

// Which of the `expected` messages a receiver got within the arrival time, each at most once.
struct Arrivals {
    std::size_t arrived = 0;
    std::size_t unexpected = 0; // messages with values nobody set
    std::size_t malformed = 0;
    std::vector<Message> missing;
};

Arrivals collectExpected(MidiReceiverProbe& receiver, const std::vector<Message>& expected) {
    std::vector<Message> received;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kArrivalMs);
    while (received.size() < expected.size() && Clock::now() < deadline) {
        const auto more = receiver.take(expected.size() - received.size(), 50);
        received.insert(received.end(), more.begin(), more.end());
    }
    const auto more = receiver.take(std::numeric_limits<std::size_t>::max(), 100);
    received.insert(received.end(), more.begin(), more.end());
    Arrivals arrivals;
    arrivals.missing = expected;
    for (const Message& message : received) {
        if (!wellFormed(message)) ++arrivals.malformed;
        const auto found = std::find(arrivals.missing.begin(), arrivals.missing.end(), message);
        if (found == arrivals.missing.end())
            ++arrivals.unexpected;
        else
            arrivals.missing.erase(found);
    }
    arrivals.arrived = expected.size() - arrivals.missing.size();
    return arrivals;
}

// One instance's life: made, set to the device (where there is one), given a value, run for a
// block and closed at once.
void shortLife(const PluginUnderTest& plugin, int device, int channel, int midiValue,
               std::atomic<int>& inexact) {
    Instance instance(plugin.entry);
    AudioRunner<float> audio(*instance.record, 64);
    if (plugin.ours) {
        if (device >= 0) instance.set(ParameterIndex::kMidiDevice, static_cast<float>(device));
        gain(instance, channel, midiValue);
    } else {
        for (VstInt32 i = 0; i < instance.record->numParams && i < 8; ++i)
            instance.set(i, 0.25f * static_cast<float>((midiValue + i) % 5));
    }
    if (audio.supported()) {
        instance.resume(48000.0, 64);
        if (!audio.run(*instance.record, 0, 64).exact()) ++inexact;
        instance.suspend();
    }
}

void checkInstancesOnThreads(CheckRun& run, PluginUnderTest& plugin, LabAccess& labs) {
    // Other plug-ins get the same lives without a device to read back.
    MidiLab* lab = nullptr;
    std::string whyNot = "how this plug-in picks its MIDI output is unknown to the host";
    if (plugin.ours) lab = labs.get(whyNot);
    std::unique_ptr<MidiReceiverProbe> receiver;
    int number = -1;
    if (lab) {
        receiver = openReceiver(*lab, "a");
        number = numberOf(*receiver);
    }
    constexpr int kThreads = 4;
    const int cycles = run.scaled(12, 6);
    auto channelOf = [](int t, int c) { return t * 12 + c % 12; };
    auto valueOf = [](int t, int c) { return (t * 31 + c * 7 + 3) % 128; };
    std::vector<Message> expected;
    std::atomic<int> inexact{0};
    std::string failure;
    std::mutex failureLock;
    std::vector<double> slowest(kThreads, 0.0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        for (int c = 0; c < cycles; ++c)
            expected.push_back(controlChange(channelOf(t, c), valueOf(t, c)));
        threads.emplace_back([&, t] {
            try {
                for (int c = 0; c < cycles; ++c) {
                    const auto started = Clock::now();
                    shortLife(plugin, number, channelOf(t, c), valueOf(t, c), inexact);
                    auto& mine = slowest[static_cast<std::size_t>(t)];
                    mine = std::max(mine, millisecondsSince(started));
                }
            } catch (const std::exception& error) {
                std::lock_guard guard(failureLock);
                failure = error.what();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    if (!failure.empty()) throw HostError("an instance failed on its thread: " + failure);

    std::string figures =
        std::to_string(kThreads) + " threads x " + std::to_string(cycles) + " instances made, " +
        (receiver ? "set to the receiver, given one gain, " : "given parameter values, ") +
        "run and closed at once; slowest life " +
        fixed(*std::max_element(slowest.begin(), slowest.end()), 1) + " ms";
    bool passed = inexact == 0;
    if (inexact) figures += "; " + std::to_string(inexact.load()) + " audio blocks not exact";
    if (!receiver) {
        run.verdict(passed, figures + " (MIDI unchecked: " + whyNot + ")");
        return;
    }
    const Arrivals together = collectExpected(*receiver, expected);
    // While clients come and go on other threads, JACK drops a message now and then as its
    // graph changes, and a device that takes one client at a time refuses all but one
    // instance; one after another, each instance alone on the device, nothing may be lost.
    std::vector<Message> sequential;
    for (int c = 0; c < cycles; ++c) {
        shortLife(plugin, number, 47 - c, valueOf(5, c), inexact);
        sequential.push_back(controlChange(47 - c, valueOf(5, c)));
    }
    const Arrivals alone = collectExpected(*receiver, sequential);
    const bool crowdOk = lab->devicesTakeOneClient() || together.arrived * 4 >= expected.size() * 3;
    figures += "; " + std::to_string(together.arrived) + "/" + std::to_string(expected.size()) +
               " of their changes arrived, then " + std::to_string(alone.arrived) + "/" +
               std::to_string(sequential.size()) + " of instances made one after another; " +
               std::to_string(together.unexpected + alone.unexpected) + " messages nobody set, " +
               std::to_string(together.malformed + alone.malformed) + " malformed";
    if (!alone.missing.empty())
        figures += "; first missing " + hexBytes(alone.missing.front()) +
                   " (a change lost between choosing the device and closing)";
    else if (!crowdOk)
        figures += " (more than a quarter of the crowd's changes were lost)";
    passed = passed && alone.missing.empty() && crowdOk &&
             together.unexpected + alone.unexpected == 0 &&
             together.malformed + alone.malformed == 0;
    run.verdict(passed, figures);
}

void checkTwoOnOneDevice(CheckRun& run, PluginUnderTest& plugin, LabAccess& labs) {
    MidiLab* lab = labForOurPlugin(run, plugin, labs);
    if (!lab) return;
    auto receiver = openReceiver(*lab, "a");
    const int number = numberOf(*receiver);
    auto first = std::make_unique<Instance>(plugin.entry);
    Instance second(plugin.entry);
    first->set(ParameterIndex::kMidiDevice, static_cast<float>(number));
    second.set(ParameterIndex::kMidiDevice, static_cast<float>(number));
    gain(*first, 0, 17);
    gain(second, 1, 93);
    DeviceState both;
    const bool bothArrived = both.collectUntil(*receiver, kArrivalMs, [](const DeviceState& s) {
        return s.last(0) == 17 && s.last(1) == 93;
    });
    // The device stays with the second instance once the first is gone.
    first.reset();
    receiver->take(std::numeric_limits<std::size_t>::max(), 50);
    second.set(ParameterIndex::kRefresh, 1.0f);
    bool refreshed = false;
    const std::string refresh = refreshReached(*receiver, second, refreshed);
    const bool oneClient = lab->devicesTakeOneClient();
    std::string figures =
        std::string("both instances' first changes arrived: ") + (bothArrived ? "yes" : "no") +
        (bothArrived || !oneClient ? "" : " (this system's devices take one client at a time)") +
        "; after the first instance closed, the second's refresh: " + refresh;
    if (!refreshed) figures += " (the instance still on the device must reach it on a refresh)";
    run.verdict(refreshed && (bothArrived || oneClient), figures);
}

void checkDeviceNumbers(CheckRun& run, PluginUnderTest& plugin, LabAccess& labs) {
    MidiLab* lab = labForOurPlugin(run, plugin, labs);
    if (!lab) return;
    auto gone = openReceiver(*lab, "a");
    auto stays = openReceiver(*lab, "b");
    // Counted by the instance when it is made, with both receivers there.
    Instance counted(plugin.entry);
    const int goneNumber = numberOf(*gone);
    const int staysNumber = numberOf(*stays);
    const std::string goneName = gone->portName();
    gone.reset();
    // Another instance counts the devices again, without the first receiver.
    Instance other(plugin.entry);
    const int staysNow = numberOf(*stays);

    counted.set(ParameterIndex::kMidiDevice, static_cast<float>(goneNumber));
    gain(counted, 5, 44);
    const auto stray = stays->take(std::numeric_limits<std::size_t>::max(), kSilenceMs);

    // Its own number for the receiver that is still there still reaches it.
    counted.set(ParameterIndex::kMidiDevice, static_cast<float>(staysNumber));
    gain(counted, 6, 71);
    DeviceState reached;
    const bool ownNumberWorks = reached.collectUntil(
        *stays, kArrivalMs, [](const DeviceState& s) { return s.last(6) == 71; });
    const auto held = heldValues(counted);
    int foreign = 0;
    for (int channel = 0; channel < kNumGainChannels; ++channel)
        for (int value : reached.history(channel))
            if (value != held[static_cast<std::size_t>(channel)]) ++foreign;

    std::string figures =
        "an instance counted " + goneName + " as device " + std::to_string(goneNumber) + " and " +
        stays->portName() + " as " + std::to_string(staysNumber) + "; the first went away and " +
        "another instance counted " + stays->portName() + " as " + std::to_string(staysNow) +
        "; choosing device " + std::to_string(goneNumber) + " then sent " +
        std::to_string(stray.size()) + " messages to " + stays->portName();
    if (!stray.empty())
        figures += " (first " + hexBytes(stray.front()) +
                   "): a gain reached a device the user did not choose";
    figures += "; choosing device " + std::to_string(staysNumber) +
               " reached it: " + (ownNumberWorks ? "yes" : "no");
    if (foreign) figures += ", " + std::to_string(foreign) + " messages with values not held";
    run.verdict(stray.empty() && ownNumberWorks && foreign == 0, figures);
}

// ---------------------------------------------------------------------------------------
// Device churn

// The device went away while open and came back under its name: a refresh, and then choosing
// it again, bring it back in line.
void checkDeviceGoneAndBack(CheckRun& run, PluginUnderTest& plugin, LabAccess& labs) {
    MidiLab* lab = labForOurPlugin(run, plugin, labs);
    if (!lab) return;
    OnDevice on(*lab, plugin.entry, 10);
    Instance& instance = *on.instance;
    on.device.reset();
    CallTimer timer;
    hostCallsFor(instance, timer, kAwayMs);

    on.device = openReceiver(*lab, "a");
    timer([&] { instance.set(ParameterIndex::kRefresh, 1.0f); });
    bool refreshed = false;
    const std::string refresh = refreshReached(*on.device, instance, refreshed);

    // Gone and back once more, and chosen again by the number the plug-in now holds.
    on.device.reset();
    on.device = openReceiver(*lab, "a");
    timer([&] {
        instance.set(ParameterIndex::kMidiDevice, instance.get(ParameterIndex::kMidiDevice));
    });
    gain(instance, 2, 99);
    DeviceState again;
    const bool reselected = again.collectUntil(
        *on.device, kArrivalMs, [](const DeviceState& s) { return s.last(2) == 99; });
    const std::size_t stray = strayMessages(*on.bystander, 50);

    std::string figures =
        on.describeFirst() + "; the device went away for " + std::to_string(kAwayMs) +
        " ms of host calls and came back: refresh sent " + refresh +
        (refreshed ? "" : " (a refresh must try the device again)") +
        "; chosen again after going once more: " + (reselected ? "reached" : "NOT reached") + "; " +
        std::to_string(stray) + " messages to a device nobody chose; " + timer.describe();
    run.verdict(on.firstArrived && refreshed && reselected && stray == 0 && timer.ok(), figures);
}

// The device was counted, then went away before it was chosen: the open fails. Once the
// device is back, a refresh opens it and sends the host's values.
void checkFailedOpen(CheckRun& run, PluginUnderTest& plugin, LabAccess& labs) {
    MidiLab* lab = labForOurPlugin(run, plugin, labs);
    if (!lab) return;
    auto device = openReceiver(*lab, "a");
    auto bystander = openReceiver(*lab, "b");
    Instance instance(plugin.entry);
    const int number = numberOf(*device);
    device.reset();
    CallTimer timer;
    timer([&] { instance.set(ParameterIndex::kMidiDevice, static_cast<float>(number)); });
    timer([&] { gain(instance, 0, 55); });
    timer([&] { gain(instance, 47, 66); });
    hostCallsFor(instance, timer, kAwayMs);

    device = openReceiver(*lab, "a");
    timer([&] { instance.set(ParameterIndex::kRefresh, 1.0f); });
    bool refreshed = false;
    const std::string refresh = refreshReached(*device, instance, refreshed);
    const std::size_t stray = strayMessages(*bystander, 50);
    std::string figures = "device " + std::to_string(number) +
                          " chosen while it was away, then back: refresh sent " + refresh;
    if (!refreshed) figures += " (a device that failed to open stays silent for good)";
    figures +=
        "; " + std::to_string(stray) + " messages to a device nobody chose; " + timer.describe();
    run.verdict(refreshed && stray == 0 && timer.ok(), figures);
}

void checkServerKilled(CheckRun& run, PluginUnderTest& plugin, LabAccess& labs) {
    MidiLab* found = labForOurPlugin(run, plugin, labs);
    if (!found) return;
    MidiLab& lab = *found;
    if (!lab.hasServer()) return run.report(Outcome::Skip, "no MIDI server on this system");
    // Whatever happens below, the server runs again for the checks after this one, and only
    // once the instance (and any client of the killed server it held) is gone.
    struct ServerBack {
        MidiLab& lab;
        ~ServerBack() { lab.startServer(); }
    } serverBack{lab};
    OnDevice on(lab, plugin.entry, 12);
    Instance& instance = *on.instance;

    // Killed: our receivers go with it. The host keeps calling until the plug-in let go of the
    // dead server, for a second at most.
    on.device.reset();
    on.bystander.reset();
    lab.killServer();
    CallTimer timer;
    const auto killed = Clock::now();
    hostCallsFor(instance, timer, 100);
    std::vector<std::string> held = lab.clientsOfKilledServer();
    while (!held.empty() && millisecondsSince(killed) < 1000.0) {
        hostCallsFor(instance, timer, 50);
        held = lab.clientsOfKilledServer();
    }
    std::string figures =
        on.describeFirst() + "; server killed, " + timer.describe() + " while it was down";
    if (!held.empty()) {
        // Starting the server again under a client it killed would break libjack for the whole
        // process, the host's own clients included.
        std::string names;
        for (const auto& name : held)
            names += (names.empty() ? "" : ", ") + name;
        figures += "; a second after the kill the plug-in still held its client(s) of the "
                   "killed server (" +
                   names +
                   "): a restarted server under them breaks every JACK client of the host "
                   "process, so the check ends here";
        run.verdict(false, figures);
        return;
    }
    if (const std::string why = lab.startServer(); !why.empty())
        throw HostError("the server did not start again: " + why);
    on.device = openReceiver(lab, "a");
    on.bystander = openReceiver(lab, "b");
    timer([&] { instance.set(ParameterIndex::kRefresh, 1.0f); });
    bool refreshed = false;
    const std::string refresh = refreshReached(*on.device, instance, refreshed);
    const std::size_t stray = strayMessages(*on.bystander, 50);
    figures += "; restarted, refresh sent " + refresh +
               (refreshed ? "" : " (a refresh must reach the device again)") + "; " +
               std::to_string(stray) + " messages to a device nobody chose";
    run.verdict(on.firstArrived && refreshed && stray == 0 && timer.ok(), figures);
}

void checkServerStopped(CheckRun& run, PluginUnderTest& plugin, LabAccess& labs) {
    MidiLab* found = labForOurPlugin(run, plugin, labs);
    if (!found) return;
    MidiLab& lab = *found;
    if (!lab.hasServer()) return run.report(Outcome::Skip, "no MIDI server on this system");
    OnDevice on(lab, plugin.entry, 1);
    Instance& instance = *on.instance;

    // A burst of changes while the server answers nothing: far more than any queue of a
    // reasonable size holds, each gain many times.
    lab.stopServer();
    CallTimer timer;
    const int rounds = run.scaled(80, 40);
    for (int r = 0; r < rounds; ++r)
        for (int channel = 0; channel < kNumGainChannels; ++channel)
            timer([&] { gain(instance, channel, (r * 5 + channel * 3) % 128); });
    lab.continueServer();
    DeviceState state;
    const auto wanted = heldValues(instance);
    const bool settled =
        state.collectUntil(*on.device, kArrivalMs + 1000,
                           [&](const DeviceState& s) { return s.mismatches(wanted) == 0; });
    const std::size_t stray = strayMessages(*on.bystander, 50);
    std::string figures = on.describeFirst() + "; " + std::to_string(rounds * kNumGainChannels) +
                          " changes while the server was stopped, then continued: the device got " +
                          std::to_string(state.received()) + " messages and holds " +
                          std::to_string(kNumGainChannels - state.mismatches(wanted)) +
                          "/48 of the host's values";
    if (!settled) figures += " (changes made while the server stood still were lost)";
    figures += "; " + std::to_string(state.malformed()) + " malformed, " + std::to_string(stray) +
               " to a device nobody chose; " + timer.describe();
    run.verdict(on.firstArrived && settled && state.malformed() == 0 && stray == 0 && timer.ok(),
                figures);
}

} // namespace

void runInstanceChecks(CheckRun& run, PluginUnderTest& plugin, LabAccess& lab) {
    run.guarded("instances on 4 threads", [&] { checkInstancesOnThreads(run, plugin, lab); });
    run.guarded("two instances on one device", [&] { checkTwoOnOneDevice(run, plugin, lab); });
    run.guarded("device numbers per instance", [&] { checkDeviceNumbers(run, plugin, lab); });
}

void runChurnChecks(CheckRun& run, PluginUnderTest& plugin, LabAccess& lab) {
    run.guarded("churn: device gone and back", [&] { checkDeviceGoneAndBack(run, plugin, lab); });
    run.guarded("churn: device back after a failed open",
                [&] { checkFailedOpen(run, plugin, lab); });
    run.guarded("churn: server stopped and continued",
                [&] { checkServerStopped(run, plugin, lab); });
    run.guarded("churn: server killed and restarted", [&] { checkServerKilled(run, plugin, lab); });
}

} // namespace qrhost
