#include "vst/valuetext.h"

#include <cmath>

#include "vst/vststrings.h"

namespace vst {
namespace {

constexpr int kPositions = 8;

std::size_t boundOf(VstInt32 maxLen) { return maxLen > 0 ? static_cast<std::size_t>(maxLen) : 0; }

char digitOf(double value) { return static_cast<char>('0' + static_cast<int>(std::fmod(value, 10.0))); }

} // namespace

void formatFloat(float value, char* text, VstInt32 maxLen) {
    const std::size_t bound = boundOf(maxLen);
    double v = value;
    if (std::isnan(v)) {
        boundedCopy(text, "NaN", bound);
        return;
    }
    int positions = 0;
    const bool negative = v < 0.0;
    if (negative) {
        v = -v;
        ++positions;
    }
    // Seven integer digits fit beside the point, six beside a minus sign; anything longer
    // would lose its leading digits, so it is reported as out of range instead.
    if (v >= (negative ? 1000000.0 : 10000000.0)) {
        boundedCopy(text, "Huge!", bound);
        return;
    }

    char scratch[32];
    char* cursor = scratch + sizeof scratch;
    *--cursor = '\0';
    *--cursor = '.';
    ++positions;
    double integ = std::floor(v);
    do {
        *--cursor = digitOf(integ);
        integ /= 10.0;
        ++positions;
    } while (integ >= 1.0 && positions < kPositions);
    if (negative) *--cursor = '-';
    boundedCopy(text, cursor, bound);
    if (positions >= kPositions) return;

    double m = std::fmod(v, 1.0) * std::pow(10.0, kPositions - positions);
    cursor = scratch + sizeof scratch;
    *--cursor = '\0';
    for (; positions < kPositions; ++positions) {
        if (m <= 0.0) {
            *--cursor = '0';
        } else {
            *--cursor = digitOf(m);
            m /= 10.0;
        }
    }
    boundedAppend(text, cursor, bound);
}

void formatDecibels(float value, char* text, VstInt32 maxLen) {
    if (value <= 0.0f) {
        boundedCopy(text, "-oo", boundOf(maxLen));
        return;
    }
    const float logarithm = static_cast<float>(std::log10(static_cast<double>(value)));
    formatFloat(static_cast<float>(20.0 * logarithm), text, maxLen);
}

} // namespace vst
