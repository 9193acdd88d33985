// The Windows MIDI output calls on Linux: the ALSA sequencer where the machine has one, else a
// running JACK server, else no devices at all. Nothing here throws, aborts or prints.
//
// Like the system's own device table, device numbers index the list as it was last counted:
// midiOutGetNumDevs looks afresh, and the names and opening that follow refer to that count,
// so a number means the port its caller saw even if ports came or went in between.
#include "platform/winmm.h"
#include "platform/midi_outputs.h"
#include "platform/linux/midi_detail.h"
#include "platform/linux/midi_services.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace qr::midi_detail;
using namespace qr::midi_services;

std::unique_ptr<Service> chooseService() {
    if (auto alsa = makeAlsaService()) return alsa;
    return makeJackService();
}

class DeviceTable {
  public:
    // A fresh look at the ports, kept for the calls that follow.
    std::size_t count() {
        const std::unique_ptr<Service> service = chooseService();
        std::vector<std::string> names;
        if (service) names = service->listPorts();
        std::lock_guard<std::mutex> guard(lock);
        counted = std::move(names);
        return counted->size();
    }

    // The name under `id` in the last count, counting first if nobody has; empty if none.
    std::optional<std::string> name(UINT_PTR id) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (counted) return nameLocked(id);
        }
        count();
        std::lock_guard<std::mutex> guard(lock);
        return nameLocked(id);
    }

  private:
    std::optional<std::string> nameLocked(UINT_PTR id) const {
        if (id >= counted->size()) return std::nullopt;
        return (*counted)[id];
    }

    std::mutex lock;
    std::optional<std::vector<std::string>> counted;
};

DeviceTable& deviceTable() {
    static DeviceTable table;
    return table;
}

struct MidiOutHandle {
    // Serialises sends and the close: a port takes one sender at a time.
    std::mutex lock;
    unsigned char runningStatus = 0;
    std::unique_ptr<OutputPort> port;
};

MidiOutHandle* fromHandle(HMIDIOUT handle) {
    return reinterpret_cast<MidiOutHandle*>(handle);
}

// Services open by name, so whatever happened to anyone's table since, this is that port.
MMRESULT openByName(const std::string& name, LPHMIDIOUT phmo) {
    const std::unique_ptr<Service> service = chooseService();
    if (!service) return MMSYSERR_NODRIVER;
    OpenResult opened = service->open(name);
    if (opened.result != MMSYSERR_NOERROR) return opened.result;
    auto handle = std::make_unique<MidiOutHandle>();
    handle->port = std::move(opened.port);
    *phmo = reinterpret_cast<HMIDIOUT>(handle.release());
    return MMSYSERR_NOERROR;
}

// The record the system would give for a port of this name.
template <typename Caps, typename Copy> Caps capsFor(const std::string& name, Copy copyName) {
    Caps filled{};
    filled.vDriverVersion = 0x0100;
    filled.wTechnology = MOD_MIDIPORT;
    filled.wChannelMask = 0xFFFF;
    copyName(filled.szPname, cutName(name, MAXPNAMELEN - 1));
    return filled;
}

void copyNarrowName(CHAR* field, const std::string& name) {
    std::memcpy(field, name.c_str(), name.size() + 1);
}

void copyWideName(WCHAR* field, const std::string& name) {
    // At most as many UTF-16 units as UTF-8 bytes, so the cut name still fits.
    const std::u16string wide = toUtf16(name);
    std::copy(wide.begin(), wide.end(), field);
    field[wide.size()] = u'\0';
}

template <typename Caps, typename Copy>
MMRESULT getCaps(UINT_PTR deviceId, Caps* caps, UINT size, Copy copyName) noexcept {
    if (!caps) return MMSYSERR_INVALPARAM;
    try {
        const std::optional<std::string> name = deviceTable().name(deviceId);
        if (!name) return MMSYSERR_BADDEVICEID;
        const Caps filled = capsFor<Caps>(*name, copyName);
        // Like the system, fill no more than the caller says it has room for.
        std::memcpy(static_cast<void*>(caps), &filled, std::min<std::size_t>(size, sizeof filled));
        return MMSYSERR_NOERROR;
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    } catch (...) {
        return MMSYSERR_ERROR;
    }
}

} // namespace

extern "C" {

UINT WINAPI midiOutGetNumDevs(void) {
    try {
        return static_cast<UINT>(deviceTable().count());
    } catch (...) {
        return 0;
    }
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR uDeviceID, MIDIOUTCAPSA* pmoc, UINT cbmoc) {
    return getCaps(uDeviceID, pmoc, cbmoc, copyNarrowName);
}

MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR uDeviceID, MIDIOUTCAPSW* pmoc, UINT cbmoc) {
    return getCaps(uDeviceID, pmoc, cbmoc, copyWideName);
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR, DWORD_PTR, DWORD fdwOpen) {
    if (!phmo) return MMSYSERR_INVALPARAM;
    *phmo = nullptr;
    // No notifications are delivered, so no callback may be asked for.
    if (fdwOpen != CALLBACK_NULL) return MMSYSERR_INVALPARAM;
    try {
        const std::optional<std::string> name = deviceTable().name(uDeviceID);
        if (!name) return MMSYSERR_BADDEVICEID;
        return openByName(*name, phmo);
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    } catch (...) {
        return MMSYSERR_ERROR;
    }
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT hmo, DWORD dwMsg) {
    MidiOutHandle* h = fromHandle(hmo);
    if (!h) return MMSYSERR_INVALHANDLE;
    try {
        std::lock_guard<std::mutex> guard(h->lock);
        const ShortMessage message = unpackShortMessage(dwMsg, h->runningStatus);
        if (message.size == 0) return MMSYSERR_INVALPARAM;
        return h->port->send(message);
    } catch (...) {
        return MMSYSERR_ERROR;
    }
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo) {
    MidiOutHandle* h = fromHandle(hmo);
    if (!h) return MMSYSERR_INVALHANDLE;
    {
        // Waits for a send in progress; the port's own close lets what it accepted leave.
        std::lock_guard<std::mutex> guard(h->lock);
        h->port.reset();
    }
    delete h;
    return MMSYSERR_NOERROR;
}

} // extern "C"

// The plug-in's own counting and opening: one look at the ports, and opening by full name, so
// neither depends on the table above, which any caller in the process may count anew.
namespace platform {

bool sameMidiOutput(const MidiOutput& a, const MidiOutput& b) { return a.name == b.name; }

std::vector<MidiOutput> countMidiOutputs() {
    const std::unique_ptr<Service> service = chooseService();
    std::vector<MidiOutput> outputs;
    if (!service) return outputs;
    for (std::string& name : service->listPorts()) {
        MidiOutput output;
        output.caps = capsFor<MIDIOUTCAPSA>(name, copyNarrowName);
        output.menuName = menuNameOf(capsFor<MIDIOUTCAPSW>(name, copyWideName));
        output.name = std::move(name);
        outputs.push_back(std::move(output));
    }
    return outputs;
}

MMRESULT openMidiOutput(const MidiOutput& counted, unsigned /*occurrence*/, HMIDIOUT* handle) {
    // Port names are unique on both services, so the name alone finds the device.
    if (!handle) return MMSYSERR_INVALPARAM;
    *handle = nullptr;
    try {
        return openByName(counted.name, handle);
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    } catch (...) {
        return MMSYSERR_ERROR;
    }
}

} // namespace platform
