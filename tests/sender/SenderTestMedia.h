#pragma once
// Frames and audio the sender's writer tests feed: codec frames from ffmpeg (cached in the build tree) and a
// known ramp per channel, with the server's 24-bit big-endian samples it must come back as.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sender/CDorn_Korvo_Writer.h"
#include "sender/DornCodecFrames.h"
#include "serverblock/CKorvoDVCProHelper.h"
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
    return v * 256;
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

// A DVCPRO frame as the server keeps it: packed by the converter (empty when it refuses the frame).
inline std::string PackedDVCPro(const uint8_t* frame, uint32_t size)
{
    CKorvoDVCProHelper helper;
    uint32_t packedSize = 0;
    if (!helper.InitFromDVCProFrame(frame, size) || !helper.ConvertFromDVCPro(frame, size))
        return std::string();
    const uint8_t* packed = helper.GetPackedFrame(&packedSize);
    return std::string(reinterpret_cast<const char*>(packed), packedSize);
}

// The two 0x4A000-byte field units of a VC-3 frame as the server keeps them: up to their last coded byte, the
// coded size set; the padding and the end marker stay behind.
inline std::vector<std::string> Vc3Units(const uint8_t* frame)
{
    std::vector<std::string> units;
    for (uint32_t u = 0; u < 2; ++u) {
        std::string unit(reinterpret_cast<const char*>(frame) + u * 0x4A000, 0x4A000);
        const uint32_t used = dorncodec::PrepareHydrelUnit(reinterpret_cast<uint8_t*>(unit.data()), 0x4A000);
        units.push_back(unit.substr(0, used));
    }
    return units;
}

// The round trips' source sound. 16-bit: every value of the sample width within 65,536 samples per channel,
// starting with the most negative and full scale. 24-bit: a ramp over the whole range, starting the same way.
inline int32_t SourceSample(uint32_t n, int channel, int bits)
{
    if (n < 2)
        return n == 0 ? (bits == 16 ? -32768 : -8388608) : (bits == 16 ? 32767 : 8388607);
    if (bits == 16)
        return static_cast<int16_t>(static_cast<uint16_t>((n - 2) * 40503u + static_cast<uint32_t>(channel) * 4099u));
    const uint32_t v = ((n - 2) * 2654435u + static_cast<uint32_t>(channel) * 1000003u) & 0xFFFFFF;
    return v & 0x800000 ? static_cast<int32_t>(v) - 0x1000000 : static_cast<int32_t>(v);
}

// Samples [first, first + count) of a channel as little-endian bytes of the width.
inline Bytes SourceBytes(uint32_t first, uint32_t count, int channel, int bits)
{
    Bytes out;
    for (uint32_t n = first; n < first + count; ++n) {
        const int32_t v = SourceSample(n, channel, bits);
        for (int b = 0; b < bits / 8; ++b)
            out.push_back(static_cast<uint8_t>(v >> (8 * b)));
    }
    return out;
}

// ffmpeg's md5 of every decoded picture of a file (with a demuxer, or none for a container).
inline std::vector<std::string> FrameMd5(const std::filesystem::path& file, const std::string& demuxer)
{
    std::vector<std::string> hashes;
    const std::string out = writertest::Shell("ffmpeg -nostdin -v error " + (demuxer.empty() ? "" : "-f " + demuxer) +
                                              " -i '" + file.string() + "' -map 0:v:0 -f framemd5 - 2>&1");
    size_t at = 0;
    while (at < out.size()) {
        const size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? out.size() : end + 1;
        if (!line.empty() && line[0] != '#' && line[0] != '[')
            hashes.push_back(line.substr(line.rfind(',') + 1));
    }
    return hashes;
}

}  // namespace sendertest
