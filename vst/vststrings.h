#pragma once
// Bounded text operations for every buffer handed to or received from a host.

#include <cstddef>

namespace vst {

// Copies at most `bound` characters of `source`, zero-fills the rest of the first `bound`
// bytes and always writes a terminator at position `bound`: `dest` holds bound + 1 bytes.
// A null destination writes nothing; a null source counts as empty.
void boundedCopy(char* dest, const char* source, std::size_t bound);

// Appends at most `bound` characters after the current text and then terminates at `bound`,
// so the whole text is cut to its first `bound` characters.
void boundedAppend(char* dest, const char* source, std::size_t bound);

} // namespace vst
