// A gain change through setParameter (the effect record) against the bare MIDI call with the
// same message through the same service; and a refresh of all 48 gains against 48 bare calls.
// setParameter only hands the change to the port's sender thread, so what is timed is the
// caller's cost. After each timed batch the sender finishes its work untimed, and what reached
// the device is checked against what the host holds.

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "bench/bench_support.h"

namespace qr_bench {
namespace {

// The n-th change of the run: channels in turn, each with a new 7-bit value every round.
int channelOf(std::int64_t n) {
    return static_cast<int>(n % kNumGainChannels);
}
int valueOf(std::int64_t n) {
    return static_cast<int>((n / kNumGainChannels) % 128);
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

// The plug-in on its device with every gain at `start` and delivered, and a bare handle.
// `problem` says which step failed, if one did.
struct Session {
    Session(MidiBackend& backend, bool window, const GainValues& start)
        : backend(backend), bare(backend.bareDevice()) {
        if (!plugin.ok()) {
            problem = "the plug-in did not load";
        } else if (!bare.handle) {
            problem = "the bare handle did not open";
        } else if (!plugin.chooseDevice(backend.pluginDevice())) {
            problem = "the plug-in's MIDI device did not open";
        } else if (window && !plugin.openWindow()) {
            problem = "the window did not open";
        } else {
            for (int channel = 0; channel < kNumGainChannels; ++channel)
                plugin.set(ParameterIndex::kFirstGain + channel,
                           gainFor(start[static_cast<std::size_t>(channel)]));
            if (!plugin.settle()) problem = "the plug-in's sender did not settle";
            receive(nullptr);
            if (problem.empty() && device.differences(hostGains(plugin)) != 0)
                problem = "the starting gains did not reach the device";
        }
    }

    // What reached the device since the last call; with `missed`, every channel must have
    // received a message too (a refresh).
    void receive(std::int64_t* missed) {
        const GainValues host = hostGains(plugin);
        messages += backend.receivePlugin(device, [&](const DeviceGains& d) {
            return d.differences(host) == 0 && (!missed || d.channelsWithoutMessage() == 0);
        });
        if (missed) *missed += device.channelsWithoutMessage();
        mismatches += device.differences(host);
        device.clearCounts();
    }

    void report(benchmark::State& state) const {
        state.counters["changes"] = static_cast<double>(changes);
        state.counters["messages"] = static_cast<double>(messages);
        state.counters["mismatches"] = static_cast<double>(mismatches);
        state.counters["unsettled"] = static_cast<double>(unsettled);
        state.counters["bare_sent"] = static_cast<double>(bareSent);
        state.counters["bare_lost"] = static_cast<double>(bareLost);
    }

    MidiBackend& backend;
    Plugin plugin;
    BareHandle bare;
    DeviceGains device;
    std::string problem;
    std::int64_t changes = 0;    // handed over to the port
    std::int64_t messages = 0;   // received by the device
    std::int64_t mismatches = 0; // gains the device held otherwise than the host, after a batch
    std::int64_t unsettled = 0;  // batches the sender did not finish in time
    std::int64_t bareSent = 0;
    std::int64_t bareLost = 0;
};

// A session that is ready, or none with the benchmark skipped. A second try, because on a
// machine shared with other JACK servers a client now and then fails to open.
std::unique_ptr<Session> openSession(benchmark::State& state, MidiBackend& backend, bool window,
                                     const GainValues& start) {
    auto session = std::make_unique<Session>(backend, window, start);
    if (!session->problem.empty()) session = std::make_unique<Session>(backend, window, start);
    if (session->problem.empty()) return session;
    state.SkipWithError(session->problem.c_str());
    return nullptr;
}

GainValues allAt(int value) {
    GainValues values;
    values.fill(value);
    return values;
}

void gainChange(benchmark::State& state, MidiBackend* backend, bool window) {
    // The run starts at value 0, so every call moves its gain by one 7-bit step.
    const std::unique_ptr<Session> opened = openSession(state, *backend, window, allAt(127));
    if (!opened) return;
    Session& session = *opened;
    const std::int64_t batch = backend->batchMessages();
    std::array<DWORD, kNumGainChannels * 128> messages{};
    for (std::int64_t n = 0; n < static_cast<std::int64_t>(messages.size()); ++n)
        messages[static_cast<std::size_t>(n)] =
            MidiOutDevice::controlChangeMessage(channelOf(n), valueOf(n));
    AEffect* record = session.plugin.record;
    HMIDIOUT bare = session.bare.handle;
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
            session.changes += batch;
            session.receive(nullptr);
            session.bareSent += batch;
            session.bareLost += batch - backend->receiveBare(batch);
        },
        [&] {
            if (!session.plugin.settle()) ++session.unsettled;
        });
    session.report(state);
}

void refresh(benchmark::State& state, MidiBackend* backend, bool window) {
    GainValues start;
    for (int channel = 0; channel < kNumGainChannels; ++channel)
        start[static_cast<std::size_t>(channel)] = channel * 2;
    const std::unique_ptr<Session> opened = openSession(state, *backend, window, start);
    if (!opened) return;
    Session& session = *opened;
    std::array<DWORD, kNumGainChannels> messages{};
    for (int channel = 0; channel < kNumGainChannels; ++channel)
        messages[static_cast<std::size_t>(channel)] =
            MidiOutDevice::controlChangeMessage(channel, channel * 2);
    const std::int64_t batch = std::max<std::int64_t>(1, backend->batchMessages() / 48);
    AEffect* record = session.plugin.record;
    HMIDIOUT bare = session.bare.handle;
    std::int64_t missed = 0;
    timeAgainstFloor(
        state, batch,
        [&](std::int64_t) {
            for (DWORD message : messages)
                benchmark::DoNotOptimize(midiOutShortMsg(bare, message));
        },
        [&](std::int64_t) { record->setParameter(record, ParameterIndex::kRefresh, 1.0f); },
        [&] {
            // Each refresh hands all 48 over to be sent even where the device holds them.
            session.changes += batch * kNumGainChannels;
            session.receive(&missed);
            session.bareSent += batch * kNumGainChannels;
            session.bareLost +=
                batch * kNumGainChannels - backend->receiveBare(batch * kNumGainChannels);
        },
        [&] {
            if (!session.plugin.settle()) ++session.unsettled;
        });
    session.report(state);
    state.counters["missed"] = static_cast<double>(missed);
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
