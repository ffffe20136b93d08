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

namespace mxf
{

double UnitPositionToTime(uint64_t position, uint64_t start, uint32_t unit, uint32_t fieldsPerEditUnit,
                          double fieldRate)
{
    if (unit == 0 || position < start)
        return 0.0;
    return static_cast<double>((position - start) / unit) * fieldsPerEditUnit / fieldRate;
}

void SetSoundFieldRate(double fieldRate, int64_t duration, uint32_t* fieldsPerEditUnit, double* editRate,
                       double* durationSeconds)
{
    *fieldsPerEditUnit = 2;
    *editRate = fieldRate * 0.5;
    *durationSeconds = *editRate > 0.0 ? static_cast<double>(duration) / *editRate : 0.0;
}

}  // namespace mxf

namespace mxf
{

int32_t RoundedMilliseconds(int64_t units, double rate)
{
    const double ms = std::round(static_cast<double>(units) * 1000.0 / rate);
    if (std::isnan(ms))
        return 0;
    return static_cast<int32_t>(ms < -2147483648.0 ? -2147483648.0 : ms > 2147483647.0 ? 2147483647.0 : ms);
}

}  // namespace mxf
