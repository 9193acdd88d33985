#include "tests/support/recording_midi.h"

#include <cstring>
#include <thread>

namespace testing_midi {
namespace {

std::uintptr_t fromHandle(HMIDIOUT handle) { return reinterpret_cast<std::uintptr_t>(handle); }

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
    handles.clear();
    sent.clear();
    log.clear();
    openFails = false;
    capsFailDevice = -1;
    sendDelay = std::chrono::microseconds(0);
    notReady = false;
    notReadyCount = 0;
    beforeOpen = nullptr;
    stampTimes = false;
}

void Recorder::setDevices(std::vector<std::u16string> deviceNames) {
    std::lock_guard g(lock);
    names = std::move(deviceNames);
}

void Recorder::failOpen(bool fail) {
    std::lock_guard g(lock);
    openFails = fail;
}

void Recorder::failCapsQuery(int device) {
    std::lock_guard g(lock);
    capsFailDevice = device;
}

void Recorder::setSendDelay(std::chrono::microseconds delay) {
    std::lock_guard g(lock);
    sendDelay = delay;
}

void Recorder::setNotReady(bool answer) {
    std::lock_guard g(lock);
    notReady = answer;
}

void Recorder::setBeforeOpen(void (*hook)()) {
    std::lock_guard g(lock);
    beforeOpen = hook;
}

void Recorder::setTimeStamps(bool stamp) {
    std::lock_guard g(lock);
    stampTimes = stamp;
}

std::vector<SentMessage> Recorder::messages() const {
    std::lock_guard g(lock);
    return sent;
}

std::vector<SentMessage> Recorder::messagesTo(const std::u16string& deviceName) const {
    std::lock_guard g(lock);
    std::vector<SentMessage> matching;
    for (const SentMessage& message : sent)
        if (message.name == deviceName) matching.push_back(message);
    return matching;
}

std::vector<Call> Recorder::calls() const {
    std::lock_guard g(lock);
    return log;
}

int Recorder::openHandles() const {
    std::lock_guard g(lock);
    return static_cast<int>(handles.size());
}

bool Recorder::isOpen(const std::u16string& deviceName) const {
    std::lock_guard g(lock);
    return isOpenLocked(deviceName);
}

int Recorder::notReadyAnswers() const {
    std::lock_guard g(lock);
    return notReadyCount;
}

void Recorder::clearLog() {
    std::lock_guard g(lock);
    sent.clear();
    log.clear();
}

std::vector<SentMessage> Recorder::takeMessages() {
    std::lock_guard g(lock);
    std::vector<SentMessage> taken;
    taken.swap(sent);
    log.clear();
    return taken;
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
    void (*hook)() = nullptr;
    {
        std::lock_guard g(r.lock);
        hook = r.beforeOpen;
    }
    if (hook) hook();
    std::lock_guard g(r.lock);
    if (!handle) return MMSYSERR_INVALPARAM;
    const std::u16string name = device < r.names.size() ? r.names[device] : std::u16string();
    r.log.push_back({"open", static_cast<int>(device), name});
    if (device >= r.names.size()) return MMSYSERR_BADDEVICEID;
    if (r.openFails || r.isOpenLocked(name)) return MMSYSERR_ALLOCATED;
    const std::uintptr_t id = r.nextHandle++;
    r.handles[id] = {static_cast<int>(device), name};
    *handle = reinterpret_cast<HMIDIOUT>(id);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT handle, DWORD message) {
    Recorder& r = Recorder::instance();
    std::chrono::microseconds delay{0};
    {
        std::lock_guard g(r.lock);
        if (!r.handles.count(testing_midi::fromHandle(handle))) {
            r.log.push_back({"rejected", -1, u""});
            return MMSYSERR_INVALHANDLE;
        }
        if (r.notReady) {
            ++r.notReadyCount;
            return MIDIERR_NOTREADY;
        }
        delay = r.sendDelay;
    }
    // A slow driver: the time passes inside the call, as it would on a real cable.
    if (delay.count() > 0) std::this_thread::sleep_for(delay);
    std::lock_guard g(r.lock);
    const auto found = r.handles.find(testing_midi::fromHandle(handle));
    if (found == r.handles.end()) return MMSYSERR_INVALHANDLE;
    r.log.push_back({"send", found->second.first, found->second.second});
    r.sent.push_back({found->second.first, found->second.second, message,
                      r.stampTimes ? std::chrono::steady_clock::now()
                                   : std::chrono::steady_clock::time_point{}});
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT handle) {
    Recorder& r = Recorder::instance();
    std::lock_guard g(r.lock);
    const auto found = r.handles.find(testing_midi::fromHandle(handle));
    if (found == r.handles.end()) return MMSYSERR_INVALHANDLE;
    r.log.push_back({"close", found->second.first, found->second.second});
    r.handles.erase(found);
    return MMSYSERR_NOERROR;
}

} // extern "C"
