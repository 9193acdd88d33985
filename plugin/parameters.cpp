#include "plugin/parameters.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "vst/numeric.h"

int gainToMidiValue(float gain) { return vst::truncateClamped(static_cast<double>(gain) * 127.0, 0, 127); }

std::int32_t gainToDbSteps(float gain) {
    if (std::isnan(gain)) return 0;
    return vst::truncateClamped(static_cast<double>(gain) * 40.0,
                                std::numeric_limits<std::int32_t>::min(),
                                std::numeric_limits<std::int32_t>::max());
}

void formatGainText(float gain, char (&text)[kGainTextSize]) {
    if (std::isnan(gain)) {
        std::snprintf(text, sizeof text, "NaN");
        return;
    }
    const long long decibels = static_cast<long long>(gainToDbSteps(gain)) + 10;
    // Four digits (three with a minus sign) and " dB" fill the seven characters.
    char working[32];
    if (decibels < -999 || decibels > 9999)
        std::snprintf(working, sizeof working, "Huge!");
    else
        std::snprintf(working, sizeof working, "%lld dB", decibels);
    std::snprintf(text, sizeof text, "%.7s", working);
}

bool parameterName(std::int32_t index, char (&name)[kParameterNameSize]) {
    using namespace ParameterIndex;
    // Built at full length, then cut: the longest names ("Ln 47+48") fill the 8 characters.
    char working[32];
    if (index == kMidiDevice)
        std::snprintf(working, sizeof working, "MidiDev");
    else if (index == kRefresh)
        std::snprintf(working, sizeof working, "Refresh");
    else if (isGainIndex(index))
        std::snprintf(working, sizeof working, "Gain %d", static_cast<int>(index - 1));
    else if (isLinkIndex(index))
        std::snprintf(working, sizeof working, "Ln %d+%d", static_cast<int>(2 * index - 99),
                      static_cast<int>(2 * index - 98));
    else
        return false;
    std::snprintf(name, sizeof name, "%.8s", working);
    return true;
}
