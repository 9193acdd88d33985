// A stand-in for the system's winmm.dll with the MIDI output calls only. Put next to a host
// program and preferred over the system's (WINEDLLOVERRIDES="winmm=n,b" under Wine), it lets a
// test see every byte the shipped plug-in sends, without MIDI hardware.
//
// QR_WINMM_LOG names the file that each open, send and close is appended to, one line each:
//   open DEVICE | open DEVICE error CODE
//   send DEVICE STATUS DATA1 DATA2 (hex bytes, first byte first) | send - error CODE MESSAGE
//   close DEVICE | close - error CODE
// QR_WINMM_DEVICES sets how many fake devices there are (0 to 16, default 3), named
// "QR Recording Out 1" and on. QR_WINMM_FIRST (default 0) turns the table: the device at place p
// is then number (p + first) mod count + 1, as after devices were re-plugged in another order.
// Both are read at every call, so a test can change the table while a plug-in runs.

// This library is the provider of these calls, so mmsystem.h must not declare them as imports.
#ifndef _WINMM_
#define _WINMM_
#endif
#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr UINT kMaxDevices = 16;
constexpr UINT kDefaultDevices = 3;
constexpr UINT_PTR kHandleBase = 0x7100; // handles are kHandleBase + device

// Test code may keep process-wide state: the devices' open flags, guarded by one lock.
SRWLOCK stateLock = SRWLOCK_INIT;
bool deviceOpen[kMaxDevices] = {};

UINT environmentNumber(const char* name, UINT fallback, UINT limit) {
    char text[16] = {};
    const DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
    if (length == 0 || length >= sizeof text) return fallback;
    char* end = nullptr;
    const unsigned long number = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || number > limit) return fallback;
    return static_cast<UINT>(number);
}

UINT deviceCount() { return environmentNumber("QR_WINMM_DEVICES", kDefaultDevices, kMaxDevices); }

// Appends one line; called with stateLock held so that lines keep the order of the calls.
void logLine(const char* line) {
    char path[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("QR_WINMM_LOG", path, sizeof path);
    if (length == 0 || length >= sizeof path) return;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    WriteFile(file, "\n", 1, &written, nullptr);
    CloseHandle(file);
}

bool toDevice(HMIDIOUT handle, UINT& device) {
    const UINT_PTR value = reinterpret_cast<UINT_PTR>(handle);
    if (value < kHandleBase || value >= kHandleBase + kMaxDevices) return false;
    device = static_cast<UINT>(value - kHandleBase);
    return deviceOpen[device];
}

void deviceName(UINT device, char (&name)[MAXPNAMELEN]) {
    const UINT count = deviceCount();
    const UINT first = environmentNumber("QR_WINMM_FIRST", 0, 1000);
    std::snprintf(name, sizeof name, "QR Recording Out %u", count ? (device + first) % count + 1 : 0);
}

} // namespace

UINT WINAPI midiOutGetNumDevs(void) {
    return deviceCount();
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR device, LPMIDIOUTCAPSA caps, UINT size) {
    if (device >= deviceCount()) return MMSYSERR_BADDEVICEID;
    if (!caps) return MMSYSERR_INVALPARAM;
    MIDIOUTCAPSA full = {};
    full.wMid = 0xFF;
    full.wPid = 1;
    full.vDriverVersion = 0x0100;
    deviceName(static_cast<UINT>(device), full.szPname);
    full.wTechnology = MOD_MIDIPORT;
    full.wChannelMask = 0xFFFF;
    std::memcpy(caps, &full, size < sizeof full ? size : sizeof full);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR device, LPMIDIOUTCAPSW caps, UINT size) {
    if (device >= deviceCount()) return MMSYSERR_BADDEVICEID;
    if (!caps) return MMSYSERR_INVALPARAM;
    MIDIOUTCAPSW full = {};
    full.wMid = 0xFF;
    full.wPid = 1;
    full.vDriverVersion = 0x0100;
    char name[MAXPNAMELEN];
    deviceName(static_cast<UINT>(device), name);
    for (UINT i = 0; i < MAXPNAMELEN; ++i)
        full.szPname[i] = static_cast<WCHAR>(name[i]);
    full.wTechnology = MOD_MIDIPORT;
    full.wChannelMask = 0xFFFF;
    std::memcpy(caps, &full, size < sizeof full ? size : sizeof full);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT handle, UINT device, DWORD_PTR /*callback*/,
                            DWORD_PTR /*instance*/, DWORD /*flags*/) {
    char line[64];
    MMRESULT result = MMSYSERR_NOERROR;
    AcquireSRWLockExclusive(&stateLock);
    if (!handle)
        result = MMSYSERR_INVALPARAM;
    else if (device >= deviceCount())
        result = MMSYSERR_BADDEVICEID;
    else if (deviceOpen[device])
        result = MMSYSERR_ALLOCATED; // one client per port, as most drivers have it
    if (result == MMSYSERR_NOERROR) {
        deviceOpen[device] = true;
        *handle = reinterpret_cast<HMIDIOUT>(kHandleBase + device);
        std::snprintf(line, sizeof line, "open %u", device);
    } else {
        std::snprintf(line, sizeof line, "open %u error %u", device, result);
    }
    logLine(line);
    ReleaseSRWLockExclusive(&stateLock);
    return result;
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT handle, DWORD message) {
    char line[64];
    MMRESULT result = MMSYSERR_NOERROR;
    AcquireSRWLockExclusive(&stateLock);
    UINT device = 0;
    if (toDevice(handle, device)) {
        std::snprintf(line, sizeof line, "send %u %02x %02x %02x", device,
                      static_cast<unsigned>(message & 0xFF),
                      static_cast<unsigned>(message >> 8 & 0xFF),
                      static_cast<unsigned>(message >> 16 & 0xFF));
    } else {
        result = MMSYSERR_INVALHANDLE;
        std::snprintf(line, sizeof line, "send - error %u %08lx", result,
                      static_cast<unsigned long>(message));
    }
    logLine(line);
    ReleaseSRWLockExclusive(&stateLock);
    return result;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT handle) {
    char line[64];
    MMRESULT result = MMSYSERR_NOERROR;
    AcquireSRWLockExclusive(&stateLock);
    UINT device = 0;
    if (toDevice(handle, device)) {
        deviceOpen[device] = false;
        std::snprintf(line, sizeof line, "close %u", device);
    } else {
        result = MMSYSERR_INVALHANDLE;
        std::snprintf(line, sizeof line, "close - error %u", result);
    }
    logLine(line);
    ReleaseSRWLockExclusive(&stateLock);
    return result;
}
