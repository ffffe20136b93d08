#include <gtest/gtest.h>

#include <cstring>

#include "reading/formats/CDVDataReader.h"
#include "support/TestEnv.h"
#include "tests/reading/FormatMedia.h"

namespace
{

using namespace formatmedia;

struct DvCase {
    const char* szName;
    uint32_t nFrameSize;
    uint32_t nFrames;
    TcSystem nSystem;
    uint32_t nDataRate;
    uint32_t nChannels;  // 0: the file has no sound
    VideoType nVideoType;
    uint32_t nWidth;
    uint32_t nHeight;
};

// ffmpeg's 4:1:1 and 4:2:2 frames carry the DVCPRO application id; its 625-line 4:2:0 frames the consumer one.
const DvCase kCases[] = {
    {"dv_pal.dv", 144000, 25, 3, 25, 2, DV25_Video, 720, 576},
    {"dv_ntsc.dv", 120000, 30, 4, 25, 2, DVCPro25_Video, 720, 480},
    {"dv_dv50.dv", 288000, 25, 3, 50, 4, DVCPro50_Video, 720, 576},
    {"dv_1080i50.dv", 576000, 10, 3, 100, 8, DVCPro100_Video, 1440, 1080},
    {"dv_1080i60.dv", 480000, 6, 4, 100, 8, DVCPro100_Video, 1280, 1080},
    {"dv_720p50.dv", 288000, 20, 6, 100, 0, DVCPro720P_Video, 960, 720},
};

void PrintTo(const DvCase& c, std::ostream* os)
{
    *os << c.szName;
}

class DvFiles : public testing::TestWithParam<DvCase>
{
};

TEST_P(DvFiles, VideoForwardsAndBackwardsAsFfprobe)
{
    const DvCase& c = GetParam();
    int32_t result = -9;
    auto reader = OpenReader<CDVVideoDataReader>(Media(c.szName), &result, std::string());
    ASSERT_TRUE(reader) << result;
    EXPECT_EQ(reader->GetFrameSize(), c.nFrameSize);
    EXPECT_EQ(reader->GetDataRate(), c.nDataRate);
    int32_t in = -1, out = -1, system = -1;
    ASSERT_EQ(reader->GetInOut(&in, &out, &system), 0);
    EXPECT_EQ(in, 0);
    EXPECT_EQ(out, static_cast<int32_t>(c.nSystem < 6 ? 2 * c.nFrames : c.nFrames));
    EXPECT_EQ(system, static_cast<int32_t>(c.nSystem));

    VideoInfo info;
    ASSERT_TRUE(reader->GetVideoInfo(&info));
    EXPECT_EQ(info.nVideoType, c.nVideoType);
    EXPECT_EQ(info.nWidth, c.nWidth);
    EXPECT_EQ(info.nHeight, c.nHeight);
    EXPECT_EQ(info.bProgressive, c.nSystem >= 6);

    const Walk forwards = WalkForwards(*reader, c.nFrameSize);
    EXPECT_EQ(SizesOf(forwards), ProbedSizes(c.szName, "v"));
    EXPECT_EQ(Joined(forwards), ReadBytes(Media(c.szName)));
    for (size_t i = 0; i < forwards.seconds.size(); ++i)
        EXPECT_DOUBLE_EQ(forwards.seconds[i], static_cast<double>(i) / reader->GetFramesPerSecond());
    const Walk backwards = WalkBackwards(*reader, c.nFrameSize);
    EXPECT_EQ(backwards.units, forwards.units);
    EXPECT_EQ(backwards.seconds, forwards.seconds);
}

TEST_P(DvFiles, SoundAsFfmpegDecodesIt)
{
    const DvCase& c = GetParam();
    if (c.nChannels == 0)
        GTEST_SKIP() << "no sound";
    int32_t result = -9;
    auto reader = OpenReader<CDVAudioDataReader>(Media(c.szName), &result, std::string());
    ASSERT_TRUE(reader) << result;
    EXPECT_EQ(reader->GetAudioChannels(nullptr, 0), static_cast<int32_t>(c.nChannels));
    const uint32_t capacity = c.nChannels * 2 * 1920;
    const Walk forwards = WalkForwards(*reader, capacity);
    ASSERT_EQ(forwards.units.size(), c.nFrames);
    // ffmpeg shows the channels as stereo streams; ours come interleaved.
    const Bytes all = Joined(forwards);
    const uint32_t pairs = c.nChannels / 2;
    for (uint32_t k = 0; k < pairs; ++k) {
        Bytes stream;
        for (size_t at = 0; at < all.size(); at += 2 * c.nChannels)
            stream.insert(stream.end(), all.begin() + at + 4 * k, all.begin() + at + 4 * k + 4);
        EXPECT_EQ(stream, ReadBytes(Media(std::string(c.szName) + ".a" + std::to_string(k) + ".s16be"))) << k;
    }
    const Walk backwards = WalkBackwards(*reader, capacity);
    EXPECT_EQ(backwards.units, forwards.units);
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, DvFiles, testing::ValuesIn(kCases),
                         [](const auto& info) { return ParamName(info.param.szName); });

TEST(DVDataReader, SixtyHertzFramesCarry1600Or1602Samples)
{
    int32_t result = -9;
    auto reader = OpenReader<CDVAudioDataReader>(Media("dv_ntsc.dv"), &result, std::string());
    ASSERT_TRUE(reader);
    const Walk walk = WalkForwards(*reader, 8 * 1920);
    ASSERT_EQ(walk.units.size(), 30u);
    for (size_t i = 0; i < walk.units.size(); ++i)
        EXPECT_EQ(walk.units[i].size(), i % 5 == 0 ? 6400u : 6408u) << i;
}

TEST(DVDataReader, GoToTimeRoundsToEvenFields)
{
    int32_t result = -9;
    auto reader = OpenReader<CDVVideoDataReader>(Media("dv_pal.dv"), &result, std::string());
    ASSERT_TRUE(reader);
    double seconds = 1.01;
    ASSERT_EQ(reader->GoToTime(&seconds), 0);
    EXPECT_DOUBLE_EQ(seconds, 1.0);  // field 50: frame 25, the end of this file
    seconds = 0.41;
    ASSERT_EQ(reader->GoToTime(&seconds), 0);
    EXPECT_DOUBLE_EQ(seconds, 0.4);
    Bytes frame(144000);
    uint8_t* p = frame.data();
    uint32_t size = 0;
    double at = 0;
    ASSERT_EQ(reader->GetNextData(&p, 144000, &size, &at), 0);
    EXPECT_DOUBLE_EQ(at, 0.4);
    const Bytes file = ReadBytes(Media("dv_pal.dv"));
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), file.begin() + 10 * 144000));
    EXPECT_EQ(reader->GoToFieldOffset(52), -1);
    EXPECT_EQ(reader->GoToFieldOffset(50), 0);  // the end
    EXPECT_EQ(reader->GetNextData(&p, 144000, &size, &at), CDataReader::kNoMoreData);
}

