#include <gtest/gtest.h>

#include <fstream>

#include "reading/mxf/CMXFIMXProxyReader.h"
#include "tests/reading/MXFBuilder.h"
#include "tests/reading/MXFTestMedia.h"
#include "tests/support/TestEnv.h"

namespace
{

using namespace mxfbuild;

constexpr uint32_t kFrameSize = 76800;  // 625 system
constexpr uint32_t kArea = 384000;
constexpr uint32_t kLead = 9216;

std::string Write(const std::string& name, const Bytes& bytes)
{
    const auto path = testsupport::TestRoot() / (name + ".mxf");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path.string();
}

// Two picture edit units: five frames, then three. Frame n is 1000 + 100 n bytes long, padded with 0x7F; frame 7
// is a start code and padding to its last byte.
std::string ProxyPictures()
{
    File f;
    f.clip.nDuration = 80;
    Bytes header(18);
    for (size_t i = 0; i < header.size(); ++i)
        header[i] = static_cast<uint8_t>(0xA0 + i);
    f.clip.descriptor = PictureDescriptor(Bytes(16, 0x02), 352, 288, 16, 9, Tags().Raw(0x8201, header));
    f.index.nEditUnitBytes = 16 + 4 + kLead + kArea;
    int n = 0;
    for (int unit = 0; unit < 2; ++unit) {
        Bytes value(kLead + kArea, 0x00);
        for (int k = 0; k < (unit == 0 ? 5 : 3); ++k, ++n) {
            uint8_t* frame = value.data() + kLead + k * kFrameSize;
            std::fill(frame, frame + kFrameSize, 0x7F);
            const uint32_t length = n == 7 ? 4 : 1000 + 100 * n;
            std::fill(frame, frame + length, static_cast<uint8_t>(n));
            frame[0] = 0;
            frame[1] = 0;
            frame[2] = 1;
            frame[3] = 0xB3;
        }
        Append(f.essence, Klv(ElementKey(0x05), value));
    }
    return Write("proxyvideo", Build(f));
}

TEST(IMXProxyReader, FramesOfTheEditUnitsWithTheStreamHeaderFirst)
{
    int32_t result = 0;
    auto reader = mxftest::OpenReader<CMXFIMXProxyVideoReader>(ProxyPictures(), &result);
    ASSERT_EQ(result, 0);
    VideoInfo info;
    ASSERT_TRUE(reader->GetVideoInfo(&info));
    EXPECT_EQ(info.nVideoType, MP4ART_Video);
    EXPECT_EQ(info.nAspect, 3);
    EXPECT_EQ(info.nHeight, 288u);
    std::vector<uint8_t> room(kFrameSize + 18);
    uint8_t* p = room.data();
    uint32_t size = 0;
    EXPECT_EQ(reader->GetNextData(&p, kFrameSize, &size, nullptr), CDataReader::kBufferTooSmall);
    EXPECT_EQ(size, kFrameSize + 18);
    const auto frames = mxftest::ReadAll(*reader, true, kFrameSize + 18, &result);
    EXPECT_EQ(result, CDataReader::kNoMoreData);
    ASSERT_EQ(frames.size(), 8u);
    EXPECT_EQ(frames[0].bytes.size(), 18u + 1000);
    EXPECT_EQ(frames[0].bytes[0], 0xA0);
    EXPECT_EQ(frames[0].bytes[18 + 3], 0xB3);
    for (size_t n = 1; n < 7; ++n) {
        EXPECT_EQ(frames[n].bytes.size(), 1000 + 100 * n) << n;
        EXPECT_EQ(frames[n].bytes.back(), n);
    }
    // A frame padded to its last byte comes without the padding.
    EXPECT_EQ(frames[7].bytes.size(), 4u);
    EXPECT_NEAR(frames[6].dSeconds, (50 + 10) / 25.0, 1e-9);

    ASSERT_EQ(reader->GoToDataEnd(), 0);
    auto backwards = mxftest::ReadAll(*reader, false, kFrameSize + 18, &result);
    EXPECT_EQ(result, CDataReader::kNoMoreData);
    std::reverse(backwards.begin(), backwards.end());
    ASSERT_EQ(backwards.size(), 8u);
    for (size_t n = 1; n < 8; ++n)
        EXPECT_TRUE(backwards[n] == frames[n]) << n;

    ASSERT_EQ(reader->GoToFieldOffset(2 * 30), 0);
    ASSERT_EQ(reader->GetNextData(&p, kFrameSize + 18, &size, nullptr), 0);
    EXPECT_EQ(size, 1300u);
    EXPECT_EQ(reader->GoToFieldOffset(2 * 80), CMXFIMXProxyReaderBase::kBeyondEnd);
}

// Three sound edit units of four stereo elements of 640 bytes (1/25 s at 16000 bytes per second).
std::string ProxySound(uint64_t duration)
{
    File f;
    f.clip.nKind = 3;
    f.clip.nDuration = duration;
    const uint32_t element = 20 + 640;
    f.index.nEditUnitBytes = 4 * element;
    f.index.deltas = {0, 0, 0, element, 2 * element, 3 * element};
    for (int unit = 0; unit < 3; ++unit)
        for (uint8_t s = 0; s < 4; ++s)
            Append(f.essence, Klv(ElementKey(0x06, s), Bytes(640, static_cast<uint8_t>(unit * 16 + s))));
    return Write("proxysound", Build(f));
}

TEST(IMXProxyReader, SoundStreams)
{
    int32_t result = 0;
    auto reader = mxftest::OpenReader<CMXFIMXProxyAudioReader>(ProxySound(3), &result);
    ASSERT_EQ(result, 0);
    int32_t channels[8] = {};
    EXPECT_EQ(reader->GetAudioChannels(channels, 8), 4);
    EXPECT_EQ(channels[7], 2);
    const auto all = mxftest::ReadAll(*reader, true, 4 * 640, &result);
    EXPECT_EQ(result, CDataReader::kNoMoreData);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].bytes.size(), 4u * 640);
    EXPECT_EQ(all[1].bytes[3 * 640], 16 + 3);
    ASSERT_EQ(reader->GoToDataEnd(), 0);
    auto backwards = mxftest::ReadAll(*reader, false, 4 * 640, &result);
    std::reverse(backwards.begin(), backwards.end());
    EXPECT_TRUE(backwards == all);

    // Stream 3 reads to the end of the edit unit.
    EXPECT_EQ(reader->SelectAudioStream(4), CMXFIMXProxyReaderBase::kBadStream);
    EXPECT_EQ(reader->SelectAudioStream(3), 3);
    const auto third = mxftest::ReadAll(*reader, true, 640, &result);
    ASSERT_EQ(third.size(), 3u);
    EXPECT_EQ(third[2].bytes, Bytes(640, 32 + 3));
}

TEST(IMXProxyReader, SoundPastTheClipIsCutInEveryStream)
{
    int32_t result = 0;
    auto reader = mxftest::OpenReader<CMXFIMXProxyAudioReader>(ProxySound(2), &result);
    ASSERT_EQ(result, 0);
    const auto all = mxftest::ReadAll(*reader, true, 4 * 640, &result);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].bytes.size(), 4u * 640);
    EXPECT_EQ(all[2].bytes.size(), 0u);
}

}  // namespace
