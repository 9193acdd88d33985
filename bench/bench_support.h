#pragma once
// What every benchmark program shares: the plug-in created through its entry point with a
// minimal host, and timing of the plug-in's work against a floor measured in the same run.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "editor/midiremoteeditor.h"
#include "midi/midioutdevice.h"
#include "plugin/midiremoteeffect.h"
#include "plugin/parameters.h"
#include "vst/aeffect.h"
#include "vst/audioeffect.h"

extern "C" AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback audioMaster);

namespace qr_bench {

// Host calls the plug-in made since the program started (automation, edits, idle), and of
// them the parameter changes it reported for the host to record (the window's edits).
inline std::atomic<std::int64_t> hostCalls{0};
inline std::atomic<std::int64_t> automateCalls{0};

// A host that answers its version and counts; nothing it does allocates or locks, so it adds
// no cost of its own to what is measured.
inline VstIntPtr VSTCALLBACK hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*,
                                          float) {
    hostCalls.fetch_add(1, std::memory_order_relaxed);
    if (opcode == audioMasterAutomate) automateCalls.fetch_add(1, std::memory_order_relaxed);
    return opcode == audioMasterVersion ? 2400 : 0;
}

// One plug-in instance, closed through its dispatcher at the end of the scope.
class Plugin {
  public:
    Plugin() : record(VSTPluginMain(&hostCallback)) {}
    ~Plugin() {
        if (record) dispatch(effClose);
    }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    bool ok() const { return record != nullptr; }
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) {
        return record->dispatcher(record, opcode, index, value, ptr, opt);
    }
    void set(VstInt32 index, float value) { record->setParameter(record, index, value); }
    float get(VstInt32 index) { return record->getParameter(record, index); }

    // The window with no parent: a frame drawn only into offscreen surfaces.
    bool openWindow() { return dispatch(effEditOpen, 0, 0, nullptr) == 1; }
    void closeWindow() { dispatch(effEditClose); }
    MidiRemoteEditor* editor() {
        return static_cast<MidiRemoteEditor*>(
            static_cast<AudioEffect*>(record->object)->getEditor());
    }
    MidiOutDevice& midiPort() {
        return static_cast<MidiRemoteEffect*>(static_cast<AudioEffect*>(record->object))
            ->midiPort();
    }

    // Chooses device `number` and waits until its port is opened (or found not to open).
    bool chooseDevice(int number) {
        set(ParameterIndex::kMidiDevice, static_cast<float>(number));
        return midiPort().waitForDeviceChanges(std::chrono::seconds(5)) && midiPort().isOpen();
    }
    // Sending happens on the port's own thread: waits until it has dealt with every change
    // handed over so far, so that one batch's messages do not spill into the next.
    bool settle() { return midiPort().waitUntilSent(std::chrono::seconds(5)); }

    AEffect* record;
};

// The 7-bit value of each gain as the host holds it, and as a device holds it after the
// messages it took (-1 where it took none). `received` counts the messages per channel since
// the last clearCounts().
using GainValues = std::array<int, kNumGainChannels>;

inline GainValues hostGains(Plugin& plugin) {
    GainValues values{};
    for (int channel = 0; channel < kNumGainChannels; ++channel)
        values[static_cast<std::size_t>(channel)] =
            gainToMidiValue(plugin.get(ParameterIndex::kFirstGain + channel));
    return values;
}

struct DeviceGains {
    DeviceGains() {
        values.fill(-1);
        received.fill(0);
    }
    // A Control Change for one of the gain channels (status 0xB1.., controller 24..31).
    void take(std::uint32_t message) {
        const int status = static_cast<int>(message & 0xFF);
        const int controller = static_cast<int>((message >> 8) & 0xFF);
        const int channel = (status - 0xB1) * 8 + controller - 24;
        if (status < 0xB1 || controller < 24 || controller > 31 || channel >= kNumGainChannels)
            return;
        values[static_cast<std::size_t>(channel)] = static_cast<int>((message >> 16) & 0x7F);
        ++received[static_cast<std::size_t>(channel)];
    }
    int differences(const GainValues& host) const {
        int count = 0;
        for (std::size_t channel = 0; channel < values.size(); ++channel)
            if (values[channel] != host[channel]) ++count;
        return count;
    }
    int channelsWithoutMessage() const {
        return static_cast<int>(std::count(received.begin(), received.end(), 0));
    }
    void clearCounts() { received.fill(0); }

