#pragma once
// A recording implementation of the Windows MIDI output calls for tests: a scripted device
// list, failure injection, and a log of every message that reached an open handle.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/winmm.h"

namespace testing_midi {

struct SentMessage {
    int device;
    std::uint32_t message;
    std::uint8_t status() const { return message & 0xFF; }
    std::uint8_t controller() const { return (message >> 8) & 0xFF; }
    std::uint8_t value() const { return (message >> 16) & 0xFF; }
};

struct Call {
    std::string name;  // "open", "close", "send"
    int device;
};

class Recorder {
public:
    static Recorder& instance();

    // Resets everything and installs a device list (names as the system would report them).
    void reset(std::vector<std::u16string> deviceNames = {});
    void failOpen(bool fail) { std::lock_guard g(lock); openFails = fail; }
    void failCapsQuery(int device) { std::lock_guard g(lock); capsFailDevice = device; }

    std::vector<SentMessage> messages() const;
    std::vector<Call> calls() const;
    int openHandles() const;
    void clearLog();

    // Used by the recording calls.
    std::mutex lock;
    std::vector<std::u16string> names;
    std::vector<SentMessage> sent;
    std::vector<Call> log;
    std::vector<bool> open;  // per device
    bool openFails = false;
    int capsFailDevice = -1;
};

} // namespace testing_midi
