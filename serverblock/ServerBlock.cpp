#include "serverblock/ServerBlock.h"

bool IsTwoFieldVideoFormat(uint32_t videoFormat)
{
    return videoFormat == 4 || videoFormat == 8 || videoFormat == 9;
}

bool IsHDStandard(uint32_t videoStandard)
{
    return videoStandard == 3 || videoStandard == 4;
}

uint32_t GetFieldsPerDay(uint32_t rateClass)
{
    switch (rateClass) {
        case 3:
            return 4320000;
        case 4:
            return 5178816;
        case 5:
            return 5184000;
        default:
            return 0;
    }
}

uint32_t GetAudioUnit(uint32_t rateSystem)
{
    return rateSystem == 3 || rateSystem == 6 ? 0x2E00 : 0x2600;
}

uint32_t VideoFormatFromCodecNibble(uint32_t nibble, bool hd)
{
    switch (nibble) {
        case 0:
            return hd ? 2 : 1;
        case 1:
            return hd ? 1 : 0;
        case 2:
            return 3;
        case 3:
            return 4;
        case 4:
        case 5:
        case 6:
        case 7:
            return hd ? nibble + 1 : 0;
        case 8:
            return hd ? 0 : 9;
        default:
            return 0;
    }
}

void ByteSwap32Buffer(void* buffer, size_t bytes)
{
    auto* p = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i + 4 <= bytes; i += 4) {
        uint8_t a = p[i], b = p[i + 1];
        p[i] = p[i + 3];
        p[i + 1] = p[i + 2];
        p[i + 2] = b;
        p[i + 3] = a;
    }
}

void ByteSwap32Copy(const void* source, void* destination, size_t bytes)
{
    const auto* s = static_cast<const uint8_t*>(source);
    auto* d = static_cast<uint8_t*>(destination);
    for (size_t i = 0; i + 4 <= bytes; i += 4) {
        d[i] = s[i + 3];
        d[i + 1] = s[i + 2];
        d[i + 2] = s[i + 1];
        d[i + 3] = s[i];
    }
}

void WriteBigEndian32(void* destination, uint32_t value)
{
    auto* d = static_cast<uint8_t*>(destination);
    d[0] = static_cast<uint8_t>(value >> 24);
    d[1] = static_cast<uint8_t>(value >> 16);
    d[2] = static_cast<uint8_t>(value >> 8);
    d[3] = static_cast<uint8_t>(value);
}

void WriteBigEndian16(void* destination, uint16_t value)
{
    auto* d = static_cast<uint8_t*>(destination);
    d[0] = static_cast<uint8_t>(value >> 8);
    d[1] = static_cast<uint8_t>(value);
}

void WriteLittleEndian32(void* destination, uint32_t value)
{
    auto* d = static_cast<uint8_t*>(destination);
    d[0] = static_cast<uint8_t>(value);
    d[1] = static_cast<uint8_t>(value >> 8);
    d[2] = static_cast<uint8_t>(value >> 16);
    d[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t ReadLittleEndian32(const void* source)
{
    const auto* b = static_cast<const uint8_t*>(source);
    return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}
