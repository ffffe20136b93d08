#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "reading/mxf/CMXFOP1aReader.h"
#include "support/TestEnv.h"
#include "tests/reading/MXFTestMedia.h"

namespace
{

using namespace mxftest;

struct Op1aCase {
    const char* szName;
    VideoType nVideoType;
    uint32_t nStandard;
    uint32_t nPictureBytes;
    uint32_t nSoundBytes;  // one edit unit of sound, all elements
    int32_t nChannels;
    uint32_t nRate;
    const char* szTimecode;
};

const Op1aCase kCases[] = {
    {"imx50_625", IMX50_Video, 2, 250000, 61444, 8, 25, "10:00:00:00"},
    {"imx40_625", IMX40_Video, 2, 200000, 61444, 8, 25, "10:00:00:00"},
    {"imx30_625", IMX30_Video, 2, 150000, 61444, 8, 25, "10:00:00:00"},
    {"imx50_525", IMX50_Video, 1, 208541, 0, 8, 30, "10:00:00:00"},
    {"imx40_525", IMX40_Video, 1, 166833, 0, 8, 30, "10:00:00:00"},
    {"imx30_525", IMX30_Video, 1, 125125, 0, 8, 30, "10:00:00:00"},
    {"dv25_625", DV25_Video, 2, 144000, 3840, 1, 25, "01:00:00:00"},
    {"dvcpro25_625", DVCPro25_Video, 2, 144000, 3840, 1, 25, "01:00:00:00"},
    {"dvcpro50_625", DVCPro50_Video, 2, 288000, 3840, 1, 25, "01:00:00:00"},
    {"dv25_525", DVCPro25_Video, 1, 120000, 0, 1, 30, "01:00:00:00"},
    {"dvcprohd_720p50", DVCPro100_Video, 3, 288000, 1920, 1, 50, "01:00:00:00"},
    {"dvcprohd_720p60", DVCPro100_Video, 3, 240000, 0, 1, 60, "01:00:00:00"},
    {"dvcprohd_1080i50", DVCPro100_Video, 4, 576000, 1920, 1, 25, "01:00:00:00"},
    {"dvcprohd_1080i60", DVCPro100_Video, 4, 480000, 0, 1, 30, "01:00:00:00"},
};

class Op1aMedia : public ::testing::TestWithParam<Op1aCase>
{
};

TEST_P(Op1aMedia, PictureForwardsAndBackwardsMatchFfprobe)
{
    const Op1aCase& c = GetParam();
    const std::string path = Media(c.szName);
    const std::vector<uint32_t> probed = ProbePacketSizes(path, 0);
    ASSERT_FALSE(probed.empty());

    int32_t result = 0;
    auto reader = OpenReader<CMXFOP1aPictureReader>(path, &result);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(reader->GetDuration(), static_cast<int64_t>(probed.size()));
    EXPECT_FALSE(reader->IsGrowing());

    VideoInfo info;
    ASSERT_TRUE(reader->GetVideoInfo(&info));
    EXPECT_EQ(info.nVideoType, c.nVideoType);
    EXPECT_EQ(info.nStandard, c.nStandard);
    uint32_t rate = 0;
    uint32_t unit = 0;
    uint8_t aspect = 9;
    EXPECT_EQ(reader->GetCurrentFieldInfo(&rate, &unit, &aspect), 0);
    EXPECT_EQ(rate, c.nRate);
    EXPECT_EQ(unit, reader->GetEditUnitSize());

    std::vector<Unit> forwards = ReadAll(*reader, true, c.nPictureBytes, &result);
    EXPECT_EQ(result, CDataReader::kNoMoreData);
    ASSERT_EQ(forwards.size(), probed.size());
    for (size_t i = 0; i < forwards.size(); ++i) {
        ASSERT_EQ(forwards[i].bytes.size(), probed[i]) << i;
        EXPECT_NEAR(forwards[i].dSeconds, static_cast<double>(i) / reader->GetEditRate(), 1e-9);
    }

    ASSERT_EQ(reader->GoToDataEnd(), 0);
    std::vector<Unit> backwards = ReadAll(*reader, false, c.nPictureBytes, &result);
    EXPECT_EQ(result, CDataReader::kNoMoreData);
    std::reverse(backwards.begin(), backwards.end());
    EXPECT_TRUE(backwards == forwards);

    // The start timecode, as fields of the system, is the one ffprobe prints.
    int32_t in = 0;
    int32_t out = 0;
    int32_t system = 0;
    ASSERT_EQ(reader->GetInOut(&in, &out, &system), 0);
    EXPECT_GT(system, 0);
    const int64_t fields = reader->GetFieldsPerEditUnit();
    EXPECT_EQ(FramesToText(in / fields, c.nRate), ProbeTimecode(path));
    EXPECT_EQ(FramesToText(in / fields, c.nRate), c.szTimecode);
    EXPECT_EQ((out - in) / fields, static_cast<int32_t>(probed.size()));
}

TEST_P(Op1aMedia, SoundForwardsAndBackwards)
{
    const Op1aCase& c = GetParam();
    const std::string path = Media(c.szName);
    const std::vector<uint32_t> probed = ProbePacketSizes(path, 1);
    int32_t result = 0;
    auto reader = OpenReader<CMXFOP1aSoundReader>(path, &result);
    ASSERT_EQ(result, 0);
    int32_t channels[4] = {0, 0, 0, 0};
    EXPECT_EQ(reader->GetAudioChannels(channels, 4), 1);
    EXPECT_EQ(channels[0], c.nChannels);

    std::vector<Unit> forwards = ReadAll(*reader, true, 1 << 20, &result);
    EXPECT_EQ(result, CDataReader::kNoMoreData);
    ASSERT_EQ(forwards.size(), probed.size());
    for (size_t i = 0; i < forwards.size(); ++i) {
        // PCM elements are what ffprobe counts; the 8-channel AES3 element of IMX is handed out whole.
        if (c.nChannels == 1)
            EXPECT_EQ(forwards[i].bytes.size(), probed[i]) << i;
        else if (c.nSoundBytes)
            EXPECT_EQ(forwards[i].bytes.size(), c.nSoundBytes) << i;
    }
    ASSERT_EQ(reader->GoToDataEnd(), 0);
    std::vector<Unit> backwards = ReadAll(*reader, false, 1 << 20, &result);
    EXPECT_EQ(result, CDataReader::kNoMoreData);
    std::reverse(backwards.begin(), backwards.end());
    EXPECT_TRUE(backwards == forwards);
}

INSTANTIATE_TEST_SUITE_P(Files, Op1aMedia, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.szName); });

