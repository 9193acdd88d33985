#include "platform/linux/jack_midi_receiver.h"

#include <jack/midiport.h>

#include <cstdlib>
#include <thread>

namespace qr {

JackMidiReceiver::~JackMidiReceiver() {
    // The client goes first: closing it stops the process callback that fills the queue.
    if (client) jack_client_close(client);
    if (queue) jack_ringbuffer_free(queue);
}

std::string JackMidiReceiver::open(const std::string& clientName, const std::string& portName,
                                   bool exactName) {
    queue = jack_ringbuffer_create(1 << 20);
    if (!queue) return "no memory for the receiver's queue";
    const auto options =
        static_cast<jack_options_t>(JackNoStartServer | (exactName ? JackUseExactName : 0));
    client = jack_client_open(clientName.c_str(), options, nullptr);
    if (!client) {
        const char* server = std::getenv("JACK_DEFAULT_SERVER");
        return std::string("no JACK server reachable (server \"") + (server ? server : "default") +
               "\")";
    }
    port = jack_port_register(client, portName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!port) return "the JACK server refused a MIDI input port";
    if (jack_set_process_callback(client, &JackMidiReceiver::process, this) != 0 ||
        jack_set_xrun_callback(client, &JackMidiReceiver::overrun, this) != 0 ||
        jack_activate(client) != 0)
        return "the JACK client could not be activated";
    return {};
}

std::string JackMidiReceiver::portName() const {
    return port ? jack_port_name(port) : "";
}

std::vector<JackMidiReceiver::Message> JackMidiReceiver::take(std::size_t count,
                                                              std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        collect();
        if (received.size() >= count || std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::vector<Message> out;
    out.swap(received);
    return out;
}

int JackMidiReceiver::overrun(void* self) {
    ++static_cast<JackMidiReceiver*>(self)->xruns;
    return 0;
}

// The JACK thread copies each event, size first, into the lock-free queue.
int JackMidiReceiver::process(jack_nframes_t frames, void* self) {
    auto* receiver = static_cast<JackMidiReceiver*>(self);
    void* buffer = jack_port_get_buffer(receiver->port, frames);
    const jack_nframes_t count = jack_midi_get_event_count(buffer);
    for (jack_nframes_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0 || event.size > 255) continue;
        const auto size = static_cast<unsigned char>(event.size);
        if (jack_ringbuffer_write_space(receiver->queue) < 1u + size) break;
        jack_ringbuffer_write(receiver->queue, reinterpret_cast<const char*>(&size), 1);
        jack_ringbuffer_write(receiver->queue, reinterpret_cast<const char*>(event.buffer), size);
    }
    return 0;
}

void JackMidiReceiver::collect() {
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

} // namespace qr
