// A JACK MIDI receiver for scripts: prints "ready PORT" once its input port is up, then every
// message as hex bytes on a line of its own, until its standard input closes or it is stopped.
//
//   qr_midi_listen CLIENT PORT

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "platform/linux/jack_midi_receiver.h"

namespace {

volatile sig_atomic_t stopping = 0;

void onSignal(int) {
    stopping = 1;
}

bool inputClosed() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, 0) <= 0) return false;
    char byte;
    return read(STDIN_FILENO, &byte, 1) <= 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s CLIENT PORT\n", argv[0]);
        return 2;
    }
    signal(SIGTERM, onSignal);
    signal(SIGINT, onSignal);
    qr::JackMidiReceiver receiver;
    const std::string why = receiver.open(argv[1], argv[2], true);
    if (!why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    std::printf("ready %s\n", receiver.portName().c_str());
    std::fflush(stdout);
    while (!stopping && !inputClosed()) {
        for (const auto& message : receiver.take(1, std::chrono::milliseconds(50))) {
            for (std::size_t i = 0; i < message.size(); ++i)
                std::printf(i ? " %02x" : "%02x", message[i]);
            std::printf("\n");
        }
        std::fflush(stdout);
    }
    return 0;
}
