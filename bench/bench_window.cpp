// The window, opened offscreen: opening and closing against decoding its bitmaps, a full
// repaint against one copy of the page background, a linked knob dragged by the mouse, and
// host automation from another thread while the window thread idles.

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "editor/editorlayout.h"
#include "plugin/parameters.h"
#include "tests/support/recording_midi.h"
#include "toolkit/offscreen.h"

namespace qr_bench {
namespace {

// Every bitmap the window asks for, whether the editor loads it at creation or at opening.
constexpr std::array<const char*, 12> kWindowBitmaps = {
    "BackgroundMenu",      "BackgroundPage1",     "BackgroundPage2",     "BackgroundInfo",
    "KnobHandle",          "ButtonLinkHandle",    "ButtonInfoHandle",    "ButtonRefreshHandle",
    "ButtonPage_1_Handle", "ButtonPage_2_Handle", "ButtonMidiDevHandle", "ButtonFrameHandle"};

// Window coordinates of the centre of the knob in page slot 0 (under the 30-pixel menu bar).
constexpr CPoint kFirstKnobCentre{40, 30 + 47};

void windowOpenClose(benchmark::State& state) {
    Plugin plugin;
    if (!plugin.ok()) {
        state.SkipWithError("the plug-in did not load");
        return;
    }
    int loaded = 0;
    timeAgainstFloor(
        state, 4,
        [&](std::int64_t) {
            loaded = 0;
            for (const char* name : kWindowBitmaps) {
                auto* bitmap = new CBitmap(name);
                loaded += bitmap->isLoaded() ? 1 : 0;
                bitmap->forget();
            }
        },
        [&](std::int64_t) {
            plugin.openWindow();
            plugin.closeWindow();
        },
        [] {});
    state.counters["bitmaps_named"] = static_cast<double>(kWindowBitmaps.size());
    state.counters["bitmaps_found"] = loaded;
}
BENCHMARK(windowOpenClose)->Name("WindowOpenClose")->UseManualTime()->Unit(benchmark::kMicrosecond);

void fullRepaint(benchmark::State& state) {
    Plugin plugin;
    if (!plugin.ok() || !plugin.openWindow()) {
        state.SkipWithError("the window did not open");
        return;
    }
    CFrame* frame = plugin.editor()->getFrame();
    const CRect size = frame->getViewSize();
    toolkit::OffscreenSurface surface(size.getWidth(), size.getHeight());
    auto* page = new CBitmap("BackgroundPage1");
    timeAgainstFloor(
        state, 16,
        [&](std::int64_t) {
            surface.context().drawBitmap(*page, CRect(0, 0, page->getWidth(), page->getHeight()),
                                         CPoint(0, 0));
            benchmark::DoNotOptimize(surface.pixel(0, 0));
        },
        [&](std::int64_t) {
            frame->render(surface.context());
            benchmark::DoNotOptimize(surface.pixel(0, 0));
        },
        [] {});
    state.counters["width"] = size.getWidth();
    state.counters["height"] = size.getHeight();
    page->forget();
}
BENCHMARK(fullRepaint)->Name("FullRepaint")->UseManualTime()->Unit(benchmark::kMicrosecond);

// Knob 1 linked to knob 2, dragged by 1000 mouse events (press, 998 moves, release) up and
// down past both ends. Counts the 7-bit steps the knob passed, the changes the window handed
// on (reported to the host for recording), the messages the device took and whether both
// channels end at the knob's value.
void linkedKnobDrag(benchmark::State& state) {
    constexpr int kEvents = 1000;
    constexpr int kLeg = 250; // pixels per leg; 200 span the whole range
    Plugin plugin;
    testing_midi::Recorder& recorder = testing_midi::Recorder::instance();
    bool ready = plugin.ok() && plugin.chooseDevice(0);
    if (ready) {
        plugin.set(ParameterIndex::kFirstLink, 1.0f);
        plugin.set(ParameterIndex::kFirstGain, 0.0f);
        plugin.set(ParameterIndex::kFirstGain + 1, 0.0f);
        ready = plugin.openWindow() && plugin.settle();
    }
    if (!ready) {
        state.SkipWithError("the window or the MIDI device did not open");
        return;
    }
    CFrame* frame = plugin.editor()->getFrame();
    CAnimKnob* knob = plugin.editor()->getKnob(0);

    // Vertical offsets of the 1000 events: a triangle wave of 250-pixel legs.
    std::array<int, kEvents> rise{};
    for (int k = 0; k < kEvents; ++k) {
        const int phase = k % (2 * kLeg);
        rise[static_cast<std::size_t>(k)] = phase < kLeg ? phase : 2 * kLeg - phase;
    }

    std::int64_t steps = 0;
    std::int64_t changes = 0;
    std::int64_t messages = 0;
    double dragSeconds = 0.0;
    std::int64_t endMismatches = 0;
    std::int64_t unsettled = 0;
    DeviceGains device;
    for (const testing_midi::SentMessage& message : recorder.messages())
        device.take(message.message);
    for (auto _ : state) {
        recorder.clearLog();
        const std::int64_t automatedBefore = automateCalls.load();
        const Clock::time_point start = Clock::now();
        int shown = gainToMidiValue(knob->getValue());
        auto observe = [&] {
            const int now = gainToMidiValue(knob->getValue());
            if (now != shown) ++steps;
            shown = now;
        };
        const auto at = [&](int k) {
            return CPoint(kFirstKnobCentre.x,
                          kFirstKnobCentre.y - rise[static_cast<std::size_t>(k)]);
        };
        frame->onMouseDown(at(0), kLButton);
        observe();
        for (int k = 1; k < kEvents - 1; ++k) {
            frame->onMouseMoved(at(k), kLButton);
            observe();
        }
        frame->onMouseUp(at(kEvents - 1), kLButton);
        observe();
        dragSeconds += secondsSince(start);

        state.PauseTiming();
        changes += automateCalls.load() - automatedBefore;
        // The port sends on its own thread and, when it falls behind, only a channel's newest
        // value: the device must end where the knob ended, on both channels.
        if (!plugin.settle()) ++unsettled;
        const std::vector<testing_midi::SentMessage> sent = recorder.messages();
        messages += static_cast<std::int64_t>(sent.size());
        for (const testing_midi::SentMessage& message : sent)
            device.take(message.message);
        const int knobValue = gainToMidiValue(knob->getValue());
        for (std::size_t channel : {0u, 1u})
            if (device.values[channel] != knobValue) ++endMismatches;
        state.ResumeTiming();
    }
    const auto drags = static_cast<double>(state.iterations());
    state.counters["events"] = kEvents;
    state.counters["steps"] = static_cast<double>(steps) / drags;
    state.counters["changes"] = static_cast<double>(changes) / drags;
    state.counters["expected"] = 2.0 * static_cast<double>(steps) / drags;
    state.counters["off_by"] = static_cast<double>(std::llabs(changes - 2 * steps));
    state.counters["messages"] = static_cast<double>(messages) / drags;
    state.counters["end_mismatches"] = static_cast<double>(endMismatches);
    state.counters["unsettled"] = static_cast<double>(unsettled);
    state.counters["ns_per_event"] = dragSeconds / (drags * kEvents) * 1e9;
}
BENCHMARK(linkedKnobDrag)->Name("LinkedKnobDrag")->Iterations(200)->Unit(benchmark::kMicrosecond);

// All 48 gains set from a second thread every 32 frames at 48 kHz while the window thread
// idles on a host timer (argument: milliseconds between idles) and paints what became dirty.
void hostAutomation(benchmark::State& state) {
    using namespace std::chrono;
    constexpr int kPeriods = 1500; // one second of audio in 32-frame periods
    const auto period = duration_cast<Clock::duration>(duration<double>(32.0 / 48000.0));
    const auto idleInterval = milliseconds(state.range(0));

    Plugin plugin;
    if (!plugin.ok() || !plugin.chooseDevice(0) || !plugin.openWindow()) {
        state.SkipWithError("the window did not open");
        return;
    }
    MidiRemoteEditor* editor = plugin.editor();
    CFrame* frame = editor->getFrame();
    toolkit::OffscreenSurface surface(frame->getWidth(), frame->getHeight());
    AEffect* record = plugin.record;

    auto valueAt = [](int p, int channel) {
        return static_cast<float>((p + channel) % 128) / 127.0f;
    };
    // Controls whose shown value is not the stored one: the window's work still pending.
    auto outOfDate = [&] {
        int count = 0;
        for (int channel = 0; channel < kNumGainChannels; ++channel)
            if (editor->getKnob(channel)->getValue() !=
                plugin.get(ParameterIndex::kFirstGain + channel))
                ++count;
        return count;
    };

    int maxPending = 0;
    double idleSeconds = 0.0;
    double maxIdleSeconds = 0.0;
    double wallSeconds = 0.0;
    std::int64_t idles = 0;
    std::int64_t periods = 0;
    std::int64_t latePeriods = 0;
    std::int64_t staleAtEnd = 0;
    double automationSeconds = 0.0;
    double automationMaxSeconds = 0.0;
    for (auto _ : state) {
        std::atomic<bool> done{false};
        std::int64_t late = 0;
        double callSeconds = 0.0;
        double maxCallSeconds = 0.0;
        const Clock::time_point start = Clock::now();
        std::thread automation([&] {
            Clock::time_point next = Clock::now();
            for (int p = 0; p < kPeriods; ++p) {
                const Clock::time_point calls = Clock::now();
                for (int channel = 0; channel < kNumGainChannels; ++channel)
                    record->setParameter(record, ParameterIndex::kFirstGain + channel,
                                         valueAt(p, channel));
                const double spent = secondsSince(calls);
                callSeconds += spent;
                maxCallSeconds = std::max(maxCallSeconds, spent);
                next += period;
                if (Clock::now() > next) ++late;
                std::this_thread::sleep_until(next);
            }
            done.store(true);
        });
        Clock::time_point nextIdle = Clock::now();
        while (!done.load()) {
            maxPending = std::max(maxPending, outOfDate());
            const Clock::time_point idleStart = Clock::now();
            plugin.dispatch(effEditIdle);
            // What a window would paint after the idle.
            frame->renderRect(surface.context(), frame->getDirtyRect());
            const double spent = secondsSince(idleStart);
            idleSeconds += spent;
            maxIdleSeconds = std::max(maxIdleSeconds, spent);
            ++idles;
            nextIdle += idleInterval;
            std::this_thread::sleep_until(nextIdle);
        }
        automation.join();
        wallSeconds += secondsSince(start);
        plugin.dispatch(effEditIdle);
        // The newest value wins: after one more idle every knob shows the last value set.
        for (int channel = 0; channel < kNumGainChannels; ++channel)
            if (editor->getKnob(channel)->getValue() != valueAt(kPeriods - 1, channel))
                ++staleAtEnd;
        periods += kPeriods;
        latePeriods += late;
        automationSeconds += callSeconds;
        automationMaxSeconds = std::max(automationMaxSeconds, maxCallSeconds);
        plugin.settle();
        testing_midi::Recorder::instance().clearLog();
    }
    state.counters["max_pending"] = maxPending;
    state.counters["calls_per_idle"] =
        idles ? static_cast<double>(periods) * kNumGainChannels / static_cast<double>(idles) : 0;
    state.counters["idle_us_per_period"] = idleSeconds / static_cast<double>(periods) * 1e6;
    state.counters["idle_us_max"] = maxIdleSeconds * 1e6;
    state.counters["window_busy"] = idleSeconds / wallSeconds;
    state.counters["calls_us_per_period"] = automationSeconds / static_cast<double>(periods) * 1e6;
    state.counters["calls_us_max"] = automationMaxSeconds * 1e6;
    state.counters["late_periods"] = static_cast<double>(latePeriods);
    state.counters["stale_at_end"] = static_cast<double>(staleAtEnd);
}
BENCHMARK(hostAutomation)
    ->Name("HostAutomation")
    ->ArgName("idle_ms")
    ->Arg(10)
    ->Arg(50)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace qr_bench
