#pragma once
// The version note of the Linux plug-in: an ELF note in its own allocated section, which strip
// keeps, carrying the strings the Windows DLLs carry in their version resource. Readers find
// it by owner and type without loading the file.

// The note's owner name (a string literal, so it can initialise the note's bytes).
#define QR_VERSION_NOTE_OWNER "Quorvel"

namespace platform {
// Its description: "Key=Value" strings, each ended by a zero byte.
inline constexpr unsigned kVersionNoteType = 1;
} // namespace platform
