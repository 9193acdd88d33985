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
//
// Devices that come and go, slow ones and ones that are not ready, for the validator and tests
// in the process that loaded this DLL (exported calls, found with GetProcAddress):
//   qrRecordingSetPresent(DEVICE, PRESENT)  unplugs a device (0) or plugs it back (1). The
//       system's table lists the present devices in the order of their numbers, so the ones
//       after an unplugged device move up one place; its open handles fail their sends with
//       MMSYSERR_NODRIVER. DEVICE is the device's own number, as in the log (its place while
//       every device is present).
//   qrRecordingSetDelay(DEVICE, MS)  each message to the device takes MS milliseconds in
//       midiOutShortMsg, like a driver that blocks until a slow cable has room.
//   qrRecordingSetNotReady(DEVICE, COUNT)  the next COUNT messages to the device are refused
//       with MIDIERR_NOTREADY (logged as "notready DEVICE").
//   qrRecordingSetOpenDelay(DEVICE, MS)  midiOutOpen of the device takes MS milliseconds, as
//       opening a USB device does.
// Each answers 1, or 0 for a device number out of range.

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
// Handles are kHandleBase + 16 * generation + device; a device plugged back starts a new
// generation, so the handles from before fail instead of reaching the new connection.
constexpr UINT_PTR kHandleBase = 0x7100;

// Test code may keep process-wide state: the devices' open flags, guarded by one lock, and the
// controls above, read without it.
SRWLOCK stateLock = SRWLOCK_INIT;
bool deviceOpen[kMaxDevices] = {};
UINT_PTR generation[kMaxDevices] = {};
volatile LONG deviceAbsent[kMaxDevices] = {};
volatile LONG deviceDelay[kMaxDevices] = {};
volatile LONG deviceNotReady[kMaxDevices] = {};
volatile LONG deviceOpenDelay[kMaxDevices] = {};

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

// The system's device number (the place in the table) to the device's own, or false.
bool fromTableIndex(UINT_PTR index, UINT& device) {
    const UINT count = deviceCount();
    UINT_PTR seen = 0;
    for (UINT d = 0; d < count; ++d) {
        if (deviceAbsent[d]) continue;
        if (seen++ == index) {
            device = d;
            return true;
        }
    }
    return false;
}

bool toDevice(HMIDIOUT handle, UINT& device) {
    const UINT_PTR value = reinterpret_cast<UINT_PTR>(handle);
    if (value < kHandleBase) return false;
    device = static_cast<UINT>((value - kHandleBase) % kMaxDevices);
    return deviceOpen[device] && (value - kHandleBase) / kMaxDevices == generation[device];
}

void deviceName(UINT device, char (&name)[MAXPNAMELEN]) {
    const UINT count = deviceCount();
    const UINT first = environmentNumber("QR_WINMM_FIRST", 0, 1000);
    std::snprintf(name, sizeof name, "QR Recording Out %u", count ? (device + first) % count + 1 : 0);
}

} // namespace

