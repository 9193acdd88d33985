// Hosts set parameters from their audio thread and their window thread at once. These tests
// are meant to run under ThreadSanitizer as well as normally.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "plugin/parameters.h"
#include "tests/support/plugin_fixture.h"

using testing_midi::Recorder;
using namespace std::chrono_literals;

class Threads : public PluginTest {
  protected:
    // What each channel's last message on `device` says, -1 where none arrived.
    std::vector<int> lastValues(const std::u16string& device) {
        std::vector<int> values(48, -1);
        for (const auto& message : Recorder::instance().messagesTo(device)) {
            EXPECT_GE(message.status(), 0xB1);
            EXPECT_LE(message.status(), 0xB6);
            EXPECT_GE(message.controller(), 24);
            EXPECT_LE(message.controller(), 31);
            EXPECT_LT(message.value(), 128);
            values[static_cast<std::size_t>(message.channel())] = message.value();
        }
        return values;
    }
    std::vector<int> storedValues() {
        std::vector<int> values;
        for (int channel = 0; channel < 48; ++channel)
            values.push_back(gainToMidiValue(get(2 + channel)));
        return values;
    }
};

TEST_F(Threads, ConcurrentChangesOfTheSameGainsEndWithWhatTheEffectHolds) {
    set(0, 0.0f);
    settle();
    constexpr int perThread = 4000;
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([this, t] {
            for (int i = 0; i < perThread; ++i)
                set(2 + (t * 12 + i) % 48, ((i * (t + 3)) % 128) / 127.0f);
        });
    }
    for (auto& worker : workers)
        worker.join();
    settle();
    // Threads raced on every channel; whichever stored last, the device holds that value.
    EXPECT_EQ(lastValues(u"Port A"), storedValues());
}

TEST_F(Threads, AFloodWithDeviceChangesAndRefreshesNeverReachesAClosedPort) {
    Recorder::instance().setSendDelay(50us); // a driver slower than the changes
    std::atomic<bool> stop{false};
    std::vector<std::thread> automation;
    for (int t = 0; t < 3; ++t) {
        automation.emplace_back([&, t] {
            for (int i = 0; !stop.load(); ++i)
                set(2 + (i * 5 + t) % 48, ((i + t) % 100) / 100.0f);
        });
    }
    std::thread window([&] {
        for (int i = 0; i < 200; ++i) {
            set(0, static_cast<float>(i % 5)); // 4 closes the port
            if (i % 20 == 0) set(1, 1.0f);
            std::this_thread::sleep_for(200us);
        }
        set(0, 1.0f);
    });
    window.join();
    std::this_thread::sleep_for(20ms);
    stop = true;
    for (auto& thread : automation)
        thread.join();
    settle();
    set(1, 1.0f); // brings the last device in line, even channels the flood did not reach
    settle();
    EXPECT_EQ(lastValues(u"Port B"), storedValues());
    EXPECT_LE(Recorder::instance().openHandles(), 1);
    for (const auto& call : Recorder::instance().calls())
        ASSERT_NE(call.name, "rejected") << "a message was sent to a closed port";
}
