#pragma once
// The MIDI services the Linux build can send through, behind one small interface: each lists the
// ports a device menu offers and opens one of them by name. The Windows-style calls on top keep
// the device table, the handles and the message checks; a service only moves bytes.

#include "platform/linux/midi_detail.h"
#include "platform/winmm.h"

#include <memory>
#include <string>
#include <vector>

namespace qr::midi_services {

// One open output port. Destroying it closes the port, after what was accepted has left or the
// service has shown it never will.
class OutputPort {
  public:
    virtual ~OutputPort() = default;
    // Called by one thread at a time. MMSYSERR_NOERROR once the message is on its way.
    virtual MMRESULT send(const midi_detail::ShortMessage& message) = 0;
};

struct OpenResult {
    MMRESULT result = MMSYSERR_ERROR;
    std::unique_ptr<OutputPort> port; // set when result is MMSYSERR_NOERROR
};

class Service {
  public:
    virtual ~Service() = default;
    // The receiving ports under their full names, ours left out.
    virtual std::vector<std::string> listPorts() = 0;
    // MMSYSERR_BADDEVICEID when no port of that name exists (any more).
    virtual OpenResult open(const std::string& portName) = 0;
};

// Whether the ALSA sequencer can be opened, asked without letting alsa-lib print.
bool alsaSequencerUsable();

// Each returns nothing when its service is not there; none prints or throws on the way.
std::unique_ptr<Service> makeAlsaService();
std::unique_ptr<Service> makeJackService();

} // namespace qr::midi_services