// A file that lost only its last few hundred bytes (the footer's index, the random index pack) opens with every
// edit unit, as ffprobe reads the same cut file.
TEST(Op1aReader, FooterCutShortIsTreatedAsAbsent)
{
    for (const char* name : {"imx50_625", "dvcpro50_625"}) {
        SCOPED_TRACE(name);
        const std::string path = CutCopy(name, -300, testsupport::TestRoot());
        const std::vector<uint32_t> probed = ProbePacketSizes(path, 0);
        ASSERT_EQ(probed, ProbePacketSizes(Media(name), 0));
        int32_t result = 0;
        auto picture = OpenReader<CMXFOP1aPictureReader>(path, &result);
        ASSERT_EQ(result, 0);
        EXPECT_EQ(picture->GetDuration(), static_cast<int64_t>(probed.size()));
        const std::vector<Unit> units = ReadAll(*picture, true, 1 << 20, &result);
        EXPECT_EQ(result, CDataReader::kNoMoreData);
        ASSERT_EQ(units.size(), probed.size());
        for (size_t i = 0; i < units.size(); ++i)
            EXPECT_EQ(units[i].bytes.size(), probed[i]) << i;
        int32_t in = 0, out = 0, system = 0;
        ASSERT_EQ(picture->GetInOut(&in, &out, &system), 0);
        EXPECT_EQ(FramesToText(in / 2, 25), ProbeTimecode(path));

        auto sound = OpenReader<CMXFOP1aSoundReader>(path, &result);
        ASSERT_EQ(result, 0);
        auto whole = OpenReader<CMXFOP1aSoundReader>(Media(name), &result);
        ASSERT_EQ(result, 0);
        EXPECT_TRUE(ReadAll(*sound, true, 1 << 20, &result) == ReadAll(*whole, true, 1 << 20, &result));
    }
}

