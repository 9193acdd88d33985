#pragma once
// The Windows multimedia MIDI output calls. On Windows these are the system's own; elsewhere
// this header declares the same calls, types and result codes, and platform code of ours
// implements them over the local MIDI service.

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// Plain (not dllimport) declarations, so a test binary can supply its own definitions; the
// plug-in itself reaches the system's through the import library's thunks.
#ifndef _WINMM_
#define _WINMM_
#endif
#include <windows.h>
#include <mmsystem.h>

#else

#include <cstdint>

#define WINAPI
#define CALLBACK_NULL 0x00000000u

using UINT = unsigned int;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using MMRESULT = UINT;
using MMVERSION = UINT;
using CHAR = char;
using WCHAR = char16_t;

struct HMIDIOUT__;
using HMIDIOUT = HMIDIOUT__*;
using LPHMIDIOUT = HMIDIOUT*;

enum : MMRESULT {
    MMSYSERR_NOERROR = 0,
    MMSYSERR_ERROR = 1,
    MMSYSERR_BADDEVICEID = 2,
    MMSYSERR_NOTENABLED = 3,
    MMSYSERR_ALLOCATED = 4,
    MMSYSERR_INVALHANDLE = 5,
    MMSYSERR_NODRIVER = 6,
    MMSYSERR_NOMEM = 7,
    MMSYSERR_INVALPARAM = 11,
    MIDIERR_NOTREADY = 67, // the driver cannot take a message now; try again
};

enum : WORD { MOD_MIDIPORT = 1 };

constexpr unsigned MAXPNAMELEN = 32;

struct MIDIOUTCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[MAXPNAMELEN];
    WORD wTechnology;
    WORD wVoices;
    WORD wNotes;
    WORD wChannelMask;
    DWORD dwSupport;
};

struct MIDIOUTCAPSW {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    WCHAR szPname[MAXPNAMELEN];
    WORD wTechnology;
    WORD wVoices;
    WORD wNotes;
    WORD wChannelMask;
    DWORD dwSupport;
};

extern "C" {
UINT WINAPI midiOutGetNumDevs(void);
MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR uDeviceID, MIDIOUTCAPSA* pmoc, UINT cbmoc);
MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR uDeviceID, MIDIOUTCAPSW* pmoc, UINT cbmoc);
MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT WINAPI midiOutShortMsg(HMIDIOUT hmo, DWORD dwMsg);
MMRESULT WINAPI midiOutClose(HMIDIOUT hmo);
}

#endif

static_assert(sizeof(MIDIOUTCAPSA) == 52, "MIDIOUTCAPSA is 52 bytes");
static_assert(sizeof(MIDIOUTCAPSW) == 84, "MIDIOUTCAPSW is 84 bytes");
