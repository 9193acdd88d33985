// Host automation on a thread of its own, paced in real time like a host's audio thread: all
// 48 gains set every 32 frames at 48 kHz while the window thread idles every 10 ms. Every
// setParameter call on the automation thread is timed, and beside each one a single atomic
// store timed the same way, whose longest time is what the machine itself adds (interrupts,
// the hypervisor, the clock). Afterwards what the device took is compared with what the host
// holds.
//
//   SlowDriver  10 s with a driver that takes 1 ms per message (what a MIDI cable carries)
//               against the same 10 s with an instant driver
//   DeviceOpen  2 s in which the window thread chooses another device and then the first one
//               again, each taking 300 ms to open, against the same 2 s without device changes

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "bench/bench_support.h"
#include "tests/support/recording_midi.h"
#include "toolkit/offscreen.h"

namespace qr_bench {
namespace {

using namespace std::chrono_literals;
using testing_midi::Recorder;

constexpr double kPeriodSeconds = 32.0 / 48000.0;
constexpr auto kIdleInterval = 10ms;
constexpr auto kSlowOpen = 300ms;
// Calls above this count as slow (the aim for the longest call).
constexpr double kSlowCallSeconds = 50e-6;

struct Run {
    std::chrono::milliseconds length{0};
    std::chrono::microseconds sendDelay{0}; // the driver's time per message
    // Device numbers the window thread chooses, and when, from the start of the automation.
    std::vector<std::pair<std::chrono::milliseconds, int>> choices;
};

// The longest, the median, two percentiles (seconds) and how many took longer than
// kSlowCallSeconds.
struct CallTimes {
    double longest = 0.0;
    double p50 = 0.0;
    double p99 = 0.0;
    double p9999 = 0.0;
    std::int64_t count = 0;
    std::int64_t slow = 0;

    explicit CallTimes(std::vector<float> nanoseconds = {}) {
        count = static_cast<std::int64_t>(nanoseconds.size());
        if (nanoseconds.empty()) return;
        std::sort(nanoseconds.begin(), nanoseconds.end());
        longest = nanoseconds.back() * 1e-9;
        p50 = nanoseconds[nanoseconds.size() / 2] * 1e-9;
        p99 = nanoseconds[nanoseconds.size() * 99 / 100] * 1e-9;
        p9999 = nanoseconds[nanoseconds.size() * 9999 / 10000] * 1e-9;
        slow = nanoseconds.end() - std::upper_bound(nanoseconds.begin(), nanoseconds.end(),
                                                    static_cast<float>(kSlowCallSeconds * 1e9));
    }
};

struct Outcome {
    bool ready = false;
    bool realtime = false; // the automation thread ran at a real-time priority
    CallTimes calls;       // setParameter
    CallTimes stores;      // the atomic store beside each call
    std::int64_t latePeriods = 0;
    std::int64_t messages = 0; // what the driver took, from the first change until settled
    int opens = 0;             // slow device opens made
    bool settled = false;      // the port dealt with everything within its time
    int mismatches = 0;        // gains the final device holds otherwise than the host
    int changedAtEnd = 0;      // gains the device did not hold yet when the last change was made
    int takenAfterEnd = 0;     // messages the device took after the last change
    double delay = 0.0;        // seconds from the last change to the device holding every gain
    double messageTime = 0.0;  // seconds per message while the driver is busy (median gap)
};

std::atomic<int> slowOpens{0};

// Runs inside the driver's open, on the port's sender thread.
void openSlowly() {
    slowOpens.fetch_add(1);
    std::this_thread::sleep_for(kSlowOpen);
}

// The recorder as the benchmark wants it, and as every other benchmark expects it afterwards.
class DriverSettings {
  public:
    explicit DriverSettings(std::chrono::microseconds sendDelay, bool slowOpen) {
        recorder.setSendDelay(sendDelay);
        recorder.setTimeStamps(true);
        recorder.setBeforeOpen(slowOpen ? &openSlowly : nullptr);
    }
    ~DriverSettings() {
        recorder.setSendDelay(std::chrono::microseconds(0));
        recorder.setTimeStamps(false);
        recorder.setBeforeOpen(nullptr);
        recorder.clearLog();
    }
    DriverSettings(const DriverSettings&) = delete;
    DriverSettings& operator=(const DriverSettings&) = delete;

