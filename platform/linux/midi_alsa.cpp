// The ALSA sequencer through RtMidi. RtMidi reports through a callback instead of printing or
// throwing, and alsa-lib complains on stderr when the sequencer cannot be opened, so the
// device is tried first.
#include "platform/linux/midi_services.h"

#include <rtmidi/RtMidi.h>

#include <fcntl.h>
#include <unistd.h>

namespace qr::midi_services {
namespace {

using midi_detail::isOwnPort;
using midi_detail::kClientName;

constexpr const char* kPortName = "MIDI Out";

// Any report fails the call in progress.
struct ErrorFlag {
    bool raised = false;
};

void raiseError(RtMidiError::Type type, const std::string&, void* flag) {
    if (type != RtMidiError::DEBUG_WARNING) static_cast<ErrorFlag*>(flag)->raised = true;
}

// The error flag outlives the RtMidi object that reports into it.
struct AlsaOutput {
    ErrorFlag errors;
    RtMidiOut out{RtMidi::LINUX_ALSA, std::string(kClientName)};
    AlsaOutput() { out.setErrorCallback(&raiseError, &errors); }
};

// RtMidi's port number of each receiving port, ours left out.
std::vector<std::pair<unsigned, std::string>> numberedPorts(RtMidiOut& out) {
    std::vector<std::pair<unsigned, std::string>> ports;
    const unsigned count = out.getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        std::string name = out.getPortName(i);
        if (!name.empty() && !isOwnPort(name)) ports.emplace_back(i, std::move(name));
    }
    return ports;
}

class AlsaPort final : public OutputPort {
  public:
    explicit AlsaPort(std::unique_ptr<AlsaOutput> output) : output(std::move(output)) {}
    MMRESULT send(const midi_detail::ShortMessage& message) override {
        // The sender drains its output before returning: the message is out.
        output->errors.raised = false;
        output->out.sendMessage(message.bytes, message.size);
        return output->errors.raised ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
    }

  private:
    std::unique_ptr<AlsaOutput> output;
};

class AlsaService final : public Service {
  public:
    std::vector<std::string> listPorts() override {
        AlsaOutput output;
        std::vector<std::string> names;
        for (auto& [number, name] : numberedPorts(output.out))
            names.push_back(std::move(name));
        return names;
    }

    OpenResult open(const std::string& portName) override {
        auto output = std::make_unique<AlsaOutput>();
        if (output->errors.raised) return {MMSYSERR_NODRIVER, nullptr};
        for (const auto& [number, name] : numberedPorts(output->out)) {
            if (name != portName) continue;
            output->out.openPort(number, kPortName);
            if (output->errors.raised || !output->out.isPortOpen())
                return {MMSYSERR_ERROR, nullptr};
            return {MMSYSERR_NOERROR, std::make_unique<AlsaPort>(std::move(output))};
        }
        return {MMSYSERR_BADDEVICEID, nullptr};
    }
};

} // namespace

bool alsaSequencerUsable() {
    const int fd = ::open("/dev/snd/seq", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

std::unique_ptr<Service> makeAlsaService() {
    if (!alsaSequencerUsable()) return nullptr;
    return std::make_unique<AlsaService>();
}

} // namespace qr::midi_services
