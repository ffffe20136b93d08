#include "reading/mxf/MXFKlv.h"

#include <algorithm>

namespace mxf
{

bool IsFillKey(const uint8_t* key)
{
    // Versions 1 and 2 differ in byte 7 only.
    return Matches(key, kFillKey, 7) && (key[7] == 0x01 || key[7] == 0x02) && Matches(key + 8, kFillKey + 8, 8);
}

bool IsSet(const uint8_t* key, uint8_t type)
{
    return Matches(key, kSetPrefix, 14) && key[14] == type && key[15] == 0x00;
}

bool IsPictureDescriptor(const uint8_t* key)
{
    return IsSet(key, kCdciDescriptor) || IsSet(key, kMpegVideoDescriptor);
}

bool IsSoundDescriptor(const uint8_t* key)
{
    return IsSet(key, kGenericSoundDescriptor) || IsSet(key, kAes3Descriptor) || IsSet(key, kWaveDescriptor) ||
           Matches(key, kSoundContainerLabel, 16);
}

int32_t EssenceItemType(const uint8_t* key)
{
    return Matches(key, kEssenceElement, kEssenceCheck) ? key[12] : -1;
}

bool ParseBerLength(const uint8_t* p, const uint8_t* end, uint64_t* length, uint32_t* size)
{
    if (p >= end)
        return false;
    if (p[0] < 0x80) {
        *length = p[0];
        *size = 1;
        return true;
    }
    const uint32_t n = p[0] & 0x7F;
    if (n > 8 || static_cast<uint64_t>(end - p) < 1 + uint64_t{n})
        return false;
    uint64_t value = 0;
    for (uint32_t i = 1; i <= n; ++i)
        value = value << 8 | p[i];
    *length = value;
    *size = 1 + n;
    return true;
}

bool ParseKlv(const uint8_t* p, const uint8_t* end, Klv* klv)
{
    if (p >= end || end - p < 17)
        return false;
    uint64_t length = 0;
    uint32_t size = 0;
    if (!ParseBerLength(p + 16, end, &length, &size))
        return false;
    const uint64_t header = 16 + uint64_t{size};
    if (length > static_cast<uint64_t>(end - p) - header)
        return false;
    klv->pKey = p;
    klv->pValue = p + header;
    klv->nLength = length;
    klv->nTotal = header + length;
    return true;
}

bool FindKey(const uint8_t* p, const uint8_t* end, const uint8_t* prefix, size_t length, Klv* found)
{
    Klv klv;
    while (ParseKlv(p, end, &klv)) {
        if (Matches(klv.pKey, prefix, length)) {
            *found = klv;
            return true;
        }
        p += klv.nTotal;
    }
    return false;
}

}  // namespace mxf

namespace mxf
{

int32_t WalkElements(const uint8_t* p, const uint8_t* end, int32_t count, uint64_t trim, uint8_t* out, uint64_t* total)
{
    *total = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (i == 0 && (end - p < 16 || EssenceItemType(p) < 0))
            return kWalkNoKey;
        uint64_t length = 0;
        uint32_t size = 0;
        if (end - p < 17 || !ParseBerLength(p + 16, end, &length, &size))
            return i == 0 ? kWalkFirstUnreadable : kWalkFurtherUnreadable;
        const uint8_t* value = p + 16 + size;
        if (length > static_cast<uint64_t>(end - value))
            return kWalkTooLong;
        const uint64_t taken = length - std::min(length, trim);
        if (out)
            std::memcpy(out + *total, value, taken);
        *total += taken;
        p = value + length;
        Klv fill;
        if (end - p >= 17 && IsFillKey(p) && ParseKlv(p, end, &fill))
            p += fill.nTotal;
    }
    return kWalkOk;
}

}  // namespace mxf
