// Systems without a MIDI receiver of the host's own: the plug-in's messages go to the system's
// devices, which the host cannot read back, so the checks that need one are skipped.

#include "tools/host/validate_probes.h"

namespace qrhost {

std::unique_ptr<MidiReceiverProbe> MidiReceiverProbe::open(std::string& whyNot) {
    whyNot = "no MIDI receiver of the host's own on this system (no loopback port to read)";
    return nullptr;
}

// The system's MIDI devices are listed without round trips to a server: nothing to hide.
MidiServiceHidden::MidiServiceHidden() = default;
MidiServiceHidden::~MidiServiceHidden() = default;

std::optional<std::uint64_t> residentBytes() {
    return std::nullopt;
}

} // namespace qrhost
