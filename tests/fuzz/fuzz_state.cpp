// libFuzzer target: the state data a host gives back with a project. Whatever the bytes, the
// reader answers without reading outside them; what it accepts is in range, terminated, and
// written back byte for byte the same.

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "plugin/statedata.h"

namespace {

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "state data finding: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact copy, so that a read past the input's end is a read past an allocation.
    const std::vector<std::uint8_t> blob(data, data + size);
    SavedState state;
    state.deviceName.fill('#');
    if (!readStateData(blob.data(), blob.size(), state)) {
        if (state.deviceName[0] != '#') finding("a refused blob changed the state");
        return 0;
    }
    if (!std::memchr(state.deviceName.data(), '\0', state.deviceName.size()))
        finding("an accepted name has no terminator");
    for (std::int32_t index = 0; index < ParameterIndex::kCount; ++index) {
        const float value = state.values[static_cast<std::size_t>(index)];
        if (!std::isfinite(value) || savableValue(index, value) != value)
            finding("an accepted value is out of its range");
    }
    std::array<unsigned char, kMaxStateSize> written{};
    const std::size_t length = writeStateData(state, written);
    if (length != blob.size() || std::memcmp(written.data(), blob.data(), length) != 0)
        finding("an accepted blob does not write back the same");
    return 0;
}
