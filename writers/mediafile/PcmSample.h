#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

// A float sample (full scale +-1.0, as the sender hands them over: integer / 32767 or / 8388607) as an integer of
// 16 or 24 bits: rounded to the nearest, so every integer comes back as it was given, the most negative one
// included; beyond full scale clamped to the width; NaN is silence.
inline int32_t PcmFromFloat(float sample, int bits)
{
    if (std::isnan(sample))
        return 0;
    const double scale = bits == 16 ? 32767.0 : 8388607.0;
    const double value = std::nearbyint(static_cast<double>(sample) * scale);
    return static_cast<int32_t>(std::clamp(value, -scale - 1.0, scale));
}
