#pragma once
// What every benchmark program shares: the plug-in created through its entry point with a
// minimal host, and timing of the plug-in's work against a floor measured in the same run.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "editor/midiremoteeditor.h"
#include "vst/aeffect.h"
#include "vst/audioeffect.h"

extern "C" AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback audioMaster);

namespace qr_bench {

// Host calls the plug-in made since the program started (automation, edits, idle).
inline std::atomic<std::int64_t> hostCalls{0};

// A host that answers its version and counts; nothing it does allocates or locks, so it adds
// no cost of its own to what is measured.
inline VstIntPtr VSTCALLBACK hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*,
                                          float) {
    hostCalls.fetch_add(1, std::memory_order_relaxed);
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

    AEffect* record;
};

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

// Times `batch` calls of the floor and `batch` calls of the subject per iteration, in
// alternating order so neither always finds the caches warm, and reports the subject's time
// as the iteration's (manual time). Counters, per call: `ns` and `floor_ns`, the medians over
// the iterations, and `ratio`, the median of the iterations' subject / floor ratios. Medians,
// because on a shared machine a batch now and then loses the processor to someone else.
// `between()` runs untimed after each iteration (draining queues, clearing logs); both
// operations get a running call number so values can change from call to call.
template <typename Floor, typename Subject, typename Between>
void timeAgainstFloor(benchmark::State& state, std::int64_t batch, Floor&& floor, Subject&& subject,
                      Between&& between) {
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
        } else {
            subjectTime = timed(subject, callNumber);
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
    // Runs untimed after each measured batch; `sent` messages left since the last call.
    // Answers how many of them did not arrive.
    virtual std::int64_t settle(std::int64_t sent) = 0;
    // Batch size per timed measurement, and iterations if the backend must fix them (0: let
    // the library decide).
    virtual std::int64_t batchMessages() const = 0;
    virtual std::int64_t fixedIterations() const = 0;
};

std::unique_ptr<MidiBackend> makeBackend();

// Registers the gain-change and refresh benchmarks over `backend` (which must outlive them).
void registerMidiBenchmarks(MidiBackend& backend);

} // namespace qr_bench
