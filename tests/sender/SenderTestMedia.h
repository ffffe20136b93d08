#pragma once
// Frames and audio the sender's writer tests feed: codec frames from ffmpeg (cached in the build tree) and a
// known ramp per channel, with the server's 24-bit big-endian samples it must come back as.

#include <cstdint>
#include <string>
#include <vector>

#include "sender/CDorn_Korvo_Writer.h"
#include "tests/writers/WriterTestMedia.h"

namespace sendertest
{

using Bytes = std::vector<uint8_t>;

// The ramp's sample n of channel c as a signed value of the sample width.
inline int32_t RampValue(uint32_t n, int channel, int bits)
{
    if (bits == 16)
        return static_cast<int16_t>(static_cast<uint16_t>(n * 13 + channel * 4099 + (n % 2 ? 0x8000 : 0)));
    const uint32_t v = (n * 2654435u + static_cast<uint32_t>(channel) * 1000003u) & 0xFFFFFF;
    return v & 0x800000 ? static_cast<int32_t>(v) - 0x1000000 : static_cast<int32_t>(v);
}

// Samples [first, first + count) of a channel as the host sends them: little-endian of the sample width.
inline Bytes RampBytes(uint32_t first, uint32_t count, int channel, int bits)
{
    Bytes out;
    const int bps = bits / 8;
    for (uint32_t n = first; n < first + count; ++n) {
        const int32_t v = RampValue(n, channel, bits);
        for (int b = 0; b < bps; ++b)
            out.push_back(static_cast<uint8_t>(v >> (8 * b)));
    }
    return out;
}

// The 24-bit value the server stores for a ramp sample.
inline int32_t ServerValue(uint32_t n, int channel, int bits)
{
    const int32_t v = RampValue(n, channel, bits);
    if (bits == 24)
        return v;
    const double scaled = v / 32767.0 * 8388607.0;
    return scaled < -8388608.0 ? -8388608 : static_cast<int32_t>(scaled);
}

// The interleaved big-endian samples of server channels for samples [0, count): silent above the source channels.
inline Bytes ServerSamples(uint32_t count, int sourceChannels, int serverChannels, int bits)
{
    Bytes out;
    for (uint32_t n = 0; n < count; ++n)
        for (int c = 0; c < serverChannels; ++c) {
            const int32_t v = c < sourceChannels ? ServerValue(n, c, bits) : 0;
            out.push_back(static_cast<uint8_t>(v >> 16));
            out.push_back(static_cast<uint8_t>(v >> 8));
            out.push_back(static_cast<uint8_t>(v));
        }
    return out;
}

inline std::vector<std::string> ImxFrames(int mbps, bool is625, int frames)
{
    return writertest::SplitFrames(testsupport::ReadWholeFile(writertest::ImxEssence(mbps, is625, frames)));
}

}  // namespace sendertest
