#pragma once
// A private JACK server (`jackd -d dummy`) and the JACK MIDI receiver, so tests can watch real
// messages arrive without hardware.

#include "platform/linux/jack_midi_receiver.h"
#include "platform/linux/jack_server.h"
#include "platform/linux/midi_services.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace qr_test {

using namespace std::chrono_literals;

using qr::findProgram;
using qr::jackSocketPath;

// The service's own test: where it finds a sequencer, JACK is not what it uses.
using qr::midi_services::alsaSequencerUsable;

// jackd with the dummy driver under a name of its own; stopped by the destructor.
using JackServer = qr::JackServer;

using Message = qr::JackMidiReceiver::Message;

// The shared receiver under the names the tests read best: opening fails on a taken name.
class MidiReceiver : public qr::JackMidiReceiver {
  public:
    bool open(const std::string& clientName, const std::string& portName) {
        return JackMidiReceiver::open(clientName, portName, true).empty();
    }
    std::vector<Message> waitFor(std::size_t count, std::chrono::milliseconds timeout = 5s) {
        return take(count, timeout);
    }
};

// Everything written to file descriptor 2 while it lives.
class StderrCapture {
  public:
    StderrCapture() {
        std::fflush(stderr);
        saved = ::dup(2);
        std::snprintf(path, sizeof path, "/tmp/qr-stderr-XXXXXX");
        file = ::mkstemp(path);
        ::dup2(file, 2);
    }
    ~StderrCapture() {
        restore();
        ::unlink(path);
    }
    std::string text() {
        restore();
        std::ifstream in(path);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }

  private:
    void restore() {
        if (saved < 0) return;
        std::fflush(stderr);
        ::dup2(saved, 2);
        ::close(saved);
        ::close(file);
        saved = -1;
    }
    char path[32];
    int saved = -1;
    int file = -1;
};

} // namespace qr_test
