#pragma once

#include <cstdint>

// The VC-3 (Hydrel) compression ids this system knows, with the sizes of their frames: a frame is nUnits coding
// units (one per field for the two-unit kinds) of nUnitSize bytes each. One table for every reader and writer.
namespace vc3
{

struct Compression {
    uint32_t nId;
    uint32_t nFrameSize;
    uint32_t nUnitSize;
    uint32_t nUnits;
    char cLetter;       // the rate family the receiver names its pictures by: 'H' high, 'L' low
    bool bHighQuality;  // the sender's high-quality (10-bit or higher-rate) variant of its size
};

inline constexpr Compression kCompressions[] = {
    {1235, 0xE0000, 0xE0000, 1, 'H', false}, {1238, 0xE0000, 0xE0000, 1, 'H', false},
    {1237, 0x94000, 0x94000, 1, 'L', true},  {1241, 0xE0000, 0x70000, 2, 'H', false},
    {1243, 0xE0000, 0x70000, 2, 'H', true},  {1242, 0x94000, 0x4A000, 2, 'L', false},
    {1250, 0x70000, 0x70000, 1, 'H', false}, {1251, 0x70000, 0x70000, 1, 'H', true},
    {1252, 0x4A000, 0x4A000, 1, 'L', false},
};

// The largest frame of any id.
inline constexpr uint32_t kLargestFrameSize = [] {
    uint32_t largest = 0;
    for (const Compression& c : kCompressions)
        largest = c.nFrameSize > largest ? c.nFrameSize : largest;
    return largest;
}();
static_assert(kLargestFrameSize == 0xE0000);

// The unit size of an id the table does not know.
inline constexpr uint32_t kDefaultUnitSize = 0x4A000;

// The table's row for an id, or nullptr.
constexpr const Compression* Find(uint32_t compressionId)
{
    for (const Compression& c : kCompressions) {
        if (c.nId == compressionId)
            return &c;
    }
    return nullptr;
}

// Whether a frame or unit of this size belongs to a high-rate ('H') id.
constexpr bool IsHighRateSize(uint32_t size)
{
    for (const Compression& c : kCompressions) {
        if (c.cLetter == 'H' && (c.nFrameSize == size || c.nUnitSize == size))
            return true;
    }
    return false;
}

// The size of one coding unit of the id.
constexpr uint32_t UnitSize(uint32_t compressionId)
{
    const Compression* c = Find(compressionId);
    return c ? c->nUnitSize : kDefaultUnitSize;
}

}  // namespace vc3
