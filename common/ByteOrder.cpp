#include "common/ByteOrder.h"

void ReverseByteCopy(const void* source, int32_t count, void* destination)
{
    const auto* src = static_cast<const uint8_t*>(source);
    auto* dst = static_cast<uint8_t*>(destination);
    for (int32_t i = 0; i < count; ++i)
        dst[count - 1 - i] = src[i];
}

uint32_t ReadBigEndian32(const void* source)
{
    const auto* b = static_cast<const uint8_t*>(source);
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

uint16_t ReadBigEndian16(const void* source)
{
    const auto* b = static_cast<const uint8_t*>(source);
    return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

void ReadBigEndian32(const void* source, uint32_t* value)
{
    *value = ReadBigEndian32(source);
}

void ReadBigEndian16(const void* source, uint16_t* value)
{
    *value = ReadBigEndian16(source);
}
