#pragma once

#include <cstdint>

// The DVCPRO (DV) kinds this system knows, with the sizes and geometry of their frames. A frame is nChannels DIF
// channels of 10 (60 Hz) or 12 (50 Hz) DIF sequences of 150 blocks of 80 bytes. The video servers store a frame
// packed: only the 135 video blocks of each kept sequence. One table for every reader and writer.
namespace dvcpro
{

inline constexpr uint32_t kDifBlockSize = 80;
inline constexpr uint32_t kDifSequenceSize = 150 * kDifBlockSize;     // 12000
inline constexpr uint32_t kPackedSequenceSize = 135 * kDifBlockSize;  // 10800: the video blocks only

// Places in a frame's first DIF sequence.
inline constexpr uint32_t kSystemByte = 3;        // bit 7 set: 50 Hz
inline constexpr uint32_t kStreamTypeByte = 451;  // the VAUX source pack's stream type, low 5 bits
inline constexpr uint32_t kAspectByte = 455;      // the VAUX source control pack's aspect
inline constexpr uint8_t kStreamType1080 = 0x14;  // 100 Mb/s, 1080 lines
inline constexpr uint8_t kStreamType720 = 0x18;   // 100 Mb/s, 720 lines

struct Kind {
    uint32_t nMegabits;  // 25, 50, 100
    uint32_t nChannels;  // DIF channels of one frame
    uint32_t nWidth50, nWidth60;
    uint32_t nLines;  // 1080 and 720 whatever the rate; 576 (50 Hz) or 480 (60 Hz) for the SD kinds: see Lines
};

inline constexpr Kind kDv25 = {25, 1, 720, 720, 576};
inline constexpr Kind kDv50 = {50, 2, 720, 720, 576};
inline constexpr Kind kDv1080 = {100, 4, 1440, 1280, 1080};
inline constexpr Kind kDv720 = {100, 2, 960, 960, 720};
inline constexpr Kind kKinds[] = {kDv25, kDv50, kDv1080, kDv720};

// DIF sequences of one channel.
constexpr uint32_t Sequences(bool fiftyHz)
{
    return fiftyHz ? 12 : 10;
}

// Bytes of one channel: a whole 25 Mb/s frame.
constexpr uint32_t ChannelSize(bool fiftyHz)
{
    return Sequences(fiftyHz) * kDifSequenceSize;
}

constexpr uint32_t FrameSize(const Kind& kind, bool fiftyHz)
{
    return kind.nChannels * ChannelSize(fiftyHz);
}

constexpr uint32_t Width(const Kind& kind, bool fiftyHz)
{
    return fiftyHz ? kind.nWidth50 : kind.nWidth60;
}

constexpr uint32_t Lines(const Kind& kind, bool fiftyHz)
{
    return kind.nLines == 576 && !fiftyHz ? 480 : kind.nLines;
}

// The largest frame of any kind: the 50 Hz 1080-line one.
inline constexpr uint32_t kLargestFrameSize = FrameSize(kDv1080, true);

static_assert(FrameSize(kDv25, true) == 144000 && FrameSize(kDv25, false) == 120000);
static_assert(FrameSize(kDv50, true) == 288000 && FrameSize(kDv50, false) == 240000);
static_assert(FrameSize(kDv1080, true) == 576000 && FrameSize(kDv1080, false) == 480000);
static_assert(FrameSize(kDv720, true) == 288000 && FrameSize(kDv720, false) == 240000);

}  // namespace dvcpro
