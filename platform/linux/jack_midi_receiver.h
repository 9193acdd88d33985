#pragma once
// A JACK client with one MIDI input port that keeps every event it receives: the far end of
// the wire for our host's validator and for the tests, so both can watch real messages arrive.

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace qr {

class JackMidiReceiver {
  public:
    using Message = std::vector<unsigned char>;

    JackMidiReceiver() = default;
    JackMidiReceiver(const JackMidiReceiver&) = delete;
    JackMidiReceiver& operator=(const JackMidiReceiver&) = delete;
    ~JackMidiReceiver();

    // Connects to the server the environment names, never starting one. Empty on success,
    // else why not. With `exactName` a taken client name fails instead of getting a suffix.
    std::string open(const std::string& clientName, const std::string& portName,
                     bool exactName = false);

    std::string portName() const;

    // Everything received so far, once `count` messages are there or the time is up.
    std::vector<Message> take(std::size_t count, std::chrono::milliseconds timeout);

    // Cycles the server reported as overrun while the receiver was open.
    std::uint64_t overruns() const { return xruns.load(); }

  private:
    static int process(jack_nframes_t frames, void* self);
    static int overrun(void* self);
    void collect();

    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    jack_ringbuffer_t* queue = nullptr;
    std::vector<Message> received;
    std::atomic<std::uint64_t> xruns{0};
};

} // namespace qr
