#pragma once
// A recording implementation of the Windows MIDI output calls for tests: a scripted device
// table that tests may change at any time (devices come, go and change places, as on a real
// system), failure injection, a driver that can be slow or answer "not ready", and a log of
// every message that reached an open handle.

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/winmm.h"

namespace testing_midi {

struct SentMessage {
    int device;          // the device's place in the table when it was opened
    std::u16string name; // the device's name
    std::uint32_t message;
    // When the driver took it, if the recorder stamps times (setTimeStamps), else zero.
    std::chrono::steady_clock::time_point at{};
    std::uint8_t status() const { return message & 0xFF; }
    std::uint8_t controller() const { return (message >> 8) & 0xFF; }
    std::uint8_t value() const { return (message >> 16) & 0xFF; }
    int channel() const { return (status() - 0xB1) * 8 + controller() - 24; }
};

struct Call {
    std::string name; // "open", "close", "send", "rejected" (a send to a closed handle)
    int device;
    std::u16string deviceName;
};

class Recorder {
public:
    static Recorder& instance();

    // Resets everything and installs a device table (names as the system would report them).
    void reset(std::vector<std::u16string> deviceNames = {});
    // A new table, as after devices were plugged, unplugged or re-ordered. Open handles keep
    // their device.
    void setDevices(std::vector<std::u16string> deviceNames);
    void failOpen(bool fail);
    void failCapsQuery(int device);
    // Each message then takes this long in the driver (outside the recorder's lock).
    void setSendDelay(std::chrono::microseconds delay);
    // While set, sends answer MIDIERR_NOTREADY and take nothing.
    void setNotReady(bool notReady);
    // Runs on the calling thread inside midiOutOpen, after the open took the device's place
    // and before it opened it: a test can change the table there.
    void setBeforeOpen(void (*hook)());
    // While set, each message records when the driver took it (a clock read per message).
    void setTimeStamps(bool stamp);

    std::vector<SentMessage> messages() const;
    std::vector<SentMessage> messagesTo(const std::u16string& deviceName) const;
    std::vector<Call> calls() const;
    int openHandles() const;
    bool isOpen(const std::u16string& deviceName) const;
    int notReadyAnswers() const;
    void clearLog();
    // The messages so far, and the log cleared at the same moment, so that a long run can read
    // as it goes without keeping everything or losing a message between reading and clearing.
    std::vector<SentMessage> takeMessages();

    // Used by the recording calls.
    mutable std::mutex lock;
    std::vector<std::u16string> names;
    std::map<std::uintptr_t, std::pair<int, std::u16string>> handles; // open: place, name
    std::uintptr_t nextHandle = 1;
    std::vector<SentMessage> sent;
    std::vector<Call> log;
    bool openFails = false;
    int capsFailDevice = -1;
    std::chrono::microseconds sendDelay{0};
    bool notReady = false;
    int notReadyCount = 0;
    void (*beforeOpen)() = nullptr;
    bool stampTimes = false;
    bool isOpenLocked(const std::u16string& deviceName) const {
        for (const auto& entry : handles)
            if (entry.second.second == deviceName) return true;
        return false;
    }
};

} // namespace testing_midi
