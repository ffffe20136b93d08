#include "parvex/CSdiFrameTimecode.h"

#include <algorithm>
#include <cstring>

namespace
{

constexpr uint8_t kWhiteAbove = 0xA8;
constexpr uint8_t kBlackBelow = 0x28;
constexpr size_t kSampleBytes = 2;
constexpr size_t kSyncSearchEnd = 400;  // the first white sample lies among the first 200 samples
constexpr size_t kScanEnd = 0x590;      // no run starts past here
constexpr uint32_t kMinRun = 5;         // samples that make a bit; bits are 7 and 8 samples, alternately

bool IsLevel(uint8_t luma, bool white)
{
    return white ? luma > kWhiteAbove : luma < kBlackBelow;
}

}  // namespace

void CSdiFrameTimecode::StoreBit(uint32_t bit)
{
    if (bit)
        _bits[_nBitCount / 8] |= static_cast<uint8_t>(1u << (_nBitCount % 8));
    // The VITC check polynomial x^8 + 1: a rotation with the bit added in.
    _nCrc = static_cast<uint8_t>(((_nCrc << 1) ^ bit) ^ (_nCrc >> 7));
    ++_nBitCount;
}

uint32_t CSdiFrameTimecode::Bits(uint32_t first, uint32_t count) const
{
    uint32_t value = 0;
    for (uint32_t i = 0; i < count; ++i)
        value |= ((_bits[(first + i) / 8] >> ((first + i) % 8)) & 1u) << i;
    return value;
}

uint32_t CSdiFrameTimecode::DecodeLine(const uint8_t* line, size_t length)
{
    std::memset(_bits, 0, sizeof _bits);
    _nBitCount = 0;
    _nCrc = 0;
    if (!line)
        return kNoTimecode;
    // Whole samples only, and never past the line.
    const size_t end = std::min(length, kLineBytes) / kSampleBytes * kSampleBytes;

    size_t pos = 0;
    while (pos < std::min(kSyncSearchEnd, end) && !IsLevel(line[pos + 1], true))
        pos += kSampleBytes;
    if (pos >= std::min(kSyncSearchEnd, end))
        return kNoTimecode;

    bool white = true;
    while (pos < std::min(kScanEnd, end)) {
        uint32_t run = 0;
        while (pos < end && IsLevel(line[pos + 1], white)) {
            ++run;
            pos += kSampleBytes;
        }
        if (run < kMinRun) {
            // Too short for a bit (an edge or noise): the level stays; the sample that ended it is used up.
            pos += kSampleBytes;
            continue;
        }
        uint32_t step = 0;
        int64_t left = run;
        while (left >= kMinRun && _nBitCount < kBitCount) {
            step = _nBitCount % 2 == 0 ? 2 : 3;
            StoreBit(white ? 1 : 0);
            if (_nBitCount == 2 && (Bits(0, 1) != 1 || Bits(1, 1) != 0))
                return kNoTimecode;
            left -= kMinRun + step;
        }
        // Over the edge into the next run: the last bit's step less the sample that ended this one.
        if (step > 0)
            pos += (step - 1) * kSampleBytes;
        white = !white;
    }
    if (_nBitCount < kBitCount || _nCrc != 0)
        return kNoTimecode;
    return GetPackedTc();
}

uint32_t CSdiFrameTimecode::GetPackedTc()
{
    const uint32_t frames = Bits(2, 4) + 10 * Bits(12, 2);
    const uint32_t seconds = Bits(22, 4) + 10 * Bits(32, 3);
    const uint32_t minutes = Bits(42, 4) + 10 * Bits(52, 3);
    const uint32_t hours = Bits(62, 4) + 10 * Bits(72, 2);
    _bOddField = Bits(75, 1) != 0;
    return hours << 24 | minutes << 16 | seconds << 8 | frames;
}
