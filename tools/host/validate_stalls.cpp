// Stalls: how long a host's audio thread spends inside the plug-in while it plays automation
// (setParameter before each 32-frame process call, paced like a real device) and something
// else goes on: another thread choosing devices while they are slow, a device that takes its
// messages slowly, a MIDI server that stopped. The figure is the 32-frame sub-block, all its
// calls together. A sub-block fails when the audio thread waited in it (gave up the processor:
// a lock, a sleep, a driver; where the system counts that) for longer than a small bound, or
// took longer than a larger one in any case: a thread that was only preempted on a busy shared
// machine takes a few milliseconds and up to some 15 under the sanitizers, a plug-in waiting on
// device work 50 ms and more. Afterwards the device must hold the host's values: whatever a
// plug-in does to keep the audio thread free, it may not lose the last change.
//
// And what the audio thread asks of the system meanwhile, counted inside setParameter and the
// process calls (validate_probes.h): nothing but, at most, waking a thread of the plug-in's own.

#include <algorithm>
#include <atomic>
#include <limits>
#include <thread>

#include "plugin/parameters.h"
#include "tools/host/validate_support.h"

namespace qrhost {
namespace {

// A sub-block in which the audio thread waited may take this long (a host block of 512 frames
// at 48 kHz lasts 10.7 ms) ...
constexpr double kWaitBoundMs = 8.0;
// ... and any sub-block this long, waiting or not (the only bound where the system does not
// count a thread's waits).
constexpr double kHardBoundMs = 40.0;
constexpr int kArrivalMs = 3000;

struct StallFigures {
    double longestSubBlockMs = 0.0;
    double longestWaitingMs = 0.0; // the longest sub-block in which the thread waited
    double longestSetMs = 0.0;
    double longestProcessMs = 0.0;
    bool waitsCounted = false;
    std::int64_t subBlocks = 0;
    std::int64_t due = 0; // sub-blocks the run's time would have held
    std::int64_t changes = 0;
    std::int64_t stalls = 0;    // sub-blocks over a bound
    std::int64_t preempted = 0; // over the small bound without waiting: the machine's doing
    AudioStats audio;
    std::vector<int> lastSet = std::vector<int>(kNumGainChannels, -1);

    void addSubBlock(double took, bool waited) {
        longestSubBlockMs = std::max(longestSubBlockMs, took);
        if (waited) longestWaitingMs = std::max(longestWaitingMs, took);
        if (took >= kHardBoundMs || (took >= kWaitBoundMs && waited))
            ++stalls;
        else if (took >= kWaitBoundMs)
            ++preempted;
        ++subBlocks;
    }
    bool ok() const { return stalls == 0 && audio.exact(); }
    std::string describe() const {
        std::string text = std::to_string(subBlocks) + " sub-blocks of 32 frames (" +
                           std::to_string(due) + " due), " + std::to_string(changes) +
                           " gain changes: longest sub-block " + fixed(longestSubBlockMs, 2) +
                           " ms (setParameter " + fixed(longestSetMs, 2) + " ms, process " +
                           fixed(longestProcessMs, 2) + " ms)";
        if (waitsCounted)
            text += ", longest in which the audio thread waited " + fixed(longestWaitingMs, 2) +
                    " ms; " + std::to_string(stalls) + " stalls (waiting over " +
                    fixed(kWaitBoundMs, 0) + " ms, or over " + fixed(kHardBoundMs, 0) + " ms), " +
                    std::to_string(preempted) + " sub-blocks over " + fixed(kWaitBoundMs, 0) +
                    " ms only preempted";
        else
            text += "; " + std::to_string(stalls) + " over " + fixed(kHardBoundMs, 0) +
                    " ms (this system does not count a thread's waits)";
        if (!audio.exact()) text += "; audio: " + describeAudio(audio);
        return text;
    }
};

// The 7-bit value of gain `channel` in sub-block `block`: each gain moves by a step of 7 from
// one change to its next, so every change is a new step for the device.
int stepValue(std::int64_t block, int channel) {
    return static_cast<int>((block * 7 + channel * 13) % 128);
}

// The audio thread plays automation for `seconds` of wall time, `gainsPerSubBlock` gains (1 or
// all 48) before each sub-block, paced in real time; the calling thread runs `meanwhile`
// every `everyMs` until it is done. With `countPath`, what the audio thread asks of the
// system inside the plug-in's calls is counted into the figures' audio stats.
StallFigures automateTimed(Instance& instance, double seconds, int gainsPerSubBlock,
                           const std::function<void()>& meanwhile, int everyMs,
                           bool countPath = false, bool ours = true) {
    AudioRunner<float> runner(*instance.record, kSubBlock);
    if (!runner.supported()) throw HostError("no 32-bit process entry");
    instance.resume(kAutomationRate, kAutomationBlock);
    StallFigures figures;
    std::atomic<bool> done{false};
    std::thread audio([&] {
        const auto started = Clock::now();
        std::int64_t frame = 0;
        VstInt32 next = 0; // other plug-ins: parameters in turn
        figures.waitsCounted = threadWaits().has_value();
        for (std::int64_t block = 0; millisecondsSince(started) < seconds * 1000.0; ++block) {
            const auto waitsBefore = threadWaits();
            const auto blockStarted = Clock::now();
            for (int g = 0; g < gainsPerSubBlock; ++g) {
                VstInt32 index = 0;
                float value = 0.0f;
                if (ours) {
                    const int channel =
                        gainsPerSubBlock == 1 ? static_cast<int>(block % kNumGainChannels) : g;
                    const int midi = stepValue(
                        gainsPerSubBlock == 1 ? block / kNumGainChannels : block, channel);
                    index = ParameterIndex::kFirstGain + channel;
                    value = gainValueFor(midi);
                    figures.lastSet[static_cast<std::size_t>(channel)] = midi;
                } else {
                    index =
                        instance.record->numParams > 0 ? next++ % instance.record->numParams : 0;
                    value = static_cast<float>(block % 101) / 100.0f;
                }
                const auto setStarted = Clock::now();
                if (countPath) beginPathCounting();
                instance.set(index, value);
                if (countPath) figures.audio.path.add(endPathCounting());
                figures.longestSetMs =
                    std::max(figures.longestSetMs, millisecondsSince(setStarted));
                ++figures.changes;
            }
            const auto processStarted = Clock::now();
            figures.audio.add(runner.run(*instance.record, frame, kSubBlock, countPath));
            figures.longestProcessMs =
                std::max(figures.longestProcessMs, millisecondsSince(processStarted));
            const double took = millisecondsSince(blockStarted);
            const auto waitsAfter = threadWaits();
            figures.addSubBlock(took, waitsBefore && waitsAfter && *waitsAfter > *waitsBefore);
            frame += kSubBlock;
            if (frame % kAutomationBlock == 0)
                std::this_thread::sleep_until(
                    started +
                    std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                        static_cast<double>(frame) / kAutomationRate)));
        }
        figures.due = static_cast<std::int64_t>(seconds * kAutomationRate / kSubBlock);
        done = true;
    });
    while (!done.load()) {
        if (meanwhile) meanwhile();
        std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
    }
    audio.join();
    instance.suspend();
    return figures;
}

