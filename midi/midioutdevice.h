#pragma once
// The connection to the external gain device: this instance's list of MIDI output devices, the
// device the user chose, and a sender thread of its own that opens that device and sends each
// gain as one Control Change message.
//
// Callers hand changes over and return at once: no call a host's audio thread can reach waits
// for a lock, a device or a driver, or allocates. Device numbers are positions in this
// instance's own list as it last counted it; the device behind a number is recognised again by
// what the count saw, so nothing another instance or the system does can redirect it.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "midi/controlhandover.h"
#include "platform/winmm.h"

class MidiOutDevice {
  public:
    static constexpr int kNumChannels = ControlHandOver::kControllers;

    enum class PortState { kNone, kOpening, kOpen, kNotConnected };
    // What the device menu shows: the chosen device, whether its port is open, and its number.
    struct Status {
        PortState state = PortState::kNone;
        int number = -1;      // the chosen device's position in the list, -1 if not listed
        std::string name;     // the chosen device's full name, empty if none is chosen
        std::string menuName; // the same as the menu writes it
    };
    struct Recount {
        int number = -1;        // where the chosen device stands now, -1 if not listed
        bool reopening = false; // its port is being opened afresh
    };

    // Counts the devices and starts the sender; opens nothing.
    MidiOutDevice();
    // Sends what is pending and closes the port, each within a bounded time.
    ~MidiOutDevice();

    MidiOutDevice(const MidiOutDevice&) = delete;
    MidiOutDevice& operator=(const MidiOutDevice&) = delete;

    // --- Any thread; never waits, never allocates ------------------------------------------
    // Hands one Control Change for port channel 0..47 to the sender: status 0xB1 + channel / 8,
    // controller 24 + channel % 8, the value kept to 0..127. Unless `always`, a value the open
    // port already took for that controller is not sent again.
    MMRESULT sendControlChange(int channel, int value, bool always = false);
    // The device with this number in the list, or (any other number) no device.
    void selectDevice(std::int32_t number);
    // Tries the chosen device again if its port is not open.
    void reconnect();
    bool isOpen() const;
    // Changes whenever status() would answer differently.
    std::uint32_t statusGeneration() const;

    // --- Not from an audio thread: these take the list's lock and allocate ------------------
    UINT getDeviceCount() const;
    // The device's name as the menu shows it; empty for an unknown number.
    std::string getDeviceName(UINT number) const;
    std::vector<std::string> menuNames() const;
    Status status() const;
    // The full name of the device the newest choice names, made yet or not (a device chosen by
    // number opens a moment after the choice); empty for none.
    std::string chosenName() const;
    // Counts the devices again. A chosen device that is listed again and has no open port is
    // opened afresh; one that vanished is closed.
    Recount recount();
    // Chooses the device of that full name wherever it now stands and opens it; if none is
    // listed, nothing is opened and the name waits for a count that finds it. Returns its number
    // or -1.
    int recall(const std::string& name);
    // Waits until everything handed over before the call has been dealt with (sent, found
    // already on the device, or dropped for want of a port); false on timeout.
    bool waitUntilSent(std::chrono::milliseconds timeout) const;
    // Waits only until the device changes asked for before the call have been made, so that
    // status() tells the choice; false on timeout.
    bool waitForDeviceChanges(std::chrono::milliseconds timeout) const;

    // The short message for a channel and value, low byte first: status, controller, value.
    static DWORD controlChangeMessage(int channel, int value);

  private:
    struct Shared;
    std::shared_ptr<Shared> shared;
    std::thread sender;
};