  private:
    Recorder& recorder = Recorder::instance();
};

// Hosts run their audio thread at a real-time priority. Where the system allows it the
// automation thread does too, so that what shows is the plug-in, not other programs taking the
// processor from it.
bool raisePriority() {
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

float nanoseconds(Clock::duration d) {
    return static_cast<float>(std::chrono::duration<double, std::nano>(d).count());
}

float gainAt(int period, int channel) {
    return gainFor((period + channel) % 128);
}

struct Taken {
    std::uint32_t message;
    Clock::time_point at;
    int device;
};

void drain(std::vector<Taken>& taken) {
    for (const testing_midi::SentMessage& message : Recorder::instance().takeMessages())
        taken.push_back({message.message, message.at, message.device});
}

// What the device took, replayed from the gains it held at the start: the state when the last
// change was made, the state at the end and when it was reached.
void replay(const std::vector<Taken>& taken, int finalDevice, const GainValues& initial,
            const GainValues& host, Clock::time_point lastChange, Outcome& out) {
    DeviceGains device;
    device.values = initial;
    GainValues whenLastChanged = initial;
    bool pastLastChange = false;
    Clock::time_point lastMessage{};
    std::vector<double> gaps;
    Clock::time_point previous{};
    for (const Taken& t : taken) {
        // Back to back, the gap between two messages is the driver's time for one.
        if (previous != Clock::time_point{} && t.at - previous < 10ms)
            gaps.push_back(std::chrono::duration<double>(t.at - previous).count());
        previous = t.at;
        if (t.device != finalDevice) continue;
        if (!pastLastChange && t.at > lastChange) {
            pastLastChange = true;
            whenLastChanged = device.values;
        }
        device.take(t.message);
        lastMessage = t.at;
        if (pastLastChange) ++out.takenAfterEnd;
    }
    if (!pastLastChange) whenLastChanged = device.values;
    DeviceGains then;
    then.values = whenLastChanged;
    out.changedAtEnd = then.differences(host);
    out.mismatches = device.differences(host);
    out.delay =
        pastLastChange ? std::chrono::duration<double>(lastMessage - lastChange).count() : 0.0;
    out.messageTime = median(gaps);
    out.messages = static_cast<std::int64_t>(taken.size());
}

Outcome automate(const Run& run, bool slowOpen) {
    Outcome out;
    Plugin plugin;
    if (!plugin.ok() || !plugin.chooseDevice(0) || !plugin.openWindow()) return out;
    GainValues initial{};
    for (int channel = 0; channel < kNumGainChannels; ++channel) {
        plugin.set(ParameterIndex::kFirstGain + channel, gainAt(0, channel));
        initial[static_cast<std::size_t>(channel)] = gainToMidiValue(gainAt(0, channel));
    }
    if (!plugin.settle()) return out;
    const DriverSettings settings(run.sendDelay, slowOpen);
    Recorder::instance().clearLog(); // the device holds `initial` now
    const int opensBefore = slowOpens.load();

    CFrame* frame = plugin.editor()->getFrame();
    toolkit::OffscreenSurface surface(frame->getWidth(), frame->getHeight());
    AEffect* record = plugin.record;
    const auto period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kPeriodSeconds));
    const int periods =
        static_cast<int>(std::chrono::duration<double>(run.length).count() / kPeriodSeconds);
    std::vector<float> callTimes; // nanoseconds
    std::vector<float> storeTimes;
    callTimes.reserve(static_cast<std::size_t>(periods) * kNumGainChannels);
    storeTimes.reserve(callTimes.capacity());
    std::array<std::atomic<float>, kNumGainChannels> stored{};
    std::vector<Taken> taken;
    taken.reserve(1 << 16);

    std::atomic<bool> done{false};
    Clock::time_point lastChange{};
    const Clock::time_point start = Clock::now();
    std::thread automation([&] {
        out.realtime = raisePriority();
        Clock::time_point next = start;
        for (int p = 1; p <= periods; ++p) {
            for (int channel = 0; channel < kNumGainChannels; ++channel) {
                const float value = gainAt(p, channel);
                // Which of the two goes first alternates from period to period.
                const bool storeFirst = p % 2 == 0;
                const Clock::time_point t0 = Clock::now();
                if (storeFirst) stored[static_cast<std::size_t>(channel)].store(value);
                const Clock::time_point t1 = Clock::now();
                record->setParameter(record, ParameterIndex::kFirstGain + channel, value);
                const Clock::time_point t2 = Clock::now();
                if (!storeFirst) stored[static_cast<std::size_t>(channel)].store(value);
                const Clock::time_point t3 = Clock::now();
                callTimes.push_back(nanoseconds(t2 - t1));
                storeTimes.push_back(nanoseconds(storeFirst ? t1 - t0 : t3 - t2));
                lastChange = t2;
            }
            next += period;
            if (Clock::now() > next) ++out.latePeriods;
            std::this_thread::sleep_until(next);
        }
        done.store(true);
    });

