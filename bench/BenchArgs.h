#pragma once
// What the benchmarks share in reading their command line.

#include <cstdint>

namespace bench
{

// A whole decimal number from lowest to highest; false for anything else, so that a mistyped argument never runs a
// benchmark of another size.
inline bool ReadCount(const char* text, uint64_t lowest, uint64_t highest, uint64_t* pValue)
{
    uint64_t value = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value > (highest - static_cast<uint64_t>(*p - '0')) / 10)
            return false;
        value = value * 10 + static_cast<uint64_t>(*p - '0');
    }
    if (p == text || *p != '\0' || value < lowest)
        return false;
    *pValue = value;
    return true;
}

}  // namespace bench
