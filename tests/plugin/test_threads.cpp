// Hosts set parameters from their audio thread and their window thread at once. These tests
// are meant to run under ThreadSanitizer as well as normally.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "plugin/parameters.h"
#include "tests/support/plugin_fixture.h"

using testing_midi::Recorder;

using Threads = PluginTest;

TEST_F(Threads, ConcurrentGainChangesAreNeitherLostNorTorn) {
    set(0, 0.0f);
    Recorder::instance().clearLog();
    constexpr int perThread = 2000;
    constexpr int threads = 4;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([this, t] {
            for (int i = 0; i < perThread; ++i) {
                const int channel = (t * 12 + i) % 48;
                set(2 + channel, (i % 128) / 127.0f);
            }
        });
    }
    for (auto& worker : workers) worker.join();

    const auto sent = midi();
    ASSERT_EQ(sent.size(), static_cast<std::size_t>(threads * perThread));
    int lastValue[48];
    for (int& value : lastValue) value = -1;
    for (const auto& message : sent) {
        ASSERT_GE(message.status(), 0xB1);
        ASSERT_LE(message.status(), 0xB6);
        ASSERT_GE(message.controller(), 24);
        ASSERT_LE(message.controller(), 31);
        ASSERT_LT(message.value(), 128);
        lastValue[(message.status() - 0xB1) * 8 + message.controller() - 24] = message.value();
    }
    // What each channel received last is what the effect holds.
    for (int channel = 0; channel < 48; ++channel)
        EXPECT_EQ(lastValue[channel], gainToMidiValue(get(2 + channel))) << channel;
}

TEST_F(Threads, DeviceChangesRaceWithSendsSafely) {
    std::atomic<bool> stop{false};
    std::thread automation([&] {
        int i = 0;
        for (; !stop.load(); ++i) set(2 + i % 48, (i % 100) / 100.0f);
    });
    std::thread window([&] {
        for (int i = 0; i < 500; ++i) {
            set(0, static_cast<float>(i % 5));  // 4 closes the port
            if (i % 50 == 0) set(1, 1.0f);
        }
    });
    window.join();
    stop = true;
    automation.join();
    EXPECT_LE(Recorder::instance().openHandles(), 1);
    // The recorder refuses sends on closed handles, so every logged send found its device open.
    for (const auto& message : midi()) EXPECT_LT(message.value(), 128);
}
