// A gain change from setParameter (through the effect record) to the MIDI call, against the
// bare MIDI call with the same message through the same service; and a refresh of all 48
// gains against 48 bare calls.

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "bench/bench_support.h"
#include "midi/midioutdevice.h"
#include "plugin/parameters.h"

namespace qr_bench {
namespace {

// The n-th change of the run: channels in turn, each with a new 7-bit value every round.
int channelOf(std::int64_t n) {
    return static_cast<int>(n % kNumGainChannels);
}
int valueOf(std::int64_t n) {
    return static_cast<int>((n / kNumGainChannels) % 128);
}

// A gain that the plug-in turns into value v (gain * 127 truncated), within 0..1.
float gainFor(int value) {
    return std::min(1.0f, (static_cast<float>(value) + 0.5f) / 127.0f);
}

// A bare handle on the backend's device, opened and closed around one benchmark.
class BareHandle {
  public:
    explicit BareHandle(int device) {
        if (midiOutOpen(&handle, static_cast<UINT>(device), 0, 0, CALLBACK_NULL) !=
            MMSYSERR_NOERROR)
            handle = nullptr;
    }
    ~BareHandle() {
        if (handle) midiOutClose(handle);
    }
    BareHandle(const BareHandle&) = delete;
    BareHandle& operator=(const BareHandle&) = delete;
    HMIDIOUT handle = nullptr;
};

struct Session {
    Session(MidiBackend& backend, bool window) : bare(backend.bareDevice()) {
        if (!plugin.ok()) return;
        plugin.set(ParameterIndex::kMidiDevice, static_cast<float>(backend.pluginDevice()));
        if (window && !plugin.openWindow()) return;
        ready = bare.handle && plugin.editor()->getDeviceCount() > 0;
    }
    Plugin plugin;
    BareHandle bare;
    bool ready = false;
};

void finish(benchmark::State& state, std::int64_t lost, std::int64_t sent) {
    state.counters["sent"] = static_cast<double>(sent);
    state.counters["lost"] = static_cast<double>(lost);
}

void gainChange(benchmark::State& state, MidiBackend* backend, bool window) {
    Session session(*backend, window);
    if (!session.ready) {
        state.SkipWithError("no MIDI device could be opened");
        return;
    }
    backend->settle(0);
    const std::int64_t batch = backend->batchMessages();
    std::array<DWORD, kNumGainChannels * 128> messages{};
    for (std::int64_t n = 0; n < static_cast<std::int64_t>(messages.size()); ++n)
        messages[static_cast<std::size_t>(n)] =
            MidiOutDevice::controlChangeMessage(channelOf(n), valueOf(n));
    AEffect* record = session.plugin.record;
    HMIDIOUT bare = session.bare.handle;
    std::int64_t lost = 0;
    std::int64_t sent = 0;
    timeAgainstFloor(
        state, batch,
        [&](std::int64_t n) {
            benchmark::DoNotOptimize(
                midiOutShortMsg(bare, messages[static_cast<std::size_t>(n) % messages.size()]));
        },
        [&](std::int64_t n) {
            record->setParameter(record, ParameterIndex::kFirstGain + channelOf(n),
                                 gainFor(valueOf(n)));
        },
        [&] {
            lost += backend->settle(2 * batch);
            sent += 2 * batch;
        });
    finish(state, lost, sent);
}

void refresh(benchmark::State& state, MidiBackend* backend, bool window) {
    Session session(*backend, window);
    if (!session.ready) {
        state.SkipWithError("no MIDI device could be opened");
        return;
    }
    for (int channel = 0; channel < kNumGainChannels; ++channel)
        session.plugin.set(ParameterIndex::kFirstGain + channel, gainFor(channel * 2));
    backend->settle(kNumGainChannels);
    std::array<DWORD, kNumGainChannels> messages{};
    for (int channel = 0; channel < kNumGainChannels; ++channel)
        messages[static_cast<std::size_t>(channel)] =
            MidiOutDevice::controlChangeMessage(channel, channel * 2);
    const std::int64_t batch = std::max<std::int64_t>(1, backend->batchMessages() / 48);
    AEffect* record = session.plugin.record;
    HMIDIOUT bare = session.bare.handle;
    std::int64_t lost = 0;
    std::int64_t sent = 0;
    timeAgainstFloor(
        state, batch,
        [&](std::int64_t) {
            for (DWORD message : messages)
                benchmark::DoNotOptimize(midiOutShortMsg(bare, message));
        },
        [&](std::int64_t) { record->setParameter(record, ParameterIndex::kRefresh, 1.0f); },
        [&] {
            lost += backend->settle(2 * batch * kNumGainChannels);
            sent += 2 * batch * kNumGainChannels;
        });
    finish(state, lost, sent);
}

} // namespace

void registerMidiBenchmarks(MidiBackend& backend) {
    const std::string service = backend.name();
    const auto configure = [&](benchmark::internal::Benchmark* b) {
        b->UseManualTime()->Unit(benchmark::kMicrosecond);
        if (backend.fixedIterations() > 0) b->Iterations(backend.fixedIterations());
    };
    for (bool window : {false, true}) {
        const std::string suffix = window ? "/window:1" : "/window:0";
        configure(benchmark::RegisterBenchmark(("GainChange/" + service + suffix).c_str(),
                                               gainChange, &backend, window));
    }
    configure(benchmark::RegisterBenchmark(("Refresh48/" + service + "/window:0").c_str(), refresh,
                                           &backend, false));
}

} // namespace qr_bench

int main(int argc, char** argv) {
    std::unique_ptr<qr_bench::MidiBackend> backend = qr_bench::makeBackend();
    const std::string why = backend->start();
    if (!why.empty()) {
        std::fprintf(stderr, "%s backend unavailable: %s\n", backend->name().c_str(), why.c_str());
        return 77;
    }
    qr_bench::registerMidiBenchmarks(*backend);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
