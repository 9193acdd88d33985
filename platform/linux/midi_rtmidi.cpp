// Placeholder: no MIDI output devices until the RtMidi-backed service lands.
#include "platform/winmm.h"

extern "C" {
UINT WINAPI midiOutGetNumDevs(void) { return 0; }
MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR, MIDIOUTCAPSA*, UINT) { return MMSYSERR_BADDEVICEID; }
MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR, MIDIOUTCAPSW*, UINT) { return MMSYSERR_BADDEVICEID; }
MMRESULT WINAPI midiOutOpen(LPHMIDIOUT, UINT, DWORD_PTR, DWORD_PTR, DWORD) { return MMSYSERR_BADDEVICEID; }
MMRESULT WINAPI midiOutShortMsg(HMIDIOUT, DWORD) { return MMSYSERR_INVALHANDLE; }
MMRESULT WINAPI midiOutClose(HMIDIOUT) { return MMSYSERR_INVALHANDLE; }
}
