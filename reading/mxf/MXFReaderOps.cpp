#include "reading/mxf/MXFReaderOps.h"

#include <cmath>

#include "reading/framework/CDataReader.h"
#include "reading/mxf/MXFKlv.h"

namespace mxf
{

double NonNegativeSeconds(double seconds)
{
    return std::isnan(seconds) || seconds < 0.0 ? 0.0 : seconds;
}

int32_t GoToEvenFieldTime(CDataReader& reader, double* seconds, double fieldRate)
{
    if (!seconds)
        return 1;
    const double time = NonNegativeSeconds(*seconds);
    const double fields = time * fieldRate + 0.5;
    if (!(fields < 9.0e18) || !(fieldRate > 0.0))
        return 1;
    const int64_t field = static_cast<int64_t>(fields) & ~int64_t{1};
    *seconds = static_cast<double>(field) / fieldRate;
    return reader.GoToFieldOffset(field);
}

int32_t GoToFieldAt50(CDataReader& reader, int64_t field)
{
    double seconds = static_cast<double>(field) * 0.02;
    return reader.GoToTime(&seconds);
}

bool AspectCode(const uint8_t* descriptor, uint64_t length, uint8_t* code)
{
    if (!descriptor)
        return false;
    bool found = false;
    bool known = false;
    ForEachLocalTag(descriptor, length, [&](uint16_t tag, const uint8_t* v, uint32_t size) {
        if (tag != 0x320E || size < 8)
            return true;
        found = true;
        if (v[3] == 4 && v[7] == 3) {
            *code = 2;
            known = true;
        } else if (v[3] == 16 && v[7] == 9) {
            *code = 3;
            known = true;
        }
        return false;
    });
    if (!found) {
        *code = 0;
        return true;
    }
    return known;
}

}  // namespace mxf
