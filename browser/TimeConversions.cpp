#include "browser/TimeConversions.h"

#include <ctime>

int64_t LocalTimeToUtc(int64_t localTime, int32_t* hourOffset)
{
    // The local wall-clock fields, read as if the count were UTC, then placed by the zone's own rules.
    const time_t wall = static_cast<time_t>(localTime);
    std::tm fields{};
    if (!gmtime_r(&wall, &fields))
        return localTime;
    fields.tm_isdst = -1;
    tzset();
    const time_t utc = mktime(&fields);
    if (utc == static_cast<time_t>(-1))
        return localTime;
    const int64_t offsetSeconds = localTime - static_cast<int64_t>(utc);
    if (hourOffset)
        *hourOffset = static_cast<int32_t>(offsetSeconds / 3600);
    return static_cast<int64_t>(utc);
}

namespace
{
uint8_t HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return static_cast<uint8_t>(c - 'a' + 10);
    return 0;
}
}  // namespace

void HexTextToBytes(const char* text, uint8_t* bytes, size_t count)
{
    if (!bytes || count == 0)
        return;
    bytes[0] = 0;
    if (!text)
        return;
    size_t at = 0;
    bool high = true;
    for (const char* p = text; *p; ++p) {
        if (high) {
            bytes[at] = static_cast<uint8_t>(HexValue(*p) << 4);
            high = false;
            continue;
        }
        bytes[at] = static_cast<uint8_t>(bytes[at] | HexValue(*p));
        high = true;
        if (++at == count)
            return;
        bytes[at] = 0;
    }
}
