#pragma once
// The computer's MIDI outputs as one count found them, and opening again exactly the device a
// count found. A device's number in the system's table can change between a count and an
// open (a device plugged or unplugged, on Linux another instance counting), so opening goes by
// what was counted, never by the bare number.

#include <string>
#include <vector>

#include "platform/winmm.h"

namespace platform {

struct MidiOutput {
    MIDIOUTCAPSA caps{};  // the system's record, zeroed when its query failed
    std::string name;     // the full name; on Linux it can be longer than the record's 31 bytes
    std::string menuName; // as the device menu shows it: Latin-1, at most 31 characters
};

// The menu keeps each character up to U+00FF as its Latin-1 byte and reduces any other to its
// low byte.
inline std::string menuNameOf(const MIDIOUTCAPSW& caps) {
    std::string name;
    for (std::size_t i = 0; i + 1 < MAXPNAMELEN && caps.szPname[i]; ++i)
        name.push_back(static_cast<char>(caps.szPname[i] & 0xFF));
    return name;
}

// A fresh count; may throw std::bad_alloc.
std::vector<MidiOutput> countMidiOutputs();

// Opens the `occurrence`-th device (0 = the first) that matches `counted` in the system's table
// as it is now: the same name and, on Windows, the same capability record. When none matches,
// nothing is opened and the answer is MMSYSERR_BADDEVICEID. Never throws.
MMRESULT openMidiOutput(const MidiOutput& counted, unsigned occurrence, HMIDIOUT* handle);

// Whether two counts saw the same device (ignoring where it stood in the table).
bool sameMidiOutput(const MidiOutput& a, const MidiOutput& b);

} // namespace platform
