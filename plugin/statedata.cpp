#include "plugin/statedata.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr unsigned char kMagic[4] = {'Q', 'R', 's', 't'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kValuesOffset = 16;
constexpr std::size_t kNameLengthOffset = 312;
// Device numbers stay well inside what a float holds exactly.
constexpr float kMaxDeviceNumber = 16777216.0f;

std::uint32_t readU32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void writeU32(unsigned char* bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

float floatFromBits(std::uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::uint32_t bitsOf(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

bool valueInRange(std::int32_t index, float value) {
    if (!std::isfinite(value)) return false;
    if (index == ParameterIndex::kMidiDevice)
        return value >= -1.0f && value <= kMaxDeviceNumber && value == std::trunc(value);
    return value >= 0.0f && value <= 1.0f;
}

} // namespace

static_assert(kNameLengthOffset == kValuesOffset + 4 * ParameterIndex::kCount);
static_assert(kStateHeaderSize == kNameLengthOffset + 4);

float savableValue(std::int32_t index, float value) noexcept {
    if (index == ParameterIndex::kMidiDevice) {
        if (!std::isfinite(value) || value < 0.0f) return -1.0f;
        return std::min(std::trunc(value), kMaxDeviceNumber);
    }
    if (std::isnan(value)) return 0.0f;
    return std::clamp(value, 0.0f, 1.0f);
}

bool readStateData(const void* data, std::size_t size, SavedState& out) noexcept {
    if (!data || size < kStateHeaderSize || size > kMaxStateSize) return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (std::memcmp(bytes, kMagic, sizeof kMagic) != 0) return false;
    if (readU32(bytes + 4) != kVersion) return false;
    const std::uint32_t length = readU32(bytes + 8);
    if (length != size) return false;
    if (readU32(bytes + 12) != ParameterIndex::kCount) return false;
    const std::uint32_t nameLength = readU32(bytes + kNameLengthOffset);
    if (nameLength > SavedState::kMaxNameLength + 1 || kStateHeaderSize + nameLength != length)
        return false;

    SavedState state;
    for (std::int32_t index = 0; index < ParameterIndex::kCount; ++index) {
        const float value =
            floatFromBits(readU32(bytes + kValuesOffset + 4 * static_cast<std::size_t>(index)));
        if (!valueInRange(index, value)) return false;
        state.values[static_cast<std::size_t>(index)] = value;
    }
    if (nameLength > 0) {
        const unsigned char* name = bytes + kStateHeaderSize;
        // Exactly one terminator, at the end; an empty name is written as no name.
        if (nameLength < 2 || name[nameLength - 1] != '\0' ||
            std::memchr(name, '\0', nameLength - 1) != nullptr)
            return false;
        std::memcpy(state.deviceName.data(), name, nameLength);
    }
    out = state;
    return true;
}

std::size_t writeStateData(const SavedState& state,
                           std::array<unsigned char, kMaxStateSize>& buffer) noexcept {
    const char* end = static_cast<const char*>(
        std::memchr(state.deviceName.data(), '\0', state.deviceName.size()));
    if (!end) return 0;
    const auto nameBytes = static_cast<std::size_t>(end - state.deviceName.data());
    const std::size_t nameLength = nameBytes == 0 ? 0 : nameBytes + 1;
    for (std::int32_t index = 0; index < ParameterIndex::kCount; ++index)
        if (!valueInRange(index, state.values[static_cast<std::size_t>(index)])) return 0;

    const std::size_t length = kStateHeaderSize + nameLength;
    std::memcpy(buffer.data(), kMagic, sizeof kMagic);
    writeU32(buffer.data() + 4, kVersion);
    writeU32(buffer.data() + 8, static_cast<std::uint32_t>(length));
    writeU32(buffer.data() + 12, ParameterIndex::kCount);
    for (std::size_t index = 0; index < state.values.size(); ++index)
        writeU32(buffer.data() + kValuesOffset + 4 * index, bitsOf(state.values[index]));
    writeU32(buffer.data() + kNameLengthOffset, static_cast<std::uint32_t>(nameLength));
    std::memcpy(buffer.data() + kStateHeaderSize, state.deviceName.data(), nameLength);
    return length;
}
