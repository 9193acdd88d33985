// Stalls: how long a host's audio thread spends inside the plug-in while it plays automation
// (setParameter before each 32-frame process call, paced like a real device) and something
// else goes on: another thread choosing devices, a device that takes its messages slowly, a
// MIDI server that stopped. The figure is the longest 32-frame sub-block, all its calls
// together; it fails above a bound far above what a busy shared machine adds and far below the
// length of a host's block. Afterwards the device must hold the host's values: whatever a
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

// Far above a preempted thread on a busy two-core machine (a few milliseconds), far below a
// host block of 1024 frames at 48 kHz (21 ms); a plug-in waiting on device work takes 50 ms
// and more.
constexpr double kStallBoundMs = 8.0;
constexpr int kArrivalMs = 3000;

struct StallFigures {
    double longestSubBlockMs = 0.0;
    double longestSetMs = 0.0;
    double longestProcessMs = 0.0;
    std::int64_t subBlocks = 0;
    std::int64_t due = 0; // sub-blocks the run's time would have held
    std::int64_t changes = 0;
    std::int64_t overBound = 0;
    AudioStats audio;
    std::vector<int> lastSet = std::vector<int>(kNumGainChannels, -1);

    bool ok() const { return longestSubBlockMs < kStallBoundMs && audio.exact(); }
    std::string describe() const {
        std::string text = std::to_string(subBlocks) + " sub-blocks of 32 frames (" +
                           std::to_string(due) + " due), " + std::to_string(changes) +
                           " gain changes: longest sub-block " + fixed(longestSubBlockMs, 2) +
                           " ms (setParameter " + fixed(longestSetMs, 2) + " ms, process " +
                           fixed(longestProcessMs, 2) + " ms), " + std::to_string(overBound) +
                           " over the bound of " + fixed(kStallBoundMs, 0) + " ms";
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
        for (std::int64_t block = 0; millisecondsSince(started) < seconds * 1000.0; ++block) {
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
            figures.longestSubBlockMs = std::max(figures.longestSubBlockMs, took);
            if (took >= kStallBoundMs) ++figures.overBound;
            ++figures.subBlocks;
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
    if (!ok) text += " (the last changes were lost)";
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
    const auto figures = automateTimed(
        instance, runSeconds(run), 1,
        [&] {
            // Another thread of the host's (its window, a device menu) chooses devices.
            const int number = switches++ % 2 == 0 ? devices.secondNumber : devices.firstNumber;
            instance.set(ParameterIndex::kMidiDevice, static_cast<float>(number));
            instance.dispatch(effEditIdle);
        },
        40);
    run.verdict(figures.ok(), "another thread chose a device " + std::to_string(switches) +
                                  " times during automation; " + figures.describe());
}

void checkSlowDevice(CheckRun& run, PluginUnderTest& plugin, LabAccess& labs) {
    Devices devices;
    if (!prepare(run, plugin, labs, devices)) return;
    Instance instance(plugin.entry);
    instance.set(ParameterIndex::kMidiDevice, static_cast<float>(devices.firstNumber));
    const std::string how = devices.lab->makeSlow(true);
    StallFigures figures;
    try {
        figures = automateTimed(instance, runSeconds(run), kNumGainChannels, {}, 20);
    } catch (...) {
        devices.lab->makeSlow(false);
        throw;
    }
    devices.lab->makeSlow(false);
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
    devices.lab->stopServer();
    StallFigures figures;
    try {
        figures = automateTimed(instance, runSeconds(run), kNumGainChannels, {}, 20);
    } catch (...) {
        devices.lab->continueServer();
        throw;
    }
    devices.lab->continueServer();
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
