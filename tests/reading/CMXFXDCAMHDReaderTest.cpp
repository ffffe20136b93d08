#include <gtest/gtest.h>

#include <algorithm>

#include "reading/mxf/CMXFXDCAMHDReader.h"
#include "support/TestEnv.h"
#include "tests/reading/MXFTestMedia.h"

namespace
{

using namespace mxftest;

TEST(XDCAMHDReader, PicturesInStreamOrderMatchFfprobe)
{
    const std::string path = Media("xdcamhd");
    const std::vector<uint32_t> probed = ProbePacketSizes(path, 0);
    int32_t result = 0;
    auto reader = OpenReader<CMXFXDCAMHDVideoReader>(path, &result);
    ASSERT_EQ(result, 0);
    // Header, two body partitions and the footer; the index of each partition addresses the one before it.
    ASSERT_EQ(reader->GetPartitions().size(), 4u);
    EXPECT_EQ(reader->GetLeadingFrames(), 0);
    VideoInfo info;
    ASSERT_TRUE(reader->GetVideoInfo(&info));
    EXPECT_EQ(info.nVideoType, HDV_Video);
    EXPECT_EQ(info.nStandard, 4u);
    EXPECT_EQ(info.nWidth, 1920u);

    const std::vector<Unit> forwards = ReadAll(*reader, true, 1 << 20, &result);
    EXPECT_EQ(result, CDataReader::kNoMoreData);
    ASSERT_EQ(forwards.size(), probed.size());
    for (size_t i = 0; i < forwards.size(); ++i)
        ASSERT_EQ(forwards[i].bytes.size(), probed[i]) << i;

    // Backwards only GOP starts come (every twelfth picture, and one where the second body partition begins).
    ASSERT_EQ(reader->GoToDataEnd(), 0);
    const std::vector<Unit> backwards = ReadAll(*reader, false, 1 << 20, &result);
    EXPECT_EQ(result, CDataReader::kNoMoreData);
    std::vector<size_t> starts;
    for (auto it = backwards.rbegin(); it != backwards.rend(); ++it) {
        const size_t from = starts.empty() ? 0 : starts.back() + 1;
        const auto found = std::find(forwards.begin() + from, forwards.end(), *it);
        ASSERT_NE(found, forwards.end());
        starts.push_back(static_cast<size_t>(found - forwards.begin()));
    }
    ASSERT_GE(starts.size(), 25u);
    EXPECT_EQ(starts[0], 0u);

    int32_t in = 0, out = 0, system = 0;
    ASSERT_EQ(reader->GetInOut(&in, &out, &system), 0);
    EXPECT_EQ(FramesToText(in / 2, 25), ProbeTimecode(path));
    EXPECT_EQ((out - in) / 2, static_cast<int32_t>(probed.size()));

    // A seek lands on a GOP start at most one GOP before the frame; both partitions are reachable.
    for (int frame : {0, 5, 12, 270}) {
        ASSERT_EQ(reader->GoToFieldOffset(frame * 2), 0) << frame;
        std::vector<uint8_t> room(1 << 20);
        uint8_t* p = room.data();
        uint32_t size = 0;
        double seconds = 0;
        ASSERT_EQ(reader->GetNextData(&p, 1 << 20, &size, &seconds), 0);
        const Unit got{std::vector<uint8_t>(room.begin(), room.begin() + size), 0};
        EXPECT_NE(std::find(backwards.begin(), backwards.end(), got), backwards.end()) << frame;
        EXPECT_LE(seconds, frame / 25.0 + 1e-9);
        EXPECT_GT(seconds, (frame - 25) / 25.0);
    }
    EXPECT_EQ(reader->GoToFieldOffset(700), CMXFXDCAMHDReaderBase::kBeyondEnd);
}

// Cut short in transfer, without footer or random index pack: the body partitions are found from the header
// forwards, and the content packages after the last index that survived are indexed from the essence. Every
// whole picture reads as ffprobe reads the cut file, backwards and by seeking too.
TEST(XDCAMHDReader, FileCutShortReadsEveryWholePicture)
{
    const std::string whole = Media("xdcamhd");
    const std::vector<uint32_t> all = ProbePacketSizes(whole, 0);
    const uint64_t size = fs::file_size(whole);
    for (const uint64_t keep : {size / 2, size / 20 * 19}) {
        SCOPED_TRACE(keep);
        const std::string path = CutCopy("xdcamhd", static_cast<int64_t>(keep), testsupport::TestRoot());
        const std::vector<uint32_t> probed = ProbePacketSizes(path, 0);
        int32_t result = 0;
        auto reader = OpenReader<CMXFXDCAMHDVideoReader>(path, &result);
        ASSERT_EQ(result, 0);
        // Header and body partitions, and the one made for the essence after the last index.
        EXPECT_EQ(reader->GetPartitions().size(), keep > size / 2 ? 4u : 3u);
        const std::vector<Unit> forwards = ReadAll(*reader, true, 1 << 20, &result);
        EXPECT_EQ(result, CDataReader::kNoMoreData);
        // ffprobe lists the picture the cut went through too, shorter.
        ASSERT_GE(forwards.size() + 1, probed.size());
        ASSERT_LE(forwards.size(), probed.size());
        for (size_t i = 0; i < forwards.size(); ++i) {
            ASSERT_EQ(forwards[i].bytes.size(), probed[i]) << i;
            ASSERT_EQ(forwards[i].bytes.size(), all[i]) << i;
        }
        int32_t in = 0, out = 0, system = 0;
        ASSERT_EQ(reader->GetInOut(&in, &out, &system), 0);
        EXPECT_EQ(FramesToText(in / 2, 25), ProbeTimecode(path));
        EXPECT_EQ((out - in) / 2, static_cast<int32_t>(forwards.size()));
        // Backwards the GOP starts come, each one of the pictures read forwards, from the last GOP on.
        ASSERT_EQ(reader->GoToDataEnd(), 0);
        const std::vector<Unit> backwards = ReadAll(*reader, false, 1 << 20, &result);
        EXPECT_GE(backwards.size(), forwards.size() / 12);
        for (const Unit& unit : backwards)
            EXPECT_NE(std::find(forwards.begin(), forwards.end(), unit), forwards.end());
        // A seek near the end lands on a GOP start at most a GOP before.
        const int frame = static_cast<int>(forwards.size()) - 3;
        ASSERT_EQ(reader->GoToFieldOffset(frame * 2), 0);
        std::vector<uint8_t> room(1 << 20);
        uint8_t* p = room.data();
        uint32_t got = 0;
        double seconds = 0;
        ASSERT_EQ(reader->GetNextData(&p, 1 << 20, &got, &seconds), 0);
        EXPECT_LE(seconds, frame / 25.0 + 1e-9);
        EXPECT_GT(seconds, (frame - 25) / 25.0);

        // The sound of every package read, as in the whole file.
        auto sound = OpenReader<CMXFXDCAMHDAudioReader>(path, &result);
        ASSERT_EQ(result, 0);
        auto wholeSound = OpenReader<CMXFXDCAMHDAudioReader>(whole, &result);
        ASSERT_EQ(result, 0);
        const std::vector<Unit> cutUnits = ReadAll(*sound, true, 1 << 20, &result);
        const std::vector<Unit> wholeUnits = ReadAll(*wholeSound, true, 1 << 20, &result);
        ASSERT_EQ(cutUnits.size(), forwards.size());
        EXPECT_TRUE(std::equal(cutUnits.begin(), cutUnits.end(), wholeUnits.begin()));
    }
}

TEST(XDCAMHDReader, SoundOfAllChannelsPerEditUnit)
{
    const std::string path = Media("xdcamhd");
    const std::vector<uint32_t> probed = ProbePacketSizes(path, 1);
    int32_t result = 0;
    auto reader = OpenReader<CMXFXDCAMHDAudioReader>(path, &result);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(reader->GetAudioChannels(nullptr, 0), 4);
    uint32_t rate = 0, bits = 0;
    ASSERT_EQ(reader->GetCurrentFieldInfo(&rate, &bits, nullptr), 0);
    EXPECT_EQ(bits, 24u);
    std::vector<uint8_t> room(4 * 5760);
    uint8_t* p = room.data();
    uint32_t size = 0;
    // Every channel's element is counted before anything is copied.
    EXPECT_EQ(reader->GetNextData(&p, 3 * 5760, &size, nullptr), CDataReader::kBufferTooSmall);
    EXPECT_EQ(size, 4u * 5760);
    const std::vector<Unit> forwards = ReadAll(*reader, true, 4 * 5760, &result);
    EXPECT_EQ(result, CDataReader::kNoMoreData);
    ASSERT_EQ(forwards.size(), probed.size());
    for (size_t i = 0; i < forwards.size(); ++i)
        ASSERT_EQ(forwards[i].bytes.size(), 4 * probed[i]) << i;
    EXPECT_DOUBLE_EQ(forwards[262].dSeconds, 262 / 25.0);
    ASSERT_EQ(reader->GoToDataEnd(), 0);
    std::vector<Unit> backwards = ReadAll(*reader, false, 4 * 5760, &result);
    std::reverse(backwards.begin(), backwards.end());
    EXPECT_TRUE(backwards == forwards);
    ASSERT_EQ(reader->GoToFieldOffset(2 * 270), 0);
    p = room.data();
    ASSERT_EQ(reader->GetNextData(&p, 4 * 5760, &size, nullptr), 0);
    EXPECT_EQ(std::vector<uint8_t>(room.begin(), room.begin() + size), forwards[270].bytes);
}

}  // namespace
