#include "midi/midioutdevice.h"

#include <algorithm>
#include <cstring>

MidiOutDevice::MidiOutDevice() : deviceCount(midiOutGetNumDevs()) {
    deviceCaps.resize(deviceCount);
    deviceNames.resize(deviceCount);
    for (UINT i = 0; i < deviceCount; ++i) {
        // A device whose query fails is listed with an empty name: a failing driver may
        // leave anything in the record.
        MIDIOUTCAPSA& caps = deviceCaps[i];
        std::memset(&caps, 0, sizeof caps);
        if (midiOutGetDevCapsA(i, &caps, sizeof caps) != MMSYSERR_NOERROR)
            std::memset(&caps, 0, sizeof caps);
        std::memcpy(deviceNames[i].data(), caps.szPname, kNameSize);
        deviceNames[i][kNameSize - 1] = '\0';
    }
}

MidiOutDevice::~MidiOutDevice() {
    std::lock_guard<std::mutex> guard(portLock);
    closeLocked();
}

const char* MidiOutDevice::getDeviceName(UINT deviceId) const {
    return deviceId < deviceCount ? deviceNames[deviceId].data() : nullptr;
}

MMRESULT MidiOutDevice::openDevice(int deviceId) {
    std::lock_guard<std::mutex> guard(portLock);
    closeLocked();
    if (deviceId < 0 || static_cast<UINT>(deviceId) >= deviceCount) return MMSYSERR_BADDEVICEID;
    HMIDIOUT opened = nullptr;
    const MMRESULT result =
        midiOutOpen(&opened, static_cast<UINT>(deviceId), 0, 0, CALLBACK_NULL);
    handle = result == MMSYSERR_NOERROR ? opened : nullptr;
    return result;
}

MMRESULT MidiOutDevice::closeDevice() {
    std::lock_guard<std::mutex> guard(portLock);
    return closeLocked();
}

MMRESULT MidiOutDevice::closeLocked() {
    if (!handle) return MMSYSERR_INVALHANDLE;
    HMIDIOUT closing = handle;
    handle = nullptr;
    return midiOutClose(closing);
}

bool MidiOutDevice::isOpen() const {
    std::lock_guard<std::mutex> guard(portLock);
    return handle != nullptr;
}

DWORD MidiOutDevice::controlChangeMessage(int channel, int value) {
    const DWORD status = 0xB1u + static_cast<DWORD>(channel / 8);
    const DWORD controller = 24u + static_cast<DWORD>(channel % 8);
    const DWORD data = static_cast<DWORD>(std::clamp(value, 0, 127));
    return data << 16 | controller << 8 | status;
}

MMRESULT MidiOutDevice::sendControlChange(int channel, int value) {
    if (channel < 0 || channel >= kNumChannels) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> guard(portLock);
    if (!handle) return MMSYSERR_INVALHANDLE;
    return midiOutShortMsg(handle, controlChangeMessage(channel, value));
}
