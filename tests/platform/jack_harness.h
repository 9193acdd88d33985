#pragma once
// A private JACK server (`jackd -d dummy`) and the JACK MIDI receiver, so tests can watch real
// messages arrive without hardware.

#include "platform/linux/jack_midi_receiver.h"
#include "platform/linux/midi_services.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
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

inline std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0)
            return dir + "/" + name;
    return {};
}

// Where a JACK 2 server of this name listens for clients.
inline std::string jackSocketPath(const std::string& server) {
    return "/dev/shm/jack_" + server + "_" + std::to_string(::getuid()) + "_0";
}

inline bool socketAccepts(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// The service's own test: where it finds a sequencer, JACK is not what it uses.
using qr::midi_services::alsaSequencerUsable;

// jackd with the dummy driver under a name of its own; stopped by the destructor.
class JackServer {
  public:
    JackServer() = default;
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;
    ~JackServer() {
        stop();
        removeLeftovers();
    }

    // Starts a server named `prefix`-0, -1, ... (the first not already running); empty on
    // success, else why no server runs. Reusing a few names matters: a JACK 2 server that dies
    // without unregistering keeps one of its eight registry slots until one of the same name
    // starts again.
    std::string start(const std::string& prefix, unsigned period = 1024) {
        std::string why = "no free server name";
        for (int k = 0; k < 4; ++k) {
            const std::string candidate = prefix + "-" + std::to_string(k);
            if (socketAccepts(jackSocketPath(candidate))) continue;
            why = startNamed(candidate, period);
            if (why.empty()) return why;
        }
        return why;
    }

    // A stopped process: the server is there but runs no cycles.
    void pause() { ::kill(pid, SIGSTOP); }
    void resume() { ::kill(pid, SIGCONT); }

    // SIGTERM lets the server unregister; SIGKILL only if it does not go.
    void stop() {
        if (pid <= 0) return;
        ::kill(pid, SIGCONT);
        ::kill(pid, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        pid = -1;
    }

    // A server that stops under open clients leaves their semaphore files in /dev/shm.
    void removeLeftovers() const {
        if (name.empty()) return;
        ::unlink(jackSocketPath(name).c_str());
        const std::string prefix = "jack_sem." + std::to_string(::getuid()) + "_" + name + "_";
        if (DIR* dir = ::opendir("/dev/shm")) {
            while (const dirent* entry = ::readdir(dir))
                if (std::string(entry->d_name).rfind(prefix, 0) == 0)
                    ::unlink(("/dev/shm/" + std::string(entry->d_name)).c_str());
            ::closedir(dir);
        }
    }

    std::string log() const {
        std::ifstream in(logPath);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    const std::string& serverName() const { return name; }

  private:
    std::string startNamed(const std::string& serverName, unsigned period) {
        name = serverName;
        const std::string jackd = findProgram("jackd");
        if (jackd.empty()) return "jackd not found";
        logPath = "/tmp/" + name + ".log";
        const std::string periodText = std::to_string(period);
        pid = ::fork();
        if (pid < 0) return "fork failed";
        if (pid == 0) {
            // A test that dies must not leave its server running.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (log >= 0) {
                ::dup2(log, 1);
                ::dup2(log, 2);
            }
            // Synchronous, no real-time scheduling: a loaded test machine should not lose cycles.
            ::execl(jackd.c_str(), "jackd", "-S", "-r", "-n", name.c_str(), "-d", "dummy", "-r",
                    "48000", "-p", periodText.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (socketAccepts(jackSocketPath(name))) return {};
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return "jackd exited: " + log();
            }
            std::this_thread::sleep_for(20ms);
        }
        stop();
        return "jackd did not come up: " + log();
    }

    std::string name;
    std::string logPath;
    pid_t pid = -1;
};

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
