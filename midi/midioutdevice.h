#pragma once
// The connection to the external gain device: lists the MIDI output devices once, keeps at
// most one of them open and sends each gain as one Control Change message.

#include <array>
#include <mutex>
#include <vector>

#include "platform/winmm.h"

class MidiOutDevice {
public:
    static constexpr int kNumChannels = 48;
    static constexpr std::size_t kNameSize = 32;

    MidiOutDevice();
    ~MidiOutDevice();

    MidiOutDevice(const MidiOutDevice&) = delete;
    MidiOutDevice& operator=(const MidiOutDevice&) = delete;

    UINT getDeviceCount() const { return deviceCount; }
    // The device's name as the system reported it when the port was created (empty if the
    // query failed); null for an unknown device id.
    const char* getDeviceName(UINT deviceId) const;

    // Closes the device in use, then opens `deviceId`; a failed open leaves no device open.
    MMRESULT openDevice(int deviceId);
    // MMSYSERR_INVALHANDLE when no device is open.
    MMRESULT closeDevice();
    // One Control Change for port channel 0..47: status 0xB1 + channel / 8, controller
    // 24 + channel % 8. The value is kept to the 7-bit range.
    MMRESULT sendControlChange(int channel, int value);

    bool isOpen() const;

    // The short message for a channel and value, low byte first: status, controller, value.
    static DWORD controlChangeMessage(int channel, int value);

private:
    MMRESULT closeLocked();

    // Serialises open, close and send: a host may set parameters from its audio thread and
    // its window thread at once, and no message may go to a handle that is being closed.
    mutable std::mutex portLock;
    HMIDIOUT handle = nullptr;
    UINT deviceCount = 0;
    std::vector<MIDIOUTCAPSA> deviceCaps;
    std::vector<std::array<char, kNameSize>> deviceNames;
};
