#include "platform/linux/jack_server.h"

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
#include <thread>

namespace qr {

using namespace std::chrono_literals;

std::string findProgram(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0)
            return dir + "/" + program;
    return {};
}

std::string jackSocketPath(const std::string& server) {
    return "/dev/shm/jack_" + server + "_" + std::to_string(::getuid()) + "_0";
}

bool jackSocketAccepts(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

JackServer::~JackServer() {
    stop();
    removeLeftovers();
}

std::string JackServer::start(const std::string& prefix, unsigned framesPerPeriod) {
    period = framesPerPeriod;
    std::string why = "no free server name";
    for (int k = 0; k < 4; ++k) {
        const std::string candidate = prefix + "-" + std::to_string(k);
        if (jackSocketAccepts(jackSocketPath(candidate))) continue;
        why = startNamed(candidate);
        if (why.empty()) return why;
    }
    return why;
}

std::string JackServer::restart() {
    stop();
    return startNamed(name);
}

void JackServer::pause() {
    if (pid <= 0) return;
    ::kill(pid, SIGSTOP);
    isPaused = true;
}

void JackServer::resume() {
    if (pid <= 0) return;
    ::kill(pid, SIGCONT);
    isPaused = false;
}

void JackServer::stop() {
    if (pid <= 0) return;
    // A stopped process keeps its SIGTERM pending until it runs again.
    ::kill(pid, SIGCONT);
    ::kill(pid, SIGTERM);
    isPaused = false;
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            // Never SIGKILL: that would cost a registry slot for good. Say so and move on.
            std::fprintf(stderr, "jackd %s (pid %d) did not stop within 15 s of SIGTERM\n",
                         name.c_str(), static_cast<int>(pid));
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    pid = -1;
    removeLeftovers();
}

void JackServer::removeLeftovers() const {
    if (name.empty() || pid > 0) return;
    ::unlink(jackSocketPath(name).c_str());
    const std::string prefix = "jack_sem." + std::to_string(::getuid()) + "_" + name + "_";
    if (DIR* dir = ::opendir("/dev/shm")) {
        while (const dirent* entry = ::readdir(dir))
            if (std::string(entry->d_name).rfind(prefix, 0) == 0)
                ::unlink(("/dev/shm/" + std::string(entry->d_name)).c_str());
        ::closedir(dir);
    }
}

std::string JackServer::log() const {
    std::ifstream in(logPath);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string JackServer::startNamed(const std::string& serverName) {
    name = serverName;
    const std::string jackd = findProgram("jackd");
    if (jackd.empty()) return "jackd not found";
    logPath = "/tmp/" + name + ".log";
    const std::string periodText = std::to_string(period);
    // Everything the child needs is prepared before the fork: after it, in a process with
    // threads, only async-signal-safe calls are allowed until exec.
    const char* const argv[] = {"jackd", "-S", "-r",    "-n", name.c_str(),       "-d",
                                "dummy", "-r", "48000", "-p", periodText.c_str(), nullptr};
    const pid_t parent = ::getpid();
    pid = ::fork();
    if (pid < 0) return "fork failed";
    if (pid == 0) {
        // A host that dies must not leave its server running.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        // Synchronous, no real-time scheduling: a loaded machine should not lose cycles.
        ::execv(jackd.c_str(), const_cast<char* const*>(argv));
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (jackSocketAccepts(jackSocketPath(name))) return {};
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return "jackd exited: " + log();
        }
        std::this_thread::sleep_for(10ms);
    }
    stop();
    return "jackd did not come up: " + log();
}

} // namespace qr
