#pragma once
// The plug-in's state as a host stores it with a project: the 74 parameter values and the name
// of the chosen MIDI output device, so that a reopened project finds its device by name
// wherever the device's number now is.
//
// Format, all integers unsigned 32-bit little-endian, floats IEEE 754 single little-endian:
//   0   magic "QRst"
//   4   format version (1)
//   8   length of the whole blob in bytes
//   12  number of parameter values (74)
//   16  the values, in parameter order
//   312 length of the device name in bytes with its terminating zero (0: no device chosen)
//   316 the name, exactly that many bytes, the last one zero and no other
// Anything else is refused as a whole.

#include <array>
#include <cstddef>
#include <cstdint>

#include "plugin/parameters.h"

struct SavedState {
    static constexpr std::size_t kMaxNameLength = 320; // bytes without the terminator
    std::array<float, ParameterIndex::kCount> values{};
    std::array<char, kMaxNameLength + 1> deviceName{}; // empty: no device chosen
};

constexpr std::size_t kStateHeaderSize = 316;
constexpr std::size_t kMaxStateSize = kStateHeaderSize + SavedState::kMaxNameLength + 1;

// Reads a blob of `size` bytes; false, with `out` untouched, for anything malformed: a null
// pointer, a truncated or oversized blob, another magic or version, a length that disagrees
// with the buffer, an unterminated name, values that are not finite or out of their range.
bool readStateData(const void* data, std::size_t size, SavedState& out) noexcept;

// Writes `state` into `buffer`; returns the number of bytes, or 0 if the state cannot be
// written as it stands (an unterminated or overlong name, or a value readStateData would
// refuse). `buffer` must hold kMaxStateSize bytes.
std::size_t writeStateData(const SavedState& state,
                           std::array<unsigned char, kMaxStateSize>& buffer) noexcept;

// Brings a value the effect holds into the range the format keeps, so a project always saves:
// gains, links and the refresh trigger to 0..1, the device number to a whole number of at least
// -1; NaN becomes 0 (the device number -1).
float savableValue(std::int32_t index, float value) noexcept;
