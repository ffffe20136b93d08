#pragma once

#include <cstdint>

// The IMX (D-10 MPEG-2) rates this system knows, with the sizes and geometry of their frames. Every frame is padded
// to the rate's share: bitrate / 200 bytes at 25 Hz, bitrate / 239.76 at 29.97 Hz. One table for every reader and
// writer.
namespace imx
{

// The coded picture: 720 samples by 608 (625) or 512 (525) lines, the 32 lines above the active picture included;
// 576 or 486 of them are displayed.
inline constexpr uint32_t kWidth = 720;
inline constexpr uint32_t kCodedLines625 = 608;
inline constexpr uint32_t kCodedLines525 = 512;

constexpr uint32_t CodedLines(bool fiftyHz)
{
    return fiftyHz ? kCodedLines625 : kCodedLines525;
}

constexpr uint32_t DisplayedLines(bool fiftyHz)
{
    return fiftyHz ? 576 : 486;
}

// Bytes of a 29.97 Hz frame per bit/s of the rate (1 / 239.76).
inline constexpr double kFrameBytesPerBit525 = 0.004170837504170838;

// A frame's size: bitrate / 200 at 25 Hz, the whole part of bitrate / 239.76 at 29.97 Hz (what the servers and
// the readers take).
constexpr uint32_t FrameSize(int64_t bitsPerSecond, bool fiftyHz)
{
    return fiftyHz ? static_cast<uint32_t>(bitsPerSecond / 200)
                   : static_cast<uint32_t>(static_cast<double>(bitsPerSecond) * kFrameBytesPerBit525);
}

// The same, the 29.97 Hz size rounded to the nearest byte: the picture size the OP1a writer pads to.
constexpr uint32_t RoundedFrameSize(int64_t bitsPerSecond, bool fiftyHz)
{
    return fiftyHz ? static_cast<uint32_t>(bitsPerSecond / 200)
                   : static_cast<uint32_t>(static_cast<double>(bitsPerSecond) * kFrameBytesPerBit525 + 0.5);
}

struct Rate {
    int nMegabits;
    uint32_t nFrameSize625;
    uint32_t nFrameSize525;
    uint8_t nCodingVariant625;  // the last byte of the D-10 picture coding label (mxf::kImxCodingPrefix) and
                                // byte 14 of the D-10 container label (mxf::kD10ContainerPrefix)
    uint8_t nCodingVariant525;
};

inline constexpr Rate kRates[] = {
    {30, FrameSize(30000000, true), FrameSize(30000000, false), 0x05, 0x06},
    {40, FrameSize(40000000, true), FrameSize(40000000, false), 0x03, 0x04},
    {50, FrameSize(50000000, true), FrameSize(50000000, false), 0x01, 0x02},
};

// The table's row for a rate in Mb/s, or nullptr.
constexpr const Rate* Find(int64_t megabits)
{
    for (const Rate& r : kRates) {
        if (r.nMegabits == megabits)
            return &r;
    }
    return nullptr;
}

// The table's row for a picture coding label's last byte, or nullptr.
constexpr const Rate* FindByCodingVariant(uint8_t variant)
{
    for (const Rate& r : kRates) {
        if (r.nCodingVariant625 == variant || r.nCodingVariant525 == variant)
            return &r;
    }
    return nullptr;
}

static_assert(kRates[0].nFrameSize625 == 150000 && kRates[0].nFrameSize525 == 125125);
static_assert(kRates[1].nFrameSize625 == 200000 && kRates[1].nFrameSize525 == 166833);
static_assert(kRates[2].nFrameSize625 == 250000 && kRates[2].nFrameSize525 == 208541);
static_assert(RoundedFrameSize(40000000, false) == 166834 && RoundedFrameSize(50000000, false) == 208542);

}  // namespace imx