UINT WINAPI midiOutGetNumDevs(void) {
    UINT present = 0;
    for (UINT d = 0; d < deviceCount(); ++d)
        if (!deviceAbsent[d]) ++present;
    return present;
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR index, LPMIDIOUTCAPSA caps, UINT size) {
    UINT device = 0;
    if (!fromTableIndex(index, device)) return MMSYSERR_BADDEVICEID;
    if (!caps) return MMSYSERR_INVALPARAM;
    MIDIOUTCAPSA full = {};
    full.wMid = 0xFF;
    full.wPid = 1;
    full.vDriverVersion = 0x0100;
    deviceName(device, full.szPname);
    full.wTechnology = MOD_MIDIPORT;
    full.wChannelMask = 0xFFFF;
    std::memcpy(caps, &full, size < sizeof full ? size : sizeof full);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR index, LPMIDIOUTCAPSW caps, UINT size) {
    UINT device = 0;
    if (!fromTableIndex(index, device)) return MMSYSERR_BADDEVICEID;
    if (!caps) return MMSYSERR_INVALPARAM;
    MIDIOUTCAPSW full = {};
    full.wMid = 0xFF;
    full.wPid = 1;
    full.vDriverVersion = 0x0100;
    char name[MAXPNAMELEN];
    deviceName(device, name);
    for (UINT i = 0; i < MAXPNAMELEN; ++i)
        full.szPname[i] = static_cast<WCHAR>(name[i]);
    full.wTechnology = MOD_MIDIPORT;
    full.wChannelMask = 0xFFFF;
    std::memcpy(caps, &full, size < sizeof full ? size : sizeof full);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT handle, UINT index, DWORD_PTR /*callback*/,
                            DWORD_PTR /*instance*/, DWORD /*flags*/) {
    char line[64];
    MMRESULT result = MMSYSERR_NOERROR;
    UINT device = index;
    // The slow open blocks only its own caller.
    if (fromTableIndex(index, device) && deviceOpenDelay[device])
        Sleep(static_cast<DWORD>(deviceOpenDelay[device]));
    AcquireSRWLockExclusive(&stateLock);
    device = index;
    if (!handle)
        result = MMSYSERR_INVALPARAM;
    else if (!fromTableIndex(index, device))
        result = MMSYSERR_BADDEVICEID;
    else if (deviceOpen[device])
        result = MMSYSERR_ALLOCATED; // one client per port, as most drivers have it
    if (result == MMSYSERR_NOERROR) {
        deviceOpen[device] = true;
        *handle =
            reinterpret_cast<HMIDIOUT>(kHandleBase + generation[device] * kMaxDevices + device);
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
    // The slow cable blocks only its own caller, not the other devices.
    const UINT_PTR value = reinterpret_cast<UINT_PTR>(handle);
    if (value >= kHandleBase && deviceDelay[(value - kHandleBase) % kMaxDevices])
        Sleep(static_cast<DWORD>(deviceDelay[(value - kHandleBase) % kMaxDevices]));
    AcquireSRWLockExclusive(&stateLock);
    UINT device = 0;
    if (toDevice(handle, device) && deviceAbsent[device]) {
        result = MMSYSERR_NODRIVER;
        std::snprintf(line, sizeof line, "send - error %u %08lx", result,
                      static_cast<unsigned long>(message));
    } else if (toDevice(handle, device) && deviceNotReady[device] > 0) {
        InterlockedDecrement(&deviceNotReady[device]);
        result = MIDIERR_NOTREADY;
        std::snprintf(line, sizeof line, "notready %u", device);
    } else if (toDevice(handle, device)) {
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

// The test controls (see the top of the file).
extern "C" int WINAPI qrRecordingSetPresent(UINT device, BOOL present) {
    if (device >= kMaxDevices) return 0;
    AcquireSRWLockExclusive(&stateLock);
    if (present && deviceAbsent[device]) {
        // Plugged back: a new connection, free to open.
        ++generation[device];
        deviceOpen[device] = false;
    }
    InterlockedExchange(&deviceAbsent[device], present ? 0 : 1);
    ReleaseSRWLockExclusive(&stateLock);
    return 1;
}

extern "C" int WINAPI qrRecordingSetDelay(UINT device, DWORD milliseconds) {
    if (device >= kMaxDevices) return 0;
    InterlockedExchange(&deviceDelay[device], static_cast<LONG>(milliseconds));
    return 1;
}

extern "C" int WINAPI qrRecordingSetNotReady(UINT device, DWORD count) {
    if (device >= kMaxDevices) return 0;
    InterlockedExchange(&deviceNotReady[device], static_cast<LONG>(count));
    return 1;
}

extern "C" int WINAPI qrRecordingSetOpenDelay(UINT device, DWORD milliseconds) {
    if (device >= kMaxDevices) return 0;
    InterlockedExchange(&deviceOpenDelay[device], static_cast<LONG>(milliseconds));
    return 1;
}
