// Counting and opening through the Windows MIDI output calls alone: the Windows build's, and
// the tests' with their recording calls. Between the count that checks a device and the open
// only the system can move it, and then only when hardware comes or goes.
#include "platform/midi_outputs.h"

#include <cstring>
#include <string_view>

namespace platform {
namespace {

// A device table this large is a broken driver, not a studio.
constexpr UINT kMaxDevices = 1024;

MIDIOUTCAPSA queryCaps(UINT id) {
    MIDIOUTCAPSA caps{};
    if (midiOutGetDevCapsA(id, &caps, sizeof caps) != MMSYSERR_NOERROR) caps = MIDIOUTCAPSA{};
    caps.szPname[MAXPNAMELEN - 1] = '\0';
    return caps;
}

std::string_view nameOf(const MIDIOUTCAPSA& caps) {
    return std::string_view(caps.szPname, strnlen(caps.szPname, MAXPNAMELEN));
}

} // namespace

bool sameMidiOutput(const MidiOutput& a, const MidiOutput& b) {
    return a.name == b.name && std::memcmp(&a.caps, &b.caps, sizeof a.caps) == 0;
}

std::vector<MidiOutput> countMidiOutputs() {
    UINT count = midiOutGetNumDevs();
    if (count > kMaxDevices) count = kMaxDevices;
    std::vector<MidiOutput> outputs(count);
    for (UINT id = 0; id < count; ++id) {
        MidiOutput& output = outputs[id];
        output.caps = queryCaps(id);
        output.name = std::string(nameOf(output.caps));
        MIDIOUTCAPSW wide{};
        if (midiOutGetDevCapsW(id, &wide, sizeof wide) != MMSYSERR_NOERROR) wide = MIDIOUTCAPSW{};
        output.menuName = menuNameOf(wide);
    }
    return outputs;
}

MMRESULT openMidiOutput(const MidiOutput& counted, unsigned occurrence, HMIDIOUT* handle) {
    if (!handle) return MMSYSERR_INVALPARAM;
    *handle = nullptr;
    UINT count = midiOutGetNumDevs();
    if (count > kMaxDevices) count = kMaxDevices;
    for (UINT id = 0; id < count; ++id) {
        const MIDIOUTCAPSA caps = queryCaps(id);
        if (nameOf(caps) != counted.name || std::memcmp(&caps, &counted.caps, sizeof caps) != 0)
            continue;
        if (occurrence-- > 0) continue;
        HMIDIOUT opened = nullptr;
        const MMRESULT result = midiOutOpen(&opened, id, 0, 0, CALLBACK_NULL);
        if (result == MMSYSERR_NOERROR) *handle = opened;
        return result;
    }
    return MMSYSERR_BADDEVICEID;
}

} // namespace platform