// The lab's devices slow while it lives.
class SlowDevices {
  public:
    explicit SlowDevices(MidiLab& lab) : lab(lab), how(lab.makeSlow(true)) {}
    ~SlowDevices() { lab.makeSlow(false); }
    SlowDevices(const SlowDevices&) = delete;
    SlowDevices& operator=(const SlowDevices&) = delete;

  private:
    MidiLab& lab;

  public:
    const std::string how;
};

// The lab's MIDI server stopped while it lives.
class StoppedServer {
  public:
    explicit StoppedServer(MidiLab& lab) : lab(lab) { lab.stopServer(); }
    ~StoppedServer() { lab.continueServer(); }
    StoppedServer(const StoppedServer&) = delete;
    StoppedServer& operator=(const StoppedServer&) = delete;

  private:
    MidiLab& lab;
};

struct Devices {
    MidiLab* lab = nullptr;
    std::unique_ptr<MidiReceiverProbe> first;
    std::unique_ptr<MidiReceiverProbe> second;
    int firstNumber = -1;
    int secondNumber = -1;
};

// Our plug-in and two receivers of the lab, or a reported skip.
bool prepare(CheckRun& run, const PluginUnderTest& plugin, LabAccess& labs, Devices& devices,
             bool needsServer = false) {
    devices.lab = labForOurPlugin(run, plugin, labs);
    if (!devices.lab) return false;
    std::string whyNot;
    if (needsServer && !devices.lab->hasServer()) {
        run.report(Outcome::Skip, "no MIDI server on this system");
        return false;
    }
    devices.first = devices.lab->receiver("a", whyNot);
    if (devices.first) devices.second = devices.lab->receiver("b", whyNot);
    if (!devices.first || !devices.second) throw HostError("the lab's receivers: " + whyNot);
    devices.firstNumber = deviceNumberOf(*devices.first);
    devices.secondNumber = deviceNumberOf(*devices.second);
    if (devices.firstNumber < 0 || devices.secondNumber < 0)
        throw HostError("the lab's receivers are not among the devices");
    return true;
}

// After the run: whether the device came to hold what the host set last.
std::string settled(MidiReceiverProbe& device, const StallFigures& figures, bool& ok) {
    DeviceState state;
    ok = state.collectUntil(device, kArrivalMs, [&](const DeviceState& s) {
        return s.mismatches(figures.lastSet) == 0;
    });
    std::string text = "afterwards the device holds " +
                       std::to_string(kNumGainChannels - state.mismatches(figures.lastSet)) +
                       "/48 of the host's last values";
    if (!ok)
        text += " (the last changes were lost; " + std::to_string(state.received()) +
                " messages arrived in all)";
    return text;
}

