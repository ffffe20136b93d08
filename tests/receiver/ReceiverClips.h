#pragma once
// Clip files written by the project's clip writer in the receiver's block layouts, for the block readers' tests.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "reading/ParvexClipKit.h"
#include "receiver/CKorvoBlockReader.h"

namespace receivertest
{

using parvexclip::ClipSpec;
using parvexclip::ClipWriter;
using parvexclip::kFirstField;

constexpr uint64_t kHeaderArea = 0x200000;  // blocks follow the clip file's header area

// Every layout the system writes, with one and two audio groups, at 25 Hz and 29.97 Hz.
constexpr ClipSpec kClipFiles[] = {
    {"Table2MB_1Group", KORVOMXF_FORMAT_TBL2K_2MB, 2, 3, 1, 0, 1, "mjpeg_fields.mjpeg", 0, 150, false},
    {"Bavd2MB_2Groups_30", KORVOMXF_FORMAT_BAVD_2MB, 1, 4, 1, 0, 2, "mjpeg_fields.mjpeg", 0, 150, false},
    {"Bavd8MB_1Group", KORVOMXF_FORMAT_BAVD_8MB, 2, 3, 1, 0, 1, "mjpeg_fields.mjpeg", 0, 400, false},
    {"Bavd8MB_2Groups", KORVOMXF_FORMAT_BAVD_8MB, 2, 3, 1, 0, 2, "mjpeg_fields.mjpeg", 0, 400, false},
};

inline uint32_t BlockSizeOf(const ClipSpec& clipSpec)
{
    return clipSpec.nBlockFormat == KORVOMXF_FORMAT_BAVD_8MB ? 0x800000 : 0x200000;
}

inline std::string ClipName(const ::testing::TestParamInfo<ClipSpec>& info)
{
    return info.param.pszName;
}

// Every element of the reader's current block is the picture the writer stored for its field, and every field
// of the block has its audio.
inline void ExpectBlockPictures(CKorvoBlockReader& reader, const ClipWriter& writer, const char* where)
{
    const CKorvoBlockData* data = reader.GetBlockData();
    ASSERT_NE(data, nullptr);
    for (int32_t e = 0; e < data->GetElementCount(); ++e) {
        int32_t size = 0;
        const uint8_t* video = reader.GetVideo(e, &size);
        const parvexclip::Bytes& expected = writer.Stored()[data->GetFirstField() + e - kFirstField];
        ASSERT_NE(video, nullptr) << where;
        ASSERT_GE(size, static_cast<int32_t>(expected.size())) << where;
        ASSERT_EQ(0, std::memcmp(video, expected.data(), expected.size())) << where << " field " << e;
        EXPECT_NE(reader.GetAudio(e, &size), nullptr) << where;
    }
}

}  // namespace receivertest
