#pragma once
// A private JACK server (`jackd -d dummy`) that a test or our host's validator starts, stops,
// continues and restarts itself, so that MIDI can be watched and disturbed without hardware and
// without touching anyone else's server.
//
// JACK keeps a registry of at most eight servers in shared memory. A server that dies without
// unregistering keeps its slot until one of the same name starts again, so servers here are
// only ever stopped with SIGTERM and reaped, and a few names are reused.

#include <sys/types.h>

#include <string>

namespace qr {

class JackServer {
  public:
    JackServer() = default;
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;
    // Stops the server and removes the files it may have left.
    ~JackServer();

    // Starts a synchronous server named `prefix`-0, -1, ... (the first not already running)
    // with `period` frames at 48 kHz. Empty on success, else why no server runs.
    std::string start(const std::string& prefix, unsigned period = 1024);
    // Stops the server and starts one of the same name and period again.
    std::string restart();

    // A stopped process: the server is there but runs no cycles and answers no client.
    void pause();
    void resume();
    bool paused() const { return isPaused; }
    // SIGTERM, after a SIGCONT in case it was stopped; waits until it is gone.
    void stop();
    bool running() const { return pid > 0; }

    // A server that stops under open clients leaves their semaphore files in /dev/shm.
    void removeLeftovers() const;
    std::string log() const;
    const std::string& serverName() const { return name; }

  private:
    std::string startNamed(const std::string& serverName);

    std::string name;
    std::string logPath;
    unsigned period = 1024;
    pid_t pid = -1;
    bool isPaused = false;
};

// Where a JACK 2 server of this name listens for its clients, and whether one does.
std::string jackSocketPath(const std::string& server);
bool jackSocketAccepts(const std::string& path);

// The full path of a program found on PATH, or empty.
std::string findProgram(const std::string& name);

} // namespace qr
