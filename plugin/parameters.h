#pragma once
// The plug-in's 74 parameters: one numbering shared by the host, the effect and the editor.

#include <cstddef>
#include <cstdint>

namespace ParameterIndex {
enum : std::int32_t {
    kMidiDevice = 0,  // device number as a plain float, not normalised
    kRefresh = 1,     // exactly 1.0 resends every gain
    kFirstGain = 2,   // "Gain 1" .. "Gain 48", normalised 0..1
    kLastGain = 49,
    kFirstLink = 50,  // "Ln 1+2" .. "Ln 47+48", 0 off, 1 on
    kLastLink = 73,
    kCount = 74,
};
} // namespace ParameterIndex

constexpr int kNumGainChannels = 48;
constexpr int kNumLinks = 24;

constexpr bool isGainIndex(std::int32_t index) {
    return index >= ParameterIndex::kFirstGain && index <= ParameterIndex::kLastGain;
}
constexpr bool isLinkIndex(std::int32_t index) {
    return index >= ParameterIndex::kFirstLink && index <= ParameterIndex::kLastLink;
}
constexpr bool isParameterIndex(std::int32_t index) {
    return index >= 0 && index < ParameterIndex::kCount;
}

// The 7-bit MIDI value of a gain: gain * 127 truncated toward zero, kept to 0..127 (NaN is 0).
int gainToMidiValue(float gain);

// A gain in whole decibel steps above the floor: gain * 40 truncated toward zero, clamped to
// the 32-bit range (NaN is 0).
std::int32_t gainToDbSteps(float gain);

// The gain as "NN dB" (steps + 10). At most 7 characters plus the terminator, whatever the
// value: figures that do not fit read "Huge!", NaN reads "NaN".
constexpr std::size_t kGainTextSize = 8;
void formatGainText(float gain, char (&text)[kGainTextSize]);

// The parameter's name ("MidiDev", "Gain 7", "Ln 5+6"), at most 8 characters; false for an
// index outside the set.
constexpr std::size_t kParameterNameSize = 9;
bool parameterName(std::int32_t index, char (&name)[kParameterNameSize]);