    GainValues values;
    std::array<std::int64_t, kNumGainChannels> received;
};

// A gain that the plug-in turns into value v (gain * 127 truncated), within 0..1.
inline float gainFor(int value) {
    return std::min(1.0f, (static_cast<float>(value) + 0.5f) / 127.0f);
}

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The middle value (mean of the two middle ones for an even count); 0 for none.
inline double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                     values.end());
    const double upper = values[middle];
    if (values.size() % 2 != 0) return upper;
    return (upper + *std::max_element(values.begin(),
                                      values.begin() + static_cast<std::ptrdiff_t>(middle))) /
           2.0;
}

struct Nothing {
    void operator()() const {}
};

// Times `batch` calls of the floor and `batch` calls of the subject per iteration, in
// alternating order so neither always finds the caches warm, and reports the subject's time
// as the iteration's (manual time). Counters, per call: `ns` and `floor_ns`, the medians over
// the iterations, and `ratio`, the median of the iterations' subject / floor ratios. Medians,
// because on a shared machine a batch now and then loses the processor to someone else.
// `between()` runs untimed after each iteration (draining queues, clearing logs), and
// `afterSubject()` untimed right after each subject batch, so that work the subject left to
// another thread is finished before the floor is timed; both operations get a running call
// number so values can change from call to call.
template <typename Floor, typename Subject, typename Between, typename AfterSubject = Nothing>
void timeAgainstFloor(benchmark::State& state, std::int64_t batch, Floor&& floor, Subject&& subject,
                      Between&& between, AfterSubject&& afterSubject = {}) {
    std::vector<double> floorTimes;
    std::vector<double> subjectTimes;
    std::vector<double> ratios;
    std::int64_t callNumber = 0;
    bool floorFirst = true;
    auto timed = [&](auto& operation, std::int64_t first) {
        const Clock::time_point start = Clock::now();
        for (std::int64_t i = 0; i < batch; ++i)
            operation(first + i);
        benchmark::ClobberMemory();
        return secondsSince(start);
    };
    for (auto _ : state) {
        double floorTime = 0.0;
        double subjectTime = 0.0;
        if (floorFirst) {
            floorTime = timed(floor, callNumber);
            subjectTime = timed(subject, callNumber);
            afterSubject();
        } else {
            subjectTime = timed(subject, callNumber);
            afterSubject();
            floorTime = timed(floor, callNumber);
        }
        floorFirst = !floorFirst;
        callNumber += batch;
        between();
        floorTimes.push_back(floorTime);
        subjectTimes.push_back(subjectTime);
        if (floorTime > 0.0) ratios.push_back(subjectTime / floorTime);
        state.SetIterationTime(subjectTime);
    }
    const double perCall = 1e9 / static_cast<double>(batch);
    state.counters["ns"] = median(subjectTimes) * perCall;
    state.counters["floor_ns"] = median(floorTimes) * perCall;
    state.counters["ratio"] = median(ratios);
    state.SetItemsProcessed(state.iterations() * batch);
}

// The MIDI service the gain-change benchmarks run over: the recording calls of the tests or
// the system's (JACK). The plug-in and a bare handle of our own reach the same receiver.
class MidiBackend {
  public:
    virtual ~MidiBackend() = default;
    virtual std::string name() const = 0;
    // Empty when ready, else why not.
    virtual std::string start() = 0;
    // The device the plug-in opens (parameter 0) and the one the bare calls go to.
    virtual int pluginDevice() const = 0;
    virtual int bareDevice() const = 0;
    // Untimed, after the plug-in's port has dealt with everything handed over: applies the
    // messages its device received since the last call to `device` and answers how many
    // there were. A service that delivers later than the port hands over is waited for
    // until `complete(device)` holds and nothing more arrives, within a bounded time.
    virtual std::int64_t receivePlugin(DeviceGains& device,
                                       const std::function<bool(const DeviceGains&)>& complete) = 0;
    // How many of the `sent` bare messages since the last call arrived.
    virtual std::int64_t receiveBare(std::int64_t sent) = 0;
    // Batch size per timed measurement, and iterations if the backend must fix them (0: let
    // the library decide).
    virtual std::int64_t batchMessages() const = 0;
    virtual std::int64_t fixedIterations() const = 0;
};

std::unique_ptr<MidiBackend> makeBackend();

// Registers the gain-change and refresh benchmarks over `backend` (which must outlive them).
void registerMidiBenchmarks(MidiBackend& backend);

} // namespace qr_bench
