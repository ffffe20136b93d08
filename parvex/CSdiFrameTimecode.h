#pragma once

#include <cstddef>
#include <cstdint>

// Reads the vertical interval timecode keyed into one line of an uncompressed 8-bit 4:2:2 SDI frame
// (two bytes per sample, luma second, 720 samples).
class CSdiFrameTimecode
{
public:
    static constexpr uint32_t kNoTimecode = 0x80000000;
    static constexpr size_t kLineBytes = 0x5A0;

    CSdiFrameTimecode() = default;
    virtual ~CSdiFrameTimecode() = default;

    // The timecode as hours << 24 | minutes << 16 | seconds << 8 | frames, or kNoTimecode. Reads at most
    // length bytes of the line (a full line is kLineBytes).
    uint32_t DecodeLine(const uint8_t* line, size_t length);
    // The packed timecode of the bits received; sets the odd-field flag.
    uint32_t GetPackedTc();
    bool IsOddField() const { return _bOddField; }

private:
    static constexpr uint32_t kBitCount = 90;

    void StoreBit(uint32_t bit);
    uint32_t Bits(uint32_t first, uint32_t count) const;

    uint8_t _bits[12] = {};
    uint32_t _nBitCount = 0;
    uint8_t _nCrc = 0;
    bool _bOddField = false;
};
