#pragma once
// Clips for the frame readers' tests: ffmpeg pictures and a known sound ramp per track, written into clip files
// by the project's clip writer, and the checks of what a reader hands out (ffmpeg's framemd5 of the pictures,
// the PCM of every track, the cadence).

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "reading/ParvexClipKit.h"
#include "receiver/KorvoFrame.h"
#include "support/FileTestKit.h"

namespace framereadertest
{

using parvexclip::Bytes;
using parvexclip::ClipSpec;
using parvexclip::kFirstField;
namespace fs = std::filesystem;

// The receiver's media folder beside the Parvex one, made by tools/make-receiver-media.
inline fs::path ReceiverMediaDir()
{
    static const fs::path dir = [] {
        const fs::path root = KORVO_TEST_DATA_DIR;
        if (parvexclip::MediaDir().empty())
            return fs::path();
        const std::string command =
            "bash " + (fs::path(KORVO_SOURCE_DIR) / "tools" / "make-receiver-media").string() + " " + root.string();
        if (std::system(command.c_str()) != 0)
            return fs::path();
        return root / "receiver";
    }();
    return dir;
}

// Sample n of track t of the ramp, 24 bits.
inline uint32_t RampSample(uint32_t track, uint64_t n)
{
    return static_cast<uint32_t>((n * 263 + track * 1048583ull) & 0xFFFFFF);
}

// Samples of frame k: 1920 at 25 Hz, else 1600, 1602, 1602, 1602, 1602.
inline uint32_t CadenceOf(int standard, uint64_t frame)
{
    return standard == 3 ? 1920 : frame % 5 == 0 ? 1600 : 1602;
}

// The first ramp sample of frame k.
inline uint64_t FrameStart(int standard, uint64_t frame)
{
    uint64_t n = 0;
    for (uint64_t k = 0; k < frame; ++k)
        n += CadenceOf(standard, k);
    return n;
}

// A field's audio as the servers store it: per channel a byte, the count and 24-bit big-endian samples; each
// field carries half of its frame's samples.
inline Bytes RampFieldAudio(const ClipSpec& clipSpec, uint32_t field)
{
    const uint32_t relative = field - kFirstField;
    const uint64_t frame = relative / 2;
    const uint32_t count = CadenceOf(clipSpec.nStandard, frame) / 2;
    const uint64_t first = FrameStart(clipSpec.nStandard, frame) + (relative % 2) * count;
    const uint32_t channels = 4u * clipSpec.nAudioGroups;
    const uint32_t chunk = parvexclip::BytesPerChannelField(clipSpec);
    Bytes audio(size_t{channels} * chunk, 0);
    for (uint32_t c = 0; c < channels; ++c) {
        uint8_t* p = audio.data() + size_t{c} * chunk;
        p[0] = static_cast<uint8_t>(0xA0 + c);
        p[1] = static_cast<uint8_t>(count >> 8);
        p[2] = static_cast<uint8_t>(count);
        for (uint32_t s = 0; s < count; ++s) {
            const uint32_t v = RampSample(c, first + s);
            p[3 + 3 * s] = static_cast<uint8_t>(v >> 16);
            p[4 + 3 * s] = static_cast<uint8_t>(v >> 8);
            p[5 + 3 * s] = static_cast<uint8_t>(v);
        }
    }
    return audio;
}

// The PCM a reader must hand out for frame k of track t (1-based): little-endian, 3 or 2 bytes per sample
// (the upper two bytes of the 24-bit sample).
inline Bytes ExpectedTrackPcm(int standard, uint64_t frame, uint32_t track, int bits)
{
    const uint64_t first = FrameStart(standard, frame);
    Bytes out;
    for (uint32_t s = 0; s < CadenceOf(standard, frame); ++s) {
        const uint32_t v = RampSample(track - 1, first + s);
        if (bits == 24)
            out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
        out.push_back(static_cast<uint8_t>(v >> 16));
    }
    return out;
}

// ffmpeg's framemd5 hashes of the pictures in a file, one per frame; empty when ffmpeg fails.
inline std::vector<std::string> FrameMd5(const fs::path& file, const char* format)
{
    const std::string command = std::string("ffmpeg -nostdin -v error -f ") + format + " -i '" + file.string() +
                                "' -map 0:v -f framemd5 - 2>&1";
    std::vector<std::string> hashes;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return hashes;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text(line);
        if (text.empty() || text[0] == '#')
            continue;
        const size_t comma = text.rfind(',');
        if (comma != std::string::npos)
            hashes.push_back(text.substr(comma + 1, text.find_last_not_of(" \r\n") - comma));
    }
    pclose(pipe);
    return hashes;
}

// Appends a frame's bytes to a file and gives the frame back.
inline void AppendAndRelease(KorvoFrame* frame, Bytes* into)
{
    ASSERT_NE(frame, nullptr);
    into->insert(into->end(), frame->GetData(), frame->GetData() + frame->GetSize());
    frame->Release();
}

}  // namespace framereadertest
