#include "tests/support/recording_midi.h"

#include <cstring>

namespace testing_midi {
namespace {

// Handles are device number + 1 disguised as pointers; 0 stays the null handle.
HMIDIOUT toHandle(int device) { return reinterpret_cast<HMIDIOUT>(static_cast<std::uintptr_t>(device + 1)); }
int toDevice(HMIDIOUT handle) { return static_cast<int>(reinterpret_cast<std::uintptr_t>(handle)) - 1; }

template <typename Caps, typename Char>
MMRESULT fillCaps(UINT_PTR device, Caps* caps, UINT size) {
    Recorder& r = Recorder::instance();
    std::lock_guard g(r.lock);
    if (device >= r.names.size() || !caps || size < sizeof(Caps)) return MMSYSERR_BADDEVICEID;
    if (static_cast<int>(device) == r.capsFailDevice) {
        std::memset(static_cast<void*>(caps), 0x5A, sizeof(Caps));  // garbage, as a failed driver may leave it
        return MMSYSERR_NODRIVER;
    }
    std::memset(static_cast<void*>(caps), 0, sizeof(Caps));
    caps->wMid = 1;
    caps->wTechnology = MOD_MIDIPORT;
    const std::u16string& name = r.names[device];
    for (std::size_t i = 0; i < name.size() && i + 1 < MAXPNAMELEN; ++i)
        caps->szPname[i] = static_cast<Char>(name[i]);
    return MMSYSERR_NOERROR;
}

} // namespace

Recorder& Recorder::instance() {
    static Recorder recorder;
    return recorder;
}

void Recorder::reset(std::vector<std::u16string> deviceNames) {
    std::lock_guard g(lock);
    names = std::move(deviceNames);
    open.assign(names.size(), false);
    sent.clear();
    log.clear();
    openFails = false;
    capsFailDevice = -1;
}

std::vector<SentMessage> Recorder::messages() const {
    std::lock_guard g(const_cast<std::mutex&>(lock));
    return sent;
}

std::vector<Call> Recorder::calls() const {
    std::lock_guard g(const_cast<std::mutex&>(lock));
    return log;
}

int Recorder::openHandles() const {
    std::lock_guard g(const_cast<std::mutex&>(lock));
    int count = 0;
    for (bool isOpen : open) count += isOpen ? 1 : 0;
    return count;
}

void Recorder::clearLog() {
    std::lock_guard g(lock);
    sent.clear();
    log.clear();
}

} // namespace testing_midi

using testing_midi::Recorder;

extern "C" {

UINT WINAPI midiOutGetNumDevs(void) {
    Recorder& r = Recorder::instance();
    std::lock_guard g(r.lock);
    return static_cast<UINT>(r.names.size());
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR device, MIDIOUTCAPSA* caps, UINT size) {
    return testing_midi::fillCaps<MIDIOUTCAPSA, CHAR>(device, caps, size);
}

MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR device, MIDIOUTCAPSW* caps, UINT size) {
    return testing_midi::fillCaps<MIDIOUTCAPSW, WCHAR>(device, caps, size);
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT handle, UINT device, DWORD_PTR, DWORD_PTR, DWORD) {
    Recorder& r = Recorder::instance();
    std::lock_guard g(r.lock);
    r.log.push_back({"open", static_cast<int>(device)});
    if (!handle) return MMSYSERR_INVALPARAM;
    if (device >= r.names.size()) return MMSYSERR_BADDEVICEID;
    if (r.openFails || r.open[device]) return MMSYSERR_ALLOCATED;
    r.open[device] = true;
    *handle = testing_midi::toHandle(static_cast<int>(device));
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT handle, DWORD message) {
    Recorder& r = Recorder::instance();
    std::lock_guard g(r.lock);
    const int device = testing_midi::toDevice(handle);
    if (device < 0 || device >= static_cast<int>(r.open.size()) || !r.open[device])
        return MMSYSERR_INVALHANDLE;
    r.log.push_back({"send", device});
    r.sent.push_back({device, message});
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT handle) {
    Recorder& r = Recorder::instance();
    std::lock_guard g(r.lock);
    const int device = testing_midi::toDevice(handle);
    if (device < 0 || device >= static_cast<int>(r.open.size()) || !r.open[device])
        return MMSYSERR_INVALHANDLE;
    r.open[device] = false;
    r.log.push_back({"close", device});
    return MMSYSERR_NOERROR;
}

} // extern "C"
