#include "sender/DornCodecFrames.h"

#include <cmath>
#include <cstring>

#include "common/ByteOrder.h"
#include "media/ImxFrames.h"
#include "media/Vc3Compressions.h"

namespace dorncodec
{

int64_t MeasureImxBitrate(const uint8_t* data, uint32_t length)
{
    if (!data)
        return 0;
    for (uint32_t i = 0; i + 11 <= length; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB3) {
            const uint32_t value = uint32_t{data[i + 8]} << 10 | uint32_t{data[i + 9]} << 2 | data[i + 10] >> 6;
            return int64_t{400} * value;
        }
    }
    return 0;
}

int ImxMegabits(int64_t bitrate)
{
    double mbps = static_cast<double>(bitrate);
    if (bitrate > 999999)
        mbps /= 1000000.0;
    else if (bitrate > 999)
        mbps /= 1000.0;
    const int64_t rounded = std::llround(mbps);
    if (std::fabs(mbps - static_cast<double>(rounded)) > 0.01)
        return 0;
    return imx::Find(rounded) ? static_cast<int>(rounded) : 0;
}

HydrelUnits HydrelUnitsOf(uint32_t compressionId)
{
    if (const vc3::Compression* c = vc3::Find(compressionId))
        return {c->nUnits, c->nUnitSize, c->bHighQuality};
    return {2, vc3::kDefaultUnitSize, false};
}

uint32_t HydrelCompressionId(const uint8_t* frame, uint32_t length)
{
    return frame && length >= 44 ? ReadBigEndian32(frame + 40) : 0;
}

uint32_t HydrelCodedSizeOffset(const uint8_t* unit, uint32_t unitSize)
{
    if (unitSize < 366)
        return 0;
    // The field follows the row table inside the 640-byte header; 68 rows (1080 progressive lines) fill the
    // header, and the word after them is coded data.
    const uint32_t offset = 368 + 4 * uint32_t{unit[365]};
    return offset + 4 <= unitSize && offset + 4 <= kHydrelHeaderSize ? offset : 0;
}

uint32_t PrepareHydrelUnit(uint8_t* unit, uint32_t unitSize)
{
    if (unitSize < 8)
        return 0;
    const uint32_t used = TrimmedLength(unit, unitSize - 4);
    const uint32_t field = HydrelCodedSizeOffset(unit, unitSize);
    if (field && used >= 640) {
        const uint32_t coded = used - 640;
        unit[field] = static_cast<uint8_t>(coded >> 24);
        unit[field + 1] = static_cast<uint8_t>(coded >> 16);
        unit[field + 2] = static_cast<uint8_t>(coded >> 8);
        unit[field + 3] = static_cast<uint8_t>(coded);
    }
    unit[6] &= static_cast<uint8_t>(~0x10);
    return used;
}

uint32_t TrimmedLength(const uint8_t* data, uint32_t length)
{
    // A constant-rate picture ends in a long run of stuffing zeros: skip it 32 bytes at a time (the compiler makes
    // that a vector test), then finish byte by byte.
    while (length >= 32) {
        uint64_t words[4];
        std::memcpy(words, data + length - 32, sizeof words);
        if ((words[0] | words[1] | words[2] | words[3]) != 0)
            break;
        length -= 32;
    }
    while (length > 0 && data[length - 1] == 0)
        --length;
    return length;
}

}  // namespace dorncodec
