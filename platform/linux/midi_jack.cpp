// JACK MIDI output: each open port is a JACK client of its own with one MIDI output port wired
// to the receiver. Senders put whole messages into a lock-free queue; the client's process
// callback moves them into the port buffer of the next cycle. Counters of the cycles run and
// the bytes taken tell the sending side what has left, so a close can wait until everything
// accepted was delivered and a send to a server that stopped cycling gives up instead of hanging.
#include "platform/linux/midi_services.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

namespace qr::midi_services {
namespace {

using midi_detail::isOwnPort;
using midi_detail::kClientName;
using midi_detail::ShortMessage;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kPortName = "MIDI Out";
// Room for about a thousand messages of one length byte and three message bytes: twenty full
// refreshes, and still small enough that a stalled server is noticed after one wait.
constexpr std::size_t kQueueBytes = 4096;
// A server that has not run a cycle for this long is taken to be stalled.
constexpr Clock::duration kStallTime = 1s;
// A new connection reaches the process cycle with the graph of a later cycle; until then
// (a few cycles at most) messages wait in the queue instead of leaving by an unconnected port.
constexpr int kConnectCycles = 64;
// How often a sending port looks whether its receiver is still connected.
constexpr Clock::duration kConnectionCheckInterval = 100ms;

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

struct ClientCloser {
    void operator()(jack_client_t* client) const { jack_client_close(client); }
};
using Client = std::unique_ptr<jack_client_t, ClientCloser>;

struct QueueFree {
    void operator()(jack_ringbuffer_t* queue) const { jack_ringbuffer_free(queue); }
};
using Queue = std::unique_ptr<jack_ringbuffer_t, QueueFree>;

Client openClient() {
    return Client(jack_client_open(std::string(kClientName).c_str(), JackNoStartServer, nullptr));
}

class JackPort final : public OutputPort {
  public:
    static OpenResult open(const std::string& target);

    JackPort(const JackPort&) = delete;
    JackPort& operator=(const JackPort&) = delete;
    ~JackPort() override {
        waitUntilStarted();
        waitUntilSent();
        // The client goes first: closing it stops the process callback that reads the queue.
        client.reset();
    }

    MMRESULT send(const ShortMessage& message) override {
        if (gone.load() || receiverLeft()) return MMSYSERR_NODRIVER;
        const std::size_t cost = 1 + message.size;
        // A stalled server may run again: the caller can try later and lose nothing.
        if (!waitForRoom(cost)) return gone.load() ? MMSYSERR_NODRIVER : MIDIERR_NOTREADY;
        unsigned char record[4] = {static_cast<unsigned char>(message.size)};
        std::memcpy(record + 1, message.bytes, message.size);
        // The reader sees the record only once all of it is in.
        jack_ringbuffer_write(queue.get(), reinterpret_cast<const char*>(record), cost);
        written += cost;
        return MMSYSERR_NOERROR;
    }

  private:
    JackPort() = default;

    static void shutdown(void* self) { static_cast<JackPort*>(self)->gone.store(true); }

    // Real-time thread: no allocation, no lock. What does not fit into this cycle's buffer
    // stays queued for the next.
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<JackPort*>(arg);
        void* buffer = jack_port_get_buffer(self->port, frames);
        jack_midi_clear_buffer(buffer);
        if (!self->connected) {
            self->connected =
                jack_port_connected(self->port) > 0 || ++self->cyclesUnconnected >= kConnectCycles;
            if (!self->connected) {
                self->cycles.fetch_add(1, std::memory_order_release);
                return 0;
            }
        }
        std::uint64_t moved = 0;
        unsigned char record[4];
        for (;;) {
            const std::size_t available = jack_ringbuffer_read_space(self->queue.get());
            if (available == 0) break;
            jack_ringbuffer_peek(self->queue.get(), reinterpret_cast<char*>(record), 1);
            const std::size_t size = record[0];
            if (size == 0 || size > 3 || available < 1 + size) break;
            jack_ringbuffer_peek(self->queue.get(), reinterpret_cast<char*>(record), 1 + size);
            if (jack_midi_event_write(buffer, 0, record + 1, size) != 0) break;
            jack_ringbuffer_read_advance(self->queue.get(), 1 + size);
            moved += 1 + size;
        }
        if (moved) self->taken.fetch_add(moved, std::memory_order_release);
        self->cycles.fetch_add(1, std::memory_order_release);
        return 0;
    }