double runSeconds(const CheckRun& run) {
    return run.options.quick ? 1.0 : 2.0;
}

void checkReselect(CheckRun& run, PluginUnderTest& plugin, LabAccess& labs) {
    Devices devices;
    if (!prepare(run, plugin, labs, devices)) return;
    Instance instance(plugin.entry);
    instance.set(ParameterIndex::kMidiDevice, static_cast<float>(devices.firstNumber));
    int switches = 0;
    StallFigures figures;
    std::string how;
    {
        // Slow devices: opening and closing them takes a while, as it does with real ones.
        const SlowDevices slow(*devices.lab);
        how = slow.how;
        figures = automateTimed(
            instance, runSeconds(run), 1,
            [&] {
                // Another thread of the host's (its window, a device menu) chooses devices.
                const int number = switches++ % 2 == 0 ? devices.secondNumber : devices.firstNumber;
                instance.set(ParameterIndex::kMidiDevice, static_cast<float>(number));
                instance.dispatch(effEditIdle);
            },
            40);
    }
    run.verdict(figures.ok(), how + "; another thread chose a device " + std::to_string(switches) +
                                  " times during automation; " + figures.describe());
}

void checkSlowDevice(CheckRun& run, PluginUnderTest& plugin, LabAccess& labs) {
    Devices devices;
    if (!prepare(run, plugin, labs, devices)) return;
    Instance instance(plugin.entry);
    instance.set(ParameterIndex::kMidiDevice, static_cast<float>(devices.firstNumber));
    StallFigures figures;
    std::string how;
    {
        const SlowDevices slow(*devices.lab);
        how = slow.how;
        figures = automateTimed(instance, runSeconds(run), kNumGainChannels, {}, 20);
    }
    bool ok = false;
    const std::string after = settled(*devices.first, figures, ok);
    run.verdict(figures.ok() && ok, how + "; all 48 gains before every sub-block: " +
                                        figures.describe() + "; " + after);
}

void checkServerStopped(CheckRun& run, PluginUnderTest& plugin, LabAccess& labs) {
    Devices devices;
    if (!prepare(run, plugin, labs, devices, true)) return;
    Instance instance(plugin.entry);
    instance.set(ParameterIndex::kMidiDevice, static_cast<float>(devices.firstNumber));
    StallFigures figures;
    {
        const StoppedServer stopped(*devices.lab);
        figures = automateTimed(instance, runSeconds(run), kNumGainChannels, {}, 20);
    }
    bool ok = false;
    const std::string after = settled(*devices.first, figures, ok);
    run.verdict(figures.ok() && ok, "the MIDI server stopped for the whole run, all 48 gains "
                                    "before every sub-block: " +
                                        figures.describe() + "; continued, " + after);
}

void checkAudioPathDuringAutomation(CheckRun& run, PluginUnderTest& plugin, LabAccess& labs) {
    std::string whyNot;
    if (!pathCountingAvailable(reinterpret_cast<const void*>(plugin.entry), whyNot))
        return run.report(Outcome::Skip, whyNot);
    // The device first, so that the instance counts it.
    std::unique_ptr<MidiReceiverProbe> device;
    int number = -1;
    if (plugin.ours) {
        if (MidiLab* lab = labs.get(whyNot)) device = lab->receiver("a", whyNot);
        if (device) number = deviceNumberOf(*device);
    } else {
        whyNot = "its MIDI output is unknown to the host";
    }
    Instance instance(plugin.entry);
    std::string where = " (no device, its sends unchecked: ";
    if (number >= 0) {
        instance.set(ParameterIndex::kMidiDevice, static_cast<float>(number));
        where = " to a device";
    }
    if (where != " to a device") where += whyNot + ")";
    // Ours opens its window offscreen; the window thread's idle takes the notices meanwhile.
    const bool window = plugin.ours && plugin.hasEditor && instance.openWindow(nullptr);
    const auto figures = automateTimed(
        instance, run.options.quick ? 0.5 : 1.0, 1,
        [&] {
            if (window) instance.dispatch(effEditIdle);
        },
        10, true, plugin.ours);
    if (window) instance.closeWindow();
    const PathCounts& path = figures.audio.path;
    run.verdict(path.forbidden() == 0 && figures.changes > 0,
                std::to_string(figures.changes) + " setParameter and " +
                    std::to_string(figures.subBlocks) + " process calls" + where +
                    (window ? " with the window open" : "") + ": " + describePath(path));
}

} // namespace

void runStallChecks(CheckRun& run, PluginUnderTest& plugin, LabAccess& lab) {
    run.guarded("stall: device chosen meanwhile", [&] { checkReselect(run, plugin, lab); });
    run.guarded("stall: slow device", [&] { checkSlowDevice(run, plugin, lab); });
    run.guarded("stall: MIDI server stopped", [&] { checkServerStopped(run, plugin, lab); });
    run.guarded("audio path during automation",
                [&] { checkAudioPathDuringAutomation(run, plugin, lab); });
}

} // namespace qrhost