TEST(Op1aReader, GoToTimeTakesTheEvenField)
{
    int32_t result = 0;
    auto reader = OpenReader<CMXFOP1aPictureReader>(Media("imx50_625"), &result);
    ASSERT_EQ(result, 0);
    const struct {
        double dIn;
        double dOut;
        uint32_t nUnit;
    } cases[] = {{1.0, 1.0, 25}, {0.5, 0.48, 12}, {0.51, 0.52, 13}, {-3.0, 0.0, 0}, {NAN, 0.0, 0}};
    std::vector<uint8_t> frame(250000), expected(250000);
    for (const auto& t : cases) {
        double seconds = t.dIn;
        const int32_t r = reader->GoToTime(&seconds);
        EXPECT_DOUBLE_EQ(seconds, t.dOut) << t.dIn;
        if (t.nUnit == 25) {
            EXPECT_EQ(r, 0);  // the end position itself
            continue;
        }
        ASSERT_EQ(r, 0);
        uint8_t* p = frame.data();
        uint32_t size = 0;
        double at = 0;
        ASSERT_EQ(reader->GetNextData(&p, 250000, &size, &at), 0);
        EXPECT_DOUBLE_EQ(at, t.nUnit / 25.0);
    }
    double beyond = 1.2;
    EXPECT_EQ(reader->GoToTime(&beyond), CMXFOP1aReaderBase::kBeyondEnd);
}

TEST(Op1aReader, SmallBuffersAndNullBuffers)
{
    int32_t result = 0;
    auto picture = OpenReader<CMXFOP1aPictureReader>(Media("dv25_625"), &result);
    ASSERT_EQ(result, 0);
    std::vector<uint8_t> room(144000);
    uint8_t* p = room.data();
    uint32_t size = 0;
    EXPECT_EQ(picture->GetNextData(&p, 1000, &size, nullptr), CDataReader::kBufferTooSmall);
    EXPECT_EQ(size, 144000u);
    // Nothing was consumed; a null buffer gets the reader's own bytes.
    uint8_t* own = nullptr;
    ASSERT_EQ(picture->GetNextData(&own, 0, &size, nullptr), 0);
    ASSERT_NE(own, nullptr);
    ASSERT_EQ(picture->GoToDataStart(), 0);
    ASSERT_EQ(picture->GetNextData(&p, 144000, &size, nullptr), 0);

    auto sound = OpenReader<CMXFOP1aSoundReader>(Media("dv25_625"), &result);
    ASSERT_EQ(result, 0);
    uint8_t* none = nullptr;
    EXPECT_EQ(sound->GetNextData(&none, 1 << 20, &size, nullptr), CDataReader::kNoBuffer);
    EXPECT_EQ(sound->GetNextData(&p, 100, &size, nullptr), CDataReader::kBufferTooSmall);
    EXPECT_EQ(size, 3840u);
    EXPECT_EQ(sound->SelectAudioStream(1), CMXFOP1aReaderBase::kBadStream);
    EXPECT_EQ(sound->SelectAudioStream(0), 0);
    EXPECT_EQ(sound->GetNextData(&p, 144000, &size, nullptr), 0);
    EXPECT_EQ(size, 3840u);
}

}  // namespace
