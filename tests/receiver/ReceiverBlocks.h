#pragma once
// Server blocks made by the project's block writer, with the pictures and audio that went into them, so that
// the receiver's block data and readers can be checked against what was written.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "receiver/SdBlockWriter.h"

namespace receivertest
{

using Bytes = std::vector<uint8_t>;

struct BlockSpec {
    const char* pszName;
    KorvoMXFBlockType eType;
    uint32_t nStandard;     // 3 (25 Hz) or 4 (29.97 Hz)
    uint32_t nAudioGroups;  // 4 channels each
};

struct WrittenBlock {
    Bytes block;
    uint32_t nFirstField = 0;
    std::vector<Bytes> pictures;  // one per field
    std::vector<Bytes> audio;     // one unit per field, as the writer took it
};

inline uint32_t AudioBytes(const BlockSpec& clipSpec)
{
    return (clipSpec.nStandard == 3 || clipSpec.nStandard == 6 ? 0x2E00 : 0x2600) * clipSpec.nAudioGroups;
}

// Pictures of varying size, one field each (video format 1), until the block is full.
inline WrittenBlock WriteBlock(const BlockSpec& clipSpec, uint32_t firstField, uint32_t seed)
{
    KorvoMXFBlockWriter writer;
    EXPECT_EQ(writer.SetBlockType(clipSpec.eType), KORVOMXF_OK);
    ConfigureSdWriter(writer, clipSpec.nStandard, clipSpec.nAudioGroups);
    WrittenBlock out;
    out.nFirstField = firstField;
    out.block.assign(clipSpec.eType == KORVOMXF_BLOCK_BAVD_8MB ? 0x800000 : 0x200000, 0);
    EXPECT_EQ(writer.SetFirstField(firstField), KORVOMXF_OK);
    EXPECT_EQ(writer.SetBlockBuffer(out.block.data(), static_cast<uint32_t>(out.block.size())), KORVOMXF_OK);
    const uint32_t audioBytes = AudioBytes(clipSpec);
    for (uint32_t i = 0;; ++i) {
        const uint32_t size = 40000 + (seed * 7919 + i * 104729) % 60000;
        Bytes video(size);
        for (uint32_t b = 0; b < size; ++b)
            video[b] = static_cast<uint8_t>(b * 31 + i * 17 + seed);
        Bytes audio(audioBytes);
        for (uint32_t b = 0; b < audioBytes; ++b)
            audio[b] = static_cast<uint8_t>(b * 13 + i * 5 + seed * 3);
        KorvoMXFVideoInfo info{};
        info._nVideoFormat = 1;
        info._nSize = size;
        info._nWidth = 720;
        info._nLines = clipSpec.nStandard == 3 ? 576 : 480;
        KorvoMXFAudioInfo audioInfo{1, audioBytes, 4 * clipSpec.nAudioGroups};
        const uint32_t chunks = clipSpec.nAudioGroups ? 1 : 0;
        const KorvoMXFResult rc =
            writer.AddPicture(1, &info, video.data(), chunks, &audioInfo, audio.data(), 0, nullptr, nullptr);
        if (rc == KORVOMXF_ERR_INSUFFICIENT_BUFFER)
            break;
        EXPECT_EQ(rc, KORVOMXF_OK);
        if (rc != KORVOMXF_OK)
            break;
        out.pictures.push_back(std::move(video));
        if (chunks)
            out.audio.push_back(std::move(audio));
    }
    return out;
}

// A 2kTable block stores its audio as 32-bit words with their bytes reversed.
inline Bytes Unswapped(const uint8_t* p, size_t size)
{
    Bytes out(p, p + size);
    for (size_t i = 0; i + 4 <= size; i += 4) {
        std::swap(out[i], out[i + 3]);
        std::swap(out[i + 1], out[i + 2]);
    }
    return out;
}

constexpr BlockSpec kBlockSpecs[] = {
    {"Table2MB_1Group", KORVOMXF_BLOCK_TBL2K_2MB, 3, 1},   {"Table2MB_2Groups", KORVOMXF_BLOCK_TBL2K_2MB, 4, 2},
    {"Bavd2MB_1Group", KORVOMXF_BLOCK_BAVD_2MB, 3, 1},     {"Bavd2MB_2Groups_30", KORVOMXF_BLOCK_BAVD_2MB, 4, 2},
    {"Bavd8MB_NoAudio", KORVOMXF_BLOCK_BAVD_8MB, 3, 0},    {"Bavd8MB_1Group", KORVOMXF_BLOCK_BAVD_8MB, 3, 1},
    {"Bavd8MB_2Groups_30", KORVOMXF_BLOCK_BAVD_8MB, 4, 2},
};

inline std::string SpecName(const ::testing::TestParamInfo<BlockSpec>& info)
{
    return info.param.pszName;
}

}  // namespace receivertest
