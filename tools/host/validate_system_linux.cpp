// The validator's system probes on Linux: the JACK MIDI receiver on the server the environment
// names (JACK_DEFAULT_SERVER), never starting one; the MIDI lab, a private JACK server of the
// validator's own; and the process's resident memory.

#include <jack/jack.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "platform/linux/jack_midi_receiver.h"
#include "platform/linux/jack_server.h"
#include "platform/linux/midi_services.h"
#include "tools/host/validate_probes.h"

namespace qrhost {
namespace {

using namespace std::chrono_literals;

void quiet(const char*) {}

// libjack prints its complaints when no server answers; the checks report instead.
void quietJack() {
    jack_set_error_function(&quiet);
    jack_set_info_function(&quiet);
}

// An environment variable set while it lives, then put back as it was.
class EnvironmentValue {
  public:
    EnvironmentValue(const char* name, const std::string& value) : name(name) {
        if (const char* old = std::getenv(name)) {
            hadValue = true;
            previous = old;
        }
        set = ::setenv(name, value.c_str(), 1) == 0;
    }
    ~EnvironmentValue() {
        if (!set) return;
        if (hadValue)
            ::setenv(name, previous.c_str(), 1);
        else
            ::unsetenv(name);
    }
    EnvironmentValue(const EnvironmentValue&) = delete;
    EnvironmentValue& operator=(const EnvironmentValue&) = delete;
    bool active() const { return set; }

  private:
    const char* name;
    bool set = false;
    bool hadValue = false;
    std::string previous;
};

class JackReceiverProbe : public MidiReceiverProbe {
  public:
    // Under exactly `clientName` where one is given, so that a receiver opened again is the
    // same device; else under a name of the host's own.
    std::string open(const std::string& clientName) {
        quietJack();
        if (!clientName.empty()) return receiver.open(clientName, "in", true);
        return receiver.open("qrhost-validate-" + std::to_string(::getpid()), "in");
    }
    std::string portName() const override { return receiver.portName(); }
    std::vector<Message> take(std::size_t count, int timeoutMs) override {
        return receiver.take(count, std::chrono::milliseconds(timeoutMs));
    }
    std::uint64_t overruns() const override { return receiver.overruns(); }

  private:
    qr::JackMidiReceiver receiver;
};

// The lab: a private synchronous JACK server with short periods, named in the environment for
// the plug-ins created while it lives. Receivers are clients "qrv-KEY" with a port "in".
class JackLab : public MidiLab {
  public:
    ~JackLab() override {
        makeSlow(false);
        server.stop();
    }

    std::string start() {
        if (qr::midi_services::alsaSequencerUsable())
            return "MIDI goes to the ALSA sequencer on this machine, so a JACK server's "
                   "receivers would not be among the devices";
        if (qr::findProgram("jackd").empty()) return "jackd is not installed";
        quietJack();
        std::string why = server.start("qrval" + std::to_string(::getpid()), kPeriod);
        if (!why.empty()) return "the private JACK server did not start: " + why;
        environment =
            std::make_unique<EnvironmentValue>("JACK_DEFAULT_SERVER", server.serverName());
        return {};
    }

    std::string description() const override {
        return "private JACK server " + server.serverName() + " (dummy driver, " +
               std::to_string(kPeriod) + " frames at 48 kHz, synchronous)";
    }

    std::unique_ptr<MidiReceiverProbe> receiver(const std::string& key,
                                                std::string& whyNot) override {
        auto probe = std::make_unique<JackReceiverProbe>();
        whyNot = probe->open("qrv-" + key);
        if (!whyNot.empty()) return nullptr;
        return probe;
    }

    bool devicesTakeOneClient() const override { return false; }
    bool hasServer() const override { return true; }
    void stopServer() override { server.pause(); }
    void continueServer() override { server.resume(); }
    void killServer() override {
        makeSlow(false);
        server.stop();
    }
    std::string startServer() override { return server.running() ? "" : server.restart(); }

    // A client keeps the killed server's semaphore file mapped: /dev/shm/jack_sem.UID_SERVER_
    // CLIENT, shown as deleted once the server removed it.
    std::vector<std::string> clientsOfKilledServer() const override {
        const std::string marker =
            "jack_sem." + std::to_string(::getuid()) + "_" + server.serverName() + "_";
        std::vector<std::string> clients;
        std::ifstream maps("/proc/self/maps");
        for (std::string line; std::getline(maps, line);) {
            const std::size_t at = line.find(marker);
            const std::size_t deleted = line.rfind(" (deleted)");
            if (at == std::string::npos || deleted == std::string::npos || deleted < at) continue;
            std::string client = line.substr(at + marker.size(), deleted - at - marker.size());
            if (client != "freewheel" && client != "system" &&
                std::find(clients.begin(), clients.end(), client) == clients.end())
                clients.push_back(client);
        }
        return clients;
    }

    // The server runs in short bursts between longer stops: a device that takes its messages
    // a few at a time, with pauses far longer than a block.
    std::string makeSlow(bool slow) override {
        if (slow && !slowing.joinable()) {
            stopSlowing = false;
            slowing = std::thread([this] {
                while (!stopSlowing.load()) {
                    server.pause();
                    std::this_thread::sleep_for(kStopped);
                    server.resume();
                    std::this_thread::sleep_for(kRunning);
                }
            });
        } else if (!slow && slowing.joinable()) {
            stopSlowing = true;
            slowing.join();
            server.resume();
        }
        return "the JACK server runs " + std::to_string(kRunning.count()) + " ms, then stops " +
               std::to_string(kStopped.count()) + " ms, over and over";
    }

  private:
    static constexpr unsigned kPeriod = 256;
    static constexpr auto kStopped = 60ms;
    static constexpr auto kRunning = 15ms;

    qr::JackServer server;
    std::unique_ptr<EnvironmentValue> environment;
    std::thread slowing;
    std::atomic<bool> stopSlowing{false};
};

} // namespace

std::unique_ptr<MidiLab> MidiLab::open(std::string& whyNot) {
    auto lab = std::make_unique<JackLab>();
    whyNot = lab->start();
    if (!whyNot.empty()) return nullptr;
    return lab;
}

std::unique_ptr<MidiReceiverProbe> MidiReceiverProbe::open(std::string& whyNot,
                                                           const std::string& clientName) {
    auto probe = std::make_unique<JackReceiverProbe>();
    whyNot = probe->open(clientName);
    if (!whyNot.empty()) return nullptr;
    return probe;
}

MidiServiceHidden::MidiServiceHidden()
    : environment(std::make_shared<EnvironmentValue>(
          "JACK_DEFAULT_SERVER", "qrhost-no-server-" + std::to_string(::getpid()))) {
    hidden = std::static_pointer_cast<EnvironmentValue>(environment)->active();
}

MidiServiceHidden::~MidiServiceHidden() = default;

std::optional<std::uint64_t> threadWaits() {
    rusage usage{};
    if (::getrusage(RUSAGE_THREAD, &usage) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(usage.ru_nvcsw);
}

std::optional<std::uint64_t> residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t size = 0, resident = 0;
    if (!(statm >> size >> resident)) return std::nullopt;
    return resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

} // namespace qrhost