TEST(DVDataReader, NullBufferGetsThePlaceInTheReadersBuffer)
{
    int32_t result = -9;
    auto reader = OpenReader<CDVVideoDataReader>(Media("dv_pal.dv"), &result, std::string());
    ASSERT_TRUE(reader);
    const Bytes file = ReadBytes(Media("dv_pal.dv"));
    for (int i = 0; i < 3; ++i) {
        uint8_t* p = nullptr;
        uint32_t size = 0;
        ASSERT_EQ(reader->GetNextData(&p, 0, &size, nullptr), 0);
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(size, 144000u);
        EXPECT_EQ(std::memcmp(p, file.data() + i * 144000, size), 0);
    }
}

TEST(DVDataReader, SmallBufferConsumesNothing)
{
    int32_t result = -9;
    auto video = OpenReader<CDVVideoDataReader>(Media("dv_pal.dv"), &result, std::string());
    auto audio = OpenReader<CDVAudioDataReader>(Media("dv_pal.dv"), &result, std::string());
    ASSERT_TRUE(video && audio);
    Bytes buffer(144000);
    uint8_t* p = buffer.data();
    uint32_t size = 0;
    double at = -1;
    EXPECT_EQ(video->GetNextData(&p, 143999, &size, &at), CDataReader::kBufferTooSmall);
    EXPECT_EQ(size, 144000u);
    EXPECT_EQ(audio->GetNextData(&p, 7679, &size, &at), CDataReader::kBufferTooSmall);
    EXPECT_EQ(size, 7680u);
    ASSERT_EQ(video->GetNextData(&p, 144000, &size, &at), 0);
    EXPECT_EQ(at, 0.0);
    ASSERT_EQ(audio->GetNextData(&p, 7680, &size, &at), 0);
    EXPECT_EQ(at, 0.0);
    uint8_t* none = nullptr;
    EXPECT_EQ(audio->GetNextData(&none, 7680, &size, &at), CDataReader::kNoBuffer);
}

TEST(DVDataReader, GrowingFileIsReadOn)
{
    const Bytes file = ReadBytes(Media("dv_pal.dv"));
    const fs::path path = testsupport::TestRoot() / "growing.dv";
    WriteBytes(path, Bytes(file.begin(), file.begin() + 4 * 144000));
    int32_t result = -9;
    auto reader = OpenReader<CDVVideoDataReader>(path, &result, std::string());
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->GetFrameCount(), 4u);
    EXPECT_EQ(WalkForwards(*reader, 144000).units.size(), 4u);
    std::ofstream(path, std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char*>(file.data() + 4 * 144000), 3 * 144000);
    const Walk more = WalkForwards(*reader, 144000);
    ASSERT_EQ(more.units.size(), 3u);
    EXPECT_TRUE(std::equal(more.units[2].begin(), more.units[2].end(), file.begin() + 6 * 144000));
    EXPECT_EQ(reader->GetFrameCount(), 7u);
    EXPECT_EQ(reader->GoToFieldOffset(14), 0);
}

TEST(DVDataReader, RefusesWhatIsNotDv)
{
    const fs::path shortFile = testsupport::TestRoot() / "short.dv";
    WriteBytes(shortFile, Bytes(79, 0x1F));
    const fs::path notDif = testsupport::TestRoot() / "notdif.dv";
    WriteBytes(notDif, Bytes(1000, 0x3F));
    for (const fs::path& path : {shortFile, notDif}) {
        int32_t result = -9;
        EXPECT_FALSE(OpenReader<CDVVideoDataReader>(path, &result, std::string()));
        EXPECT_EQ(result, 1) << path;
    }
}

TEST(DVDataReader, AudioWordsFollowTheShuffling)
{
    // Sample 0 lies in the first audio block of sequence 0; sample 1 two sequences on, three blocks down.
    EXPECT_EQ(CDVDataReader::AudioWordIndex(0, 0, 6), 244u);
    EXPECT_EQ(CDVDataReader::AudioWordIndex(1, 0, 6), 2 * 6000 + 3 * 640 + 244u);
    EXPECT_EQ(CDVDataReader::AudioWordIndex(0, 1, 6), 6 * 6000 + 244u);
    EXPECT_EQ(CDVDataReader::AudioWordIndex(54, 0, 6), 245u);
    EXPECT_EQ(CDVDataReader::AudioWordIndex(18, 0, 6), 6000 * 0 + 1 * 640 + 244u);
}

}  // namespace
