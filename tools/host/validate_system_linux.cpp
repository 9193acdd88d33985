// The validator's MIDI receiver on Linux: a JACK client of the host's own with one MIDI input
// port, on the server the environment names (JACK_DEFAULT_SERVER), never starting one.

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "tools/host/validate_probes.h"

namespace qrhost {
namespace {

void quiet(const char*) {}

class JackMidiReceiver : public MidiReceiverProbe {
  public:
    ~JackMidiReceiver() override {
        if (client) jack_client_close(client);
        if (queue) jack_ringbuffer_free(queue);
    }

    std::string open() {
        // libjack prints its complaints when no server answers; the check reports instead.
        jack_set_error_function(&quiet);
        jack_set_info_function(&quiet);
        queue = jack_ringbuffer_create(1 << 20);
        if (!queue) return "no memory for the receiver's queue";
        const std::string name = "qrhost-validate-" + std::to_string(::getpid());
        jack_status_t status{};
        client = jack_client_open(name.c_str(), JackNoStartServer, &status);
        if (!client) {
            const char* server = std::getenv("JACK_DEFAULT_SERVER");
            return std::string("no JACK server reachable (server \"") +
                   (server ? server : "default") + "\")";
        }
        port = jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (!port) return "the JACK server refused a MIDI input port";
        if (jack_set_process_callback(client, &JackMidiReceiver::process, this) != 0 ||
            jack_set_xrun_callback(client, &JackMidiReceiver::overrun, this) != 0 ||
            jack_activate(client) != 0)
            return "the JACK client could not be activated";
        return {};
    }

    std::string portName() const override { return jack_port_name(port); }

    std::vector<Message> take(std::size_t count, int timeoutMs) override {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            collect();
            if (received.size() >= count || std::chrono::steady_clock::now() >= deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::vector<Message> out;
        out.swap(received);
        return out;
    }

    std::uint64_t overruns() const override { return xruns.load(); }

  private:
    static int overrun(void* self) {
        ++static_cast<JackMidiReceiver*>(self)->xruns;
        return 0;
    }

    // The JACK thread copies each event, size first, into the lock-free queue.
    static int process(jack_nframes_t frames, void* self) {
        auto* receiver = static_cast<JackMidiReceiver*>(self);
        void* buffer = jack_port_get_buffer(receiver->port, frames);
        const jack_nframes_t count = jack_midi_get_event_count(buffer);
        for (jack_nframes_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0 || event.size > 255) continue;
            const auto size = static_cast<unsigned char>(event.size);
            if (jack_ringbuffer_write_space(receiver->queue) < 1u + size) break;
            jack_ringbuffer_write(receiver->queue, reinterpret_cast<const char*>(&size), 1);
            jack_ringbuffer_write(receiver->queue, reinterpret_cast<const char*>(event.buffer),
                                  size);
        }
        return 0;
    }

    void collect() {
        unsigned char size = 0;
        while (jack_ringbuffer_read_space(queue) >= 1 &&
               jack_ringbuffer_peek(queue, reinterpret_cast<char*>(&size), 1) == 1 &&
               jack_ringbuffer_read_space(queue) >= 1u + size) {
            jack_ringbuffer_read_advance(queue, 1);
            Message message(size);
            jack_ringbuffer_read(queue, reinterpret_cast<char*>(message.data()), size);
            received.push_back(std::move(message));
        }
    }

    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    jack_ringbuffer_t* queue = nullptr;
    std::vector<Message> received;
    std::atomic<std::uint64_t> xruns{0};
};

} // namespace

std::unique_ptr<MidiReceiverProbe> MidiReceiverProbe::open(std::string& whyNot) {
    auto receiver = std::make_unique<JackMidiReceiver>();
    whyNot = receiver->open();
    if (!whyNot.empty()) return nullptr;
    return receiver;
}

MidiServiceHidden::MidiServiceHidden() {
    if (const char* value = std::getenv("JACK_DEFAULT_SERVER")) {
        hadValue = true;
        previous = value;
    }
    const std::string nowhere = "qrhost-no-server-" + std::to_string(::getpid());
    hidden = ::setenv("JACK_DEFAULT_SERVER", nowhere.c_str(), 1) == 0;
}

MidiServiceHidden::~MidiServiceHidden() {
    if (!hidden) return;
    if (hadValue)
        ::setenv("JACK_DEFAULT_SERVER", previous.c_str(), 1);
    else
        ::unsetenv("JACK_DEFAULT_SERVER");
}

std::optional<std::uint64_t> residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t size = 0, resident = 0;
    if (!(statm >> size >> resident)) return std::nullopt;
    return resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

} // namespace qrhost