    // While the server cycles the queue empties within a few cycles, so waiting is right. A
    // server that is gone or has not cycled for kStallTime will not empty it; after one such
    // wait, later sends answer at once until the server runs another cycle.
    bool waitForRoom(std::size_t cost) {
        if (gone.load()) return false;
        if (jack_ringbuffer_write_space(queue.get()) >= cost) return roomFound();
        std::uint64_t seen = cycles.load(std::memory_order_acquire);
        if (stalledAt == seen) return false;
        Clock::time_point deadline = Clock::now() + kStallTime;
        for (;;) {
            std::this_thread::sleep_for(1ms);
            if (gone.load()) return false;
            if (jack_ringbuffer_write_space(queue.get()) >= cost) return roomFound();
            const std::uint64_t now = cycles.load(std::memory_order_acquire);
            if (now != seen) {
                seen = now;
                deadline = Clock::now() + kStallTime;
            } else if (Clock::now() >= deadline) {
                stalledAt = seen;
                return false;
            }
        }
    }
    // A receiver that went away took its connection along: this port reaches nobody now. The
    // connection shows in our view of the graph a little after the open made it, and asking
    // is slow while the server is stopped, so it is asked now and then.
    bool receiverLeft() {
        const Clock::time_point now = Clock::now();
        if (now - lastConnectionCheck < kConnectionCheckInterval) return false;
        lastConnectionCheck = now;
        if (jack_port_connected(port) > 0) {
            seenConnected = true;
            return false;
        }
        return seenConnected;
    }

    bool roomFound() {
        stalledAt.reset();
        return true;
    }

    // libjack stops a client's thread by cancelling it, and a thread cancelled while it is
    // still starting leaves a lock of libjack's held for good: every other client of the
    // process then hangs. So a client is closed only once its thread has run a cycle, unless
    // the server does not cycle at all.
    void waitUntilStarted() {
        const Clock::time_point deadline = Clock::now() + kStallTime;
        while (cycles.load(std::memory_order_acquire) == 0 && !gone.load() &&
               Clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
    }

    // Before the port goes, everything accepted must have reached the receiver: once the queue
    // is empty, two more cycles, since the cycle that took the last bytes (receivers included)
    // has ended when the one after it has run. A server that stalled earlier may run again, so
    // it gets its chance too; one that does not cycle for kStallTime loses what is queued.
    void waitUntilSent() {
        if (written == 0) return;
        std::optional<std::uint64_t> emptiedAt;
        std::uint64_t seen = cycles.load(std::memory_order_acquire);
        Clock::time_point deadline = Clock::now() + kStallTime;
        while (!gone.load()) {
            const std::uint64_t now = cycles.load(std::memory_order_acquire);
            if (!emptiedAt && taken.load(std::memory_order_acquire) == written) emptiedAt = now;
            if (emptiedAt && now >= *emptiedAt + 2) return;
            if (now != seen) {
                seen = now;
                deadline = Clock::now() + kStallTime;
            } else if (Clock::now() >= deadline) {
                return;
            }
            std::this_thread::sleep_for(1ms);
        }
    }

    // Declared before the client so that it is freed after the client has closed.
    Queue queue;
    Client client;
    jack_port_t* port = nullptr;
    std::atomic<bool> gone{false};
    std::atomic<std::uint64_t> cycles{0};   // process callbacks completed
    std::atomic<std::uint64_t> taken{0};    // bytes moved from the queue into port buffers
    std::uint64_t written = 0;              // bytes put into the queue (sending thread only)
    bool connected = false;                  // the cycles see the connection (JACK thread only)
    int cyclesUnconnected = 0;               // cycles run before they did (JACK thread only)
    bool seenConnected = false;              // the receiver's connection was seen (sending thread)
    Clock::time_point lastConnectionCheck{}; // (sending thread)
    std::optional<std::uint64_t> stalledAt; // gave up waiting while at this cycle count
};

OpenResult JackPort::open(const std::string& target) {
    std::unique_ptr<JackPort> self(new JackPort);
    self->queue.reset(jack_ringbuffer_create(kQueueBytes));
    if (!self->queue) return {MMSYSERR_NOMEM, nullptr};
    self->client = openClient();
    jack_client_t* client = self->client.get();
    if (!client) return {MMSYSERR_NODRIVER, nullptr};
    const jack_port_t* receiver = jack_port_by_name(client, target.c_str());
    if (!receiver || !(jack_port_flags(receiver) & JackPortIsInput) ||
        std::strcmp(jack_port_type(receiver), JACK_DEFAULT_MIDI_TYPE) != 0)
        return {MMSYSERR_BADDEVICEID, nullptr};
    self->port = jack_port_register(client, kPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (!self->port) return {MMSYSERR_ERROR, nullptr};
    jack_on_shutdown(client, &JackPort::shutdown, self.get());
    if (jack_set_process_callback(client, &JackPort::process, self.get()) != 0 ||
        jack_activate(client) != 0 ||
        jack_connect(client, jack_port_name(self->port), target.c_str()) != 0)
        return {MMSYSERR_ERROR, nullptr};
    return {MMSYSERR_NOERROR, std::move(self)};
}

class JackService final : public Service {
  public:
    std::vector<std::string> listPorts() override {
        std::vector<std::string> names;
        const Client client = openClient();
        if (!client) return names;
        const char** ports =
            jack_get_ports(client.get(), nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
        for (const char** name = ports; name && *name; ++name)
            if (!isOwnPort(*name)) names.emplace_back(*name);
        if (ports) jack_free(ports);
        return names;
    }

    OpenResult open(const std::string& portName) override { return JackPort::open(portName); }
};

} // namespace

std::unique_ptr<Service> makeJackService() {
    if (!jackServerRunning()) return nullptr;
    return std::make_unique<JackService>();
}

} // namespace qr::midi_services
