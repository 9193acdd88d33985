#pragma once
// Float-to-integer conversions that stay defined for every input a host can send.

#include <cmath>
#include <cstdint>
#include <optional>

namespace vst {

// Truncates toward zero. NaN, infinities and values beyond the 32-bit range have no answer.
inline std::optional<std::int32_t> truncateToInt32(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

// Truncates toward zero and clamps into [low, high]; NaN gives `low`.
inline std::int32_t truncateClamped(double value, std::int32_t low, std::int32_t high) {
    if (std::isnan(value)) return low;
    const double t = std::trunc(value);
    if (t <= low) return low;
    if (t >= high) return high;
    return static_cast<std::int32_t>(t);
}

} // namespace vst
