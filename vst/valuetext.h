#pragma once
// The framework's value-to-text rules.

#include "vst/aeffect.h"

namespace vst {

// Eight positions (sign, integer digits, point, fraction digits), cut to maxLen, never rounded.
// Values whose integer part does not fit give "Huge!", NaN gives "NaN".
void formatFloat(float value, char* text, VstInt32 maxLen);

// 20 * log10(value) through formatFloat; zero and below give "-oo".
void formatDecibels(float value, char* text, VstInt32 maxLen);

} // namespace vst
