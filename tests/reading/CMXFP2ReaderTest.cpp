#include <gtest/gtest.h>

#include <fstream>

#include "reading/mxf/CMXFP2Reader.h"
#include "tests/reading/MXFBuilder.h"
#include "tests/reading/MXFTestMedia.h"
#include "tests/support/TestEnv.h"

namespace
{

using namespace mxfbuild;

constexpr uint32_t kFrame = 2000;
constexpr uint32_t kFrames = 6;

std::string WriteFile(const std::string& name, const Bytes& bytes)
{
    const auto path = testsupport::TestRoot() / (name + ".mxf");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path.string();
}

// An AVC-Intra-like clip: one clip-wrapped element whose first frame is 512 bytes longer than the others.
std::string AvcIntraClip()
{
    File f;
    f.clip.nDuration = kFrames;
    f.clip.descriptor = PictureDescriptor(Bytes(16, 0x01), 1920, 540, 16, 9);
    f.index.nEditUnitBytes = kFrame;
    f.bBody = true;
    f.nOp = 0x0310;
    Bytes value;
    for (uint32_t i = 0; i < kFrames; ++i) {
        Bytes frame(kFrame + (i == 0 ? 512 : 0), static_cast<uint8_t>(0x20 + i));
        if (i == 0)
            std::copy_n(Bytes{0, 0, 0, 1, 0x09, 0x10, 0, 0, 0, 1, 0x67}.begin(), 11, frame.begin());
        Append(value, frame);
    }
    f.essence = Klv(ElementKey(0x15), value);
    return WriteFile("p2video", Build(f));
}

TEST(P2Reader, FirstAvcIntraFrameIsLongerAndFitsTheBuffer)
{
    int32_t result = 0;
    auto reader = mxftest::OpenReader<CMXFP2VideoReader>(AvcIntraClip(), &result);
    ASSERT_EQ(result, 0);
    std::vector<uint8_t> room(kFrame + 512, 0xEE);
    uint8_t* p = room.data();
    uint32_t size = 0;
    // A buffer of one frame is too small for the first one: nothing is written past it.
    EXPECT_EQ(reader->GetNextData(&p, kFrame, &size, nullptr), CDataReader::kBufferTooSmall);
    EXPECT_EQ(size, kFrame + 512);
    EXPECT_EQ(room[kFrame], 0xEE);
    ASSERT_EQ(reader->GetNextData(&p, kFrame + 512, &size, nullptr), 0);
    EXPECT_EQ(size, kFrame + 512);
    EXPECT_EQ(room[kFrame + 511], 0x20);
    for (uint32_t i = 1; i < kFrames; ++i) {
        ASSERT_EQ(reader->GetNextData(&p, kFrame, &size, nullptr), 0);
        EXPECT_EQ(size, kFrame);
        EXPECT_EQ(room[0], 0x20 + i);
        EXPECT_EQ(room[kFrame - 1], 0x20 + i);
    }
    EXPECT_EQ(reader->GetNextData(&p, kFrame, &size, nullptr), CDataReader::kNoMoreData);

    // Frame 1 starts one frame and 512 bytes into the essence.
    ASSERT_EQ(reader->GoToFieldOffset(2), 0);
    ASSERT_EQ(reader->GetNextData(&p, kFrame, &size, nullptr), 0);
    EXPECT_EQ(room[0], 0x21);
    ASSERT_EQ(reader->GoToFieldOffset(0), 0);
    ASSERT_EQ(reader->GetNextData(&p, kFrame + 512, &size, nullptr), 0);
    EXPECT_EQ(size, kFrame + 512);
    EXPECT_EQ(reader->GoToFieldOffset(100), CMXFP2ReaderBase::kBeyondEnd);
}

TEST(P2Reader, SoundIsReadInBlocks)
{
    File f;
    f.clip.nKind = 3;
    f.clip.nDuration = 25;  // one second at the clip's rate
    f.clip.descriptor = SoundDescriptor(0x48, 16, 1);
    f.bBody = true;
    f.nOp = 0x0310;
    Bytes samples(96000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<uint8_t>(i / 1000);
    f.essence = Klv(ElementKey(0x16), samples);
    int32_t result = 0;
    auto reader = mxftest::OpenReader<CMXFP2AudioReader>(WriteFile("p2audio", Build(f)), &result);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(reader->GetAudioChannels(nullptr, 0), 1);

    double half = 0.5;
    ASSERT_EQ(reader->GoToTime(&half), 0);
    std::vector<uint8_t> block(32768);
    uint8_t* p = block.data();
    uint32_t size = 0;
    double at = 0;
    ASSERT_EQ(reader->GetNextData(&p, 32768, &size, &at), 0);
    EXPECT_EQ(size, 32768u);
    EXPECT_DOUBLE_EQ(at, 0.5);
    EXPECT_EQ(block[0], 48);  // 48000 bytes in
    // The last block before the footer is what remains, then no more.
    ASSERT_EQ(reader->GetNextData(&p, 32768, &size, &at), 0);
    EXPECT_EQ(size, 96000u - 48000 - 32768);
    EXPECT_EQ(reader->GetNextData(&p, 32768, &size, &at), CDataReader::kNoMoreData);
    double beyond = 1.5;
    EXPECT_EQ(reader->GoToTime(&beyond), CMXFP2ReaderBase::kBeyondEnd);

    // Backwards from the end: the first block back is the remainder's predecessor chunk.
    ASSERT_EQ(reader->GoToDataStart(), 0);
    int32_t last = 0;
    const auto forwards = mxftest::ReadAll(*reader, true, 32768, &last);
    ASSERT_EQ(forwards.size(), 3u);
}

}  // namespace
