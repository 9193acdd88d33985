// libFuzzer target: the value texts a host shows for a parameter, on any float and any bound:
// the framework's float and decibel texts, the gain's "NN dB", the 7-bit value and the
// parameter names. Every text is written into a block of exactly its bound plus one, so that
// AddressSanitizer sees a byte too far, and must end there; the gain text and the 7-bit value
// keep their ranges.
//
// Input: records of a kind byte (0 float text, 1 decibels, 2 gain text and 7-bit value,
// 3 parameter name), four bytes of a float (or of an index for names) and a bound byte.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "plugin/parameters.h"
#include "vst/valuetext.h"

namespace {

[[noreturn]] void finding(const char* what, float value, int bound) {
    std::fprintf(stderr, "fuzz_valuetext: %s (value %a, bound %d)\n", what, value, bound);
    std::abort();
}

// `bound` characters and the terminator, and not a byte more.
void checkText(const char* what, float value, int bound,
               void (*write)(float value, char* text, VstInt32 bound)) {
    const auto size = static_cast<std::size_t>(bound) + 1;
    auto text = std::make_unique<char[]>(size);
    std::memset(text.get(), 0x7F, size);
    write(value, text.get(), bound);
    if (!std::memchr(text.get(), 0, size)) finding(what, value, bound);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (std::size_t at = 0; at + 6 <= size; at += 6) {
        const std::uint8_t kind = data[at] % 4;
        float value = 0.0f;
        std::memcpy(&value, data + at + 1, sizeof value);
        const int bound = data[at + 5] % 64;
        switch (kind) {
        case 0:
            checkText("float text not terminated within its bound", value, bound, vst::formatFloat);
            break;
        case 1:
            checkText("decibel text not terminated within its bound", value, bound,
                      vst::formatDecibels);
            break;
        case 2: {
            char gain[kGainTextSize];
            std::memset(gain, 0x7F, sizeof gain);
            formatGainText(value, gain);
            if (!std::memchr(gain, 0, sizeof gain)) finding("gain text too long", value, 7);
            const int midi = gainToMidiValue(value);
            if (midi < 0 || midi > 127) finding("7-bit value out of range", value, midi);
            (void)gainToDbSteps(value);
            break;
        }
        default: {
            std::int32_t index = 0;
            std::memcpy(&index, data + at + 1, sizeof index);
            char name[kParameterNameSize];
            std::memset(name, 0x7F, sizeof name);
            const bool known = parameterName(index, name);
            if (known != isParameterIndex(index)) finding("a name for no parameter", value, index);
            if (known && !std::memchr(name, 0, sizeof name)) finding("name too long", value, index);
            break;
        }
        }
    }
    return 0;
}
