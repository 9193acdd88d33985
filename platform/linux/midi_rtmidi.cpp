// The Windows MIDI output calls over RtMidi: the ALSA sequencer where the machine has one, else
// a running JACK server, else no devices at all. Nothing here throws, aborts or prints: both
// services are probed before RtMidi touches them, and RtMidi reports through a callback.
#include "platform/winmm.h"
#include "platform/linux/midi_detail.h"

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qr::midi_detail;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kPortName = "MIDI Out";
constexpr const char* kCycleClientName = "Quorvel Remote sync";

enum class Service { None, Alsa, Jack };

// alsa-lib prints its own complaint when the sequencer cannot be opened, so try the device first.
bool alsaSequencerUsable() {
    const int fd = ::open("/dev/snd/seq", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

// A live server accepts on its socket; the file a killed server leaves behind refuses.
bool socketAccepts(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool accepted =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
        errno == EAGAIN;
    ::close(fd);
    return accepted;
}

// libjack prints when no server answers, so look for the server's request socket first. A
// JACK 2 server listens on /dev/shm/jack_<server>_<uid>_0, or jack_<server>_0 when it is
// shared between users; the server name comes from the environment as libjack takes it.
bool jackServerRunning() {
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    const std::string base = std::string("/dev/shm/jack_") + (server ? server : "default");
    if (std::getenv("JACK_PROMISCUOUS_SERVER")) return socketAccepts(base + "_0");
    return socketAccepts(base + "_" + std::to_string(::getuid()) + "_0");
}

Service chooseService() {
    if (alsaSequencerUsable()) return Service::Alsa;
    if (jackServerRunning()) return Service::Jack;
    return Service::None;
}

// RtMidi reports here instead of printing or throwing; any report fails the call in progress.
struct ErrorFlag {
    bool raised = false;
};

void raiseError(RtMidiError::Type type, const std::string&, void* flag) {
    if (type != RtMidiError::DEBUG_WARNING) static_cast<ErrorFlag*>(flag)->raised = true;
}

std::unique_ptr<RtMidiOut> makeOutput(Service service, ErrorFlag& errors) {
    const RtMidi::Api api = service == Service::Alsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK;
    auto out = std::make_unique<RtMidiOut>(api, std::string(kClientName));
    out->setErrorCallback(&raiseError, &errors);
    return out;
}

struct Port {
    unsigned index; // RtMidi's port number
    std::string name;
};

// The devices: every port RtMidi offers for output except our own.
std::vector<Port> listPorts(RtMidiOut& out) {
    std::vector<Port> ports;
    const unsigned count = out.getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        std::string name = out.getPortName(i);
        if (name.empty() || isOwnPort(name)) continue;
        ports.push_back({i, std::move(name)});
    }
    return ports;
}

std::vector<std::string> deviceNames() {
    const Service service = chooseService();
    if (service == Service::None) return {};
    ErrorFlag errors;
    const auto out = makeOutput(service, errors);
    std::vector<std::string> names;
    for (Port& port : listPorts(*out))
        names.push_back(std::move(port.name));
    return names;
}

// A second, never activated client that watches the server: its cycle counter (the frame time
// at the start of the current cycle, one period more per cycle) and whether it has gone away.
class JackCycles {
  public:
    JackCycles() = default;
    JackCycles(const JackCycles&) = delete;
    JackCycles& operator=(const JackCycles&) = delete;
    ~JackCycles() {
        if (client) jack_client_close(client);
    }

    bool open() {
        client = jack_client_open(kCycleClientName, JackNoStartServer, nullptr);
        if (!client) return false;
        jack_on_shutdown(
            client, [](void* gone) { static_cast<std::atomic<bool>*>(gone)->store(true); }, &gone);
        return true;
    }
    bool serverGone() const { return gone.load(); }
    jack_nframes_t cycleStart() const { return jack_last_frame_time(client); }
    jack_nframes_t period() const {
        return std::max<jack_nframes_t>(1, jack_get_buffer_size(client));
    }
    // How long `periods` cycles take, but at least 50 ms and at most one second.
    Clock::duration periodsDuration(unsigned periods) const {
        const double rate = std::max<jack_nframes_t>(1000, jack_get_sample_rate(client));
        const auto wanted = std::chrono::duration<double>(periods * double(period()) / rate);
        return std::clamp<Clock::duration>(std::chrono::duration_cast<Clock::duration>(wanted),
                                           50ms, 1s);
    }

  private:
    jack_client_t* client = nullptr;
    std::atomic<bool> gone{false};
};

// RtMidi's JACK sender queues into a 16 KiB ring buffer that its process callback empties once
// per cycle, and spins until there is room: with the server gone that would be forever. We keep
// our own account of what may still be queued and stay well below the buffer's size.
constexpr std::size_t kQueueBudget = 8192;

class QueuedBytes {
  public:
    // Bytes written while the server was in cycle `cycle` have left once a full cycle has run
    // after it; three periods of age leaves a cycle's margin.
    std::size_t pending(jack_nframes_t now, jack_nframes_t period) const {
        std::size_t total = 0;
        for (const Entry& entry : entries)
            if (entry.bytes && now - entry.cycle < 3 * period) total += entry.bytes;
        return total;
    }

    void add(jack_nframes_t cycle, std::size_t bytes, jack_nframes_t period) {
        Entry* target = nullptr;
        for (Entry& entry : entries)
            if (entry.bytes && entry.cycle == cycle) target = &entry;
        if (!target) {
            // Reuse the oldest entry; bytes that may still be queued move into the new one.
            target = &*std::max_element(entries.begin(), entries.end(), [&](auto& a, auto& b) {
                return age(a, cycle) < age(b, cycle);
            });
            if (!target->bytes || cycle - target->cycle >= 3 * period) target->bytes = 0;
            target->cycle = cycle;
        }
        target->bytes += bytes;
    }

  private:
    struct Entry {
        jack_nframes_t cycle = 0;
        std::size_t bytes = 0;
    };
    static jack_nframes_t age(const Entry& entry, jack_nframes_t now) {
        return entry.bytes ? now - entry.cycle : ~jack_nframes_t{0};
    }
    std::array<Entry, 4> entries{};
};

struct MidiOutHandle {
    Service service = Service::None;
    ErrorFlag errors;
    // Serialises sends: RtMidi's JACK queue takes one writer at a time.
    std::mutex lock;
    unsigned char runningStatus = 0;

    // JACK only.
    JackCycles cycles;
    QueuedBytes queued;
    std::optional<jack_nframes_t> lastWriteCycle;
    std::optional<jack_nframes_t> stalledAt; // the server stopped cycling at this cycle

    // Declared last so it goes first: the port closes while the cycle client still exists.
    std::unique_ptr<RtMidiOut> out;
};

MidiOutHandle* fromHandle(HMIDIOUT handle) {
    return reinterpret_cast<MidiOutHandle*>(handle);
}

MMRESULT sendOverJack(MidiOutHandle& h, const ShortMessage& message) {
    const std::size_t cost = sizeof(int) + message.size; // RtMidi's length prefix + bytes
    // While the server runs, waiting for room is right: it is emptied within three cycles. A
    // server that is gone or has not cycled for a second will not empty it.
    jack_nframes_t seen = h.cycles.cycleStart();
    Clock::time_point deadline = Clock::now() + 1s;
    for (;;) {
        if (h.cycles.serverGone()) return MMSYSERR_NODRIVER;
        const jack_nframes_t now = h.cycles.cycleStart();
        if (h.queued.pending(now, h.cycles.period()) + cost <= kQueueBudget) break;
        if (h.stalledAt == now) return MMSYSERR_ERROR; // gave up on this cycle before
        if (now != seen) {
            seen = now;
            deadline = Clock::now() + 1s;
        } else if (Clock::now() >= deadline) {
            h.stalledAt = now;
            return MMSYSERR_ERROR;
        }
        std::this_thread::sleep_for(1ms);
    }
    h.stalledAt.reset();
    h.out->sendMessage(message.bytes, message.size);
    // The cycle seen after the write: the process callback of the next one takes the bytes.
    const jack_nframes_t cycle = h.cycles.cycleStart();
    h.queued.add(cycle, cost, h.cycles.period());
    h.lastWriteCycle = cycle;
    return h.errors.raised ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
}

// Before the JACK port goes, everything written must have left: the cycle after the last write
// has taken it from the queue, and the following cycle starts only after all clients, the
// receiver included, finished that one. (RtMidi's own close waits for one process callback,
// which can be one that had already looked at the queue before the last write.)
void waitUntilSent(MidiOutHandle& h) {
    if (!h.lastWriteCycle || h.stalledAt) return;
    const Clock::time_point deadline = Clock::now() + h.cycles.periodsDuration(6);
    while (!h.cycles.serverGone() &&
           h.cycles.cycleStart() - *h.lastWriteCycle < 2 * h.cycles.period() &&
           Clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
}

template <typename Caps, typename Copy>
MMRESULT getCaps(UINT_PTR deviceId, Caps* caps, UINT size, Copy copyName) noexcept {
    if (!caps) return MMSYSERR_INVALPARAM;
    try {
        const std::vector<std::string> names = deviceNames();
        if (deviceId >= names.size()) return MMSYSERR_BADDEVICEID;
        Caps filled{};
        filled.vDriverVersion = 0x0100;
        filled.wTechnology = MOD_MIDIPORT;
        filled.wChannelMask = 0xFFFF;
        copyName(filled.szPname, cutName(names[deviceId], MAXPNAMELEN - 1));
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
        return static_cast<UINT>(deviceNames().size());
    } catch (...) {
        return 0;
    }
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR uDeviceID, MIDIOUTCAPSA* pmoc, UINT cbmoc) {
    return getCaps(uDeviceID, pmoc, cbmoc, [](CHAR* field, const std::string& name) {
        std::memcpy(field, name.c_str(), name.size() + 1);
    });
}

MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR uDeviceID, MIDIOUTCAPSW* pmoc, UINT cbmoc) {
    return getCaps(uDeviceID, pmoc, cbmoc, [](WCHAR* field, const std::string& name) {
        // At most as many UTF-16 units as UTF-8 bytes, so the cut name still fits.
        const std::u16string wide = toUtf16(name);
        std::copy(wide.begin(), wide.end(), field);
        field[wide.size()] = u'\0';
    });
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR, DWORD_PTR, DWORD fdwOpen) {
    if (!phmo) return MMSYSERR_INVALPARAM;
    *phmo = nullptr;
    // No notifications are delivered, so no callback may be asked for.
    if (fdwOpen != CALLBACK_NULL) return MMSYSERR_INVALPARAM;
    try {
        const Service service = chooseService();
        if (service == Service::None) return MMSYSERR_BADDEVICEID;
        auto handle = std::make_unique<MidiOutHandle>();
        handle->service = service;
        if (service == Service::Jack && !handle->cycles.open()) return MMSYSERR_NODRIVER;
        handle->out = makeOutput(service, handle->errors);
        if (handle->errors.raised) return MMSYSERR_NODRIVER;
        const std::vector<Port> ports = listPorts(*handle->out);
        if (uDeviceID >= ports.size()) return MMSYSERR_BADDEVICEID;
        handle->out->openPort(ports[uDeviceID].index, kPortName);
        if (handle->errors.raised || !handle->out->isPortOpen()) return MMSYSERR_ERROR;
        *phmo = reinterpret_cast<HMIDIOUT>(handle.release());
        return MMSYSERR_NOERROR;
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
        h->errors.raised = false;
        if (h->service == Service::Jack) return sendOverJack(*h, message);
        // The ALSA sender drains its output before returning: the message is out.
        h->out->sendMessage(message.bytes, message.size);
        return h->errors.raised ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
    } catch (...) {
        return MMSYSERR_ERROR;
    }
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo) {
    MidiOutHandle* h = fromHandle(hmo);
    if (!h) return MMSYSERR_INVALHANDLE;
    try {
        std::lock_guard<std::mutex> guard(h->lock);
        if (h->service == Service::Jack) waitUntilSent(*h);
    } catch (...) {
        // Waiting is a courtesy to the receiver; the port closes regardless.
    }
    delete h;
    return MMSYSERR_NOERROR;
}

} // extern "C"