    // The window thread: idles and paints as a host's timer drives it, chooses devices as its
    // menu would, and reads the driver's log as it goes so the log stays small.
    std::size_t nextChoice = 0;
    Clock::time_point nextIdle = start;
    while (!done.load()) {
        while (nextChoice < run.choices.size() &&
               Clock::now() - start >= run.choices[nextChoice].first) {
            plugin.set(ParameterIndex::kMidiDevice,
                       static_cast<float>(run.choices[nextChoice].second));
            ++nextChoice;
        }
        plugin.dispatch(effEditIdle);
        frame->renderRect(surface.context(), frame->getDirtyRect());
        drain(taken);
        nextIdle += kIdleInterval;
        std::this_thread::sleep_until(nextIdle);
    }
    automation.join();
    out.settled = plugin.settle();
    drain(taken);
    out.opens = slowOpens.load() - opensBefore;

    out.calls = CallTimes(std::move(callTimes));
    out.stores = CallTimes(std::move(storeTimes));
    const int finalDevice = run.choices.empty() ? 0 : run.choices.back().second;
    replay(taken, finalDevice, initial, hostGains(plugin), lastChange, out);
    out.ready = true;
    return out;
}

void report(benchmark::State& state, const std::string& prefix, const Outcome& out) {
    state.counters[prefix + "realtime"] = out.realtime ? 1 : 0;
    state.counters[prefix + "calls"] = static_cast<double>(out.calls.count);
    state.counters[prefix + "longest_us"] = out.calls.longest * 1e6;
    state.counters[prefix + "p50_us"] = out.calls.p50 * 1e6;
    state.counters[prefix + "p99_us"] = out.calls.p99 * 1e6;
    state.counters[prefix + "p9999_us"] = out.calls.p9999 * 1e6;
    state.counters[prefix + "slow_calls"] = static_cast<double>(out.calls.slow);
    state.counters[prefix + "store_longest_us"] = out.stores.longest * 1e6;
    state.counters[prefix + "store_p50_us"] = out.stores.p50 * 1e6;
    state.counters[prefix + "store_p99_us"] = out.stores.p99 * 1e6;
    state.counters[prefix + "store_p9999_us"] = out.stores.p9999 * 1e6;
    state.counters[prefix + "store_slow"] = static_cast<double>(out.stores.slow);
    state.counters[prefix + "late_periods"] = static_cast<double>(out.latePeriods);
    state.counters[prefix + "messages"] = static_cast<double>(out.messages);
    state.counters[prefix + "opens"] = out.opens;
    state.counters[prefix + "unsettled"] = out.settled ? 0 : 1;
    state.counters[prefix + "mismatches"] = out.mismatches;
    state.counters[prefix + "changed_at_end"] = out.changedAtEnd;
    state.counters[prefix + "taken_after_end"] = out.takenAfterEnd;
    state.counters[prefix + "delay_ms"] = out.delay * 1e3;
    state.counters[prefix + "message_ms"] = out.messageTime * 1e3;
}

// The subject run against the floor run, in alternating order from one repetition to the next.
// `ns`, `floor_ns` and `ratio` are the longest calls and their ratio, as in the other tables.
void subjectAgainstFloor(benchmark::State& state, const Run& subjectRun, const Run& floorRun,
                         bool slowOpen) {
    static int repetition = 0;
    const bool floorFirst = repetition++ % 2 == 1;
    for (auto _ : state) {
        Outcome floor;
        Outcome subject;
        if (floorFirst) floor = automate(floorRun, slowOpen);
        subject = automate(subjectRun, slowOpen);
        if (!floorFirst) floor = automate(floorRun, slowOpen);
        if (!subject.ready || !floor.ready) {
            state.SkipWithError("the window or the MIDI device did not open");
            return;
        }
        report(state, "", subject);
        report(state, "floor_", floor);
        state.counters["ns"] = subject.calls.longest * 1e9;
        state.counters["floor_ns"] = floor.calls.longest * 1e9;
        state.counters["ratio"] =
            floor.calls.longest > 0 ? subject.calls.longest / floor.calls.longest : 0.0;
    }
}

void slowDriver(benchmark::State& state) {
    Run slow;
    slow.length = 10s;
    slow.sendDelay = 1ms;
    Run instant;
    instant.length = 10s;
    subjectAgainstFloor(state, slow, instant, false);
}
// 20 s of real time per repetition: three, whatever the command line asks, keep the whole
// benchmark run within a few minutes.
BENCHMARK(slowDriver)
    ->Name("SlowDriver")
    ->Repetitions(3)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void deviceOpen(benchmark::State& state) {
    Run opening;
    opening.length = 2s;
    opening.choices = {{300ms, 1}, {1100ms, 0}};
    Run steady;
    steady.length = 2s;
    subjectAgainstFloor(state, opening, steady, true);
}
BENCHMARK(deviceOpen)
    ->Name("DeviceOpen")
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace qr_bench
