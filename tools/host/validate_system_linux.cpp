// The validator's system probes on Linux: the JACK MIDI receiver on the server the environment
// names (JACK_DEFAULT_SERVER), never starting one, and the process's resident memory.

#include <jack/jack.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/linux/jack_midi_receiver.h"
#include "tools/host/validate_probes.h"

namespace qrhost {
namespace {

void quiet(const char*) {}

class JackReceiverProbe : public MidiReceiverProbe {
  public:
    std::string open(const std::string& clientName) {
        // libjack prints its complaints when no server answers; the check reports instead.
        jack_set_error_function(&quiet);
        jack_set_info_function(&quiet);
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

} // namespace

std::unique_ptr<MidiReceiverProbe> MidiReceiverProbe::open(std::string& whyNot,
                                                           const std::string& clientName) {
    auto probe = std::make_unique<JackReceiverProbe>();
    whyNot = probe->open(clientName);
    if (!whyNot.empty()) return nullptr;
    return probe;
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
