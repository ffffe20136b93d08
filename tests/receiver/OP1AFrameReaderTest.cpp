#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "platform/Clock.h"
#include "platform/File.h"
#include "receiver/CReceiverOP1AReader.h"
#include "receiver/FrameReaderMedia.h"
#include "serverblock/ServerBlock.h"

namespace
{

using namespace framereadertest;

// A D-10 file that ffmpeg wrote from the sound ramp of make-receiver-media.
struct D10Case {
    const char* pszName;
    const char* pszFile;
    uint32_t nRampTracks;  // tracks that carry the ramp; the others are silent
    uint32_t nRampBytes;   // 2 or 3
    uint32_t nRampStep;
    uint32_t nRampOffset;
    int32_t nVideoSystem;
    int32_t nRate;
    int32_t nOutputBits;
};

const D10Case kD10Cases[] = {
    {"IMX50_625_s16_Out16", "d10_625_s16x8.mxf", 8, 2, 7, 4099, 3, 50, 16},
    {"IMX50_625_s16_Out24", "d10_625_s16x8.mxf", 8, 2, 7, 4099, 3, 50, 24},
    {"IMX30_525_s24_Out24", "d10_525_s24x4.mxf", 4, 3, 263, 1048583, 4, 30, 24},
    {"IMX30_525_s24_Out16", "d10_525_s24x4.mxf", 4, 3, 263, 1048583, 4, 30, 16},
};

// Sample n of a track as the reader must give it: the ramp value as a 24-bit sample (a 16-bit ramp fills the
// upper 16 bits), little-endian, cut to its upper 16 bits for a 16-bit output.
void AppendExpected(const D10Case& c, uint32_t track, uint64_t n, Bytes* out)
{
    uint32_t v = 0;
    if (track < c.nRampTracks) {
        v = static_cast<uint32_t>((n * c.nRampStep + uint64_t{track} * c.nRampOffset) &
                                  ((1ull << (8 * c.nRampBytes)) - 1));
        if (c.nRampBytes == 2)
            v <<= 8;
    }
    if (c.nOutputBits == 24)
        out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
    out->push_back(static_cast<uint8_t>(v >> 16));
}

class OP1AFrameReader : public ::testing::TestWithParam<D10Case>
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(ReceiverMediaDir().empty());
        _source = ReceiverMediaDir() / GetParam().pszFile;
    }
    fs::path _source;
};

TEST_P(OP1AFrameReader, HandsOutEveryPictureAndEveryChannelExactly)
{
    const D10Case& c = GetParam();
    CReceiverOP1AReader reader;
    ASSERT_EQ(reader.Open(_source.string(), c.nVideoSystem, c.nRate, 8, c.nOutputBits), 0);
    Bytes video;
    std::vector<Bytes> tracks(8);
    std::vector<uint32_t> counts;
    while (reader.ReadNextFrame()) {
        AppendAndRelease(reader.GetVideoFrame(), &video);
        uint32_t count = 0;
        for (int32_t t = 1; t <= 8; ++t) {
            KorvoFrame* frame = reader.GetTrackFrame(t);
            ASSERT_NE(frame, nullptr);
            EXPECT_EQ(frame->GetTypeCode(), t);
            count = frame->GetNumSamples();
            EXPECT_EQ(frame->GetSize(), count * (c.nOutputBits / 8));
            AppendAndRelease(frame, &tracks[t - 1]);
        }
        counts.push_back(count);
    }
    EXPECT_EQ(reader.GetTrackFrame(9), nullptr);
    ASSERT_EQ(counts.size(), 6u);
    uint64_t total = 0;
    for (size_t k = 0; k < counts.size(); ++k) {
        // 25 Hz: 1920 a frame; 29.97 Hz: 8008 samples in five frames of 1601 or 1602.
        if (c.nVideoSystem == 3)
            EXPECT_EQ(counts[k], 1920u);
        else
            EXPECT_TRUE(counts[k] == 1601 || counts[k] == 1602) << counts[k];
        total += counts[k];
    }
    if (c.nVideoSystem != 3) {
        EXPECT_EQ(counts[0] + counts[1] + counts[2] + counts[3] + counts[4], 8008u);
    }
    for (uint32_t t = 0; t < 8; ++t) {
        Bytes expected;
        for (uint64_t n = 0; n < total; ++n)
            AppendExpected(c, t, n, &expected);
        ASSERT_EQ(tracks[t].size(), expected.size()) << "track " << t + 1;
        const auto differ = std::mismatch(tracks[t].begin(), tracks[t].end(), expected.begin());
        EXPECT_EQ(differ.first, tracks[t].end())
            << "track " << t + 1 << " differs from byte " << (differ.first - tracks[t].begin());
    }
    const fs::path dir = testsupport::FreshDir(std::string("op1a-") + c.pszName);
    parvexclip::WriteFile(dir / "handed.m2v", video.data(), video.size());
    const auto expected = FrameMd5(_source, "mxf");
    EXPECT_EQ(expected.size(), 6u);
    EXPECT_EQ(FrameMd5(dir / "handed.m2v", "mpegvideo"), expected);
}

INSTANTIATE_TEST_SUITE_P(D10, OP1AFrameReader, ::testing::ValuesIn(kD10Cases),
                         [](const auto& info) { return std::string(info.param.pszName); });

class OP1AFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(ReceiverMediaDir().empty());
        _dir = testsupport::FreshDir("op1a-file");
        _bytes = parvexclip::ReadFile(ReceiverMediaDir() / "d10_625_s16x8.mxf");
        CReceiverOP1AReader reader;
        ASSERT_EQ(reader.Open((ReceiverMediaDir() / "d10_625_s16x8.mxf").string(), 3, 50, 8, 16), 0);
        _nEditUnit = reader.GetEditUnitSize();
        _nFirst = *reader.GetFilePosition();
        _nSound = reader.GetSoundOffset();
        ASSERT_EQ(_nEditUnit, 312832u);
    }
    std::string Write(const char* name, const Bytes& bytes)
    {
        const fs::path path = _dir / name;
        parvexclip::WriteFile(path, bytes.data(), bytes.size());
        return path.string();
    }
    fs::path _dir;
    Bytes _bytes;
    uint32_t _nEditUnit = 0;
    uint64_t _nFirst = 0;
    uint32_t _nSound = 0;
};

TEST_F(OP1AFile, RefusesEditUnitSizesItCannotUse)
{
    const uint64_t index = _nFirst - 512;
    for (const uint32_t size : {0u, 100u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Bytes bytes = _bytes;
        WriteBigEndian32(bytes.data() + index + 80, size);
        CReceiverOP1AReader reader;
        EXPECT_EQ(reader.Open(Write("eu.mxf", bytes), 3, 50, 8, 16), CReceiverOP1AReader::kOpenNotD10) << size;
    }
    Bytes sound = _bytes;
    WriteBigEndian32(sound.data() + index + 131, _nEditUnit - 10);
    CReceiverOP1AReader reader;
    EXPECT_EQ(reader.Open(Write("sound.mxf", sound), 3, 50, 8, 16), CReceiverOP1AReader::kOpenNotD10);
    EXPECT_EQ(reader.Open(Write("short.mxf", Bytes(_bytes.begin(), _bytes.begin() + 600)), 3, 50, 8, 16),
              CReceiverOP1AReader::kOpenNotD10);
    EXPECT_EQ(reader.Open((_dir / "missing.mxf").string(), 3, 50, 8, 16), CReceiverOP1AReader::kOpenFailed);
}

TEST_F(OP1AFile, LengthsPastTheEditUnitGiveNoFrame)
{
    Bytes bytes = _bytes;
    uint8_t* unit = bytes.data() + _nFirst;
    unit[529] = 0xFF;  // a picture of 16 MB
    uint8_t* second = unit + _nEditUnit;
    second[_nSound + 21] = 0xFF;
    second[_nSound + 22] = 0xFF;  // 65535 samples: cut to 1920, which fit
    CReceiverOP1AReader reader;
    ASSERT_EQ(reader.Open(Write("lengths.mxf", bytes), 3, 50, 8, 24), 0);
    ASSERT_TRUE(reader.ReadNextFrame());
    EXPECT_EQ(reader.GetVideoFrame(), nullptr);
    ASSERT_TRUE(reader.ReadNextFrame());
    KorvoFrame* frame = reader.GetTrackFrame(8);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->GetNumSamples(), 1920u);
    frame->Release();
}

TEST_F(OP1AFile, SoundPastTheEditUnitGivesNoFrame)
{
    // The sound element moved to the edit unit's end: its header fits, 1920 samples do not.
    Bytes bytes = _bytes;
    const uint32_t offset = _nEditUnit - 100;
    WriteBigEndian32(bytes.data() + _nFirst - 512 + 131, offset);
    bytes[_nFirst + offset + 21] = 0x80;
    bytes[_nFirst + offset + 22] = 0x07;
    CReceiverOP1AReader reader;
    ASSERT_EQ(reader.Open(Write("tail.mxf", bytes), 3, 50, 8, 16), 0);
    ASSERT_TRUE(reader.ReadNextFrame());
    EXPECT_EQ(reader.GetTrackFrame(1), nullptr);
    KorvoFrame* video = reader.GetVideoFrame();
    ASSERT_NE(video, nullptr);
    video->Release();
}

TEST_F(OP1AFile, APartialEditUnitIsLeftForTheNextRead)
{
    // Two and a half edit units after the first.
    const Bytes cut(_bytes.begin(), _bytes.begin() + static_cast<std::ptrdiff_t>(_nFirst + _nEditUnit * 5 / 2));
    CReceiverOP1AReader reader;
    ASSERT_EQ(reader.Open(Write("cut.mxf", cut), 3, 50, 8, 16), 0);
    ASSERT_TRUE(reader.ReadNextFrame());
    EXPECT_EQ(reader.GetUnitsInBuffer(), 2u);
    EXPECT_EQ(*reader.GetFilePosition(), _nFirst + 2ull * _nEditUnit);
    EXPECT_TRUE(reader.ReadNextFrame());
    EXPECT_FALSE(reader.ReadNextFrame());
}

TEST_F(OP1AFile, SetFirstFieldSkipsWholeEditUnits)
{
    CReceiverOP1AReader reader;
    ASSERT_EQ(reader.Open(Write("whole.mxf", _bytes), 3, 50, 8, 16), 0);
    reader.SetFirstField(7);
    EXPECT_EQ(*reader.GetFilePosition(), _nFirst + 3ull * _nEditUnit);
    int frames = 0;
    while (reader.ReadNextFrame())
        ++frames;
    EXPECT_EQ(frames, 3);
}

// A writer thread and a cancelling thread beside the reader.
class OP1AFileThreads : public OP1AFile
{
};

TEST_F(OP1AFileThreads, AFileAWriterHoldsIsReadAgainUntilItGrowsOrTheReadIsCancelled)
{
    const size_t head = _nFirst + _nEditUnit * 3 / 2;
    const std::string path = Write("growing.mxf", Bytes(_bytes.begin(), _bytes.begin() + head));
    platform::File writer;
    ASSERT_TRUE(writer.Open(path, platform::File::Access::Write, platform::File::Disposition::OpenExisting));
    ASSERT_TRUE(writer.LockForWriting());
    CReceiverOP1AReader reader;
    reader.SetRetryWaitMs(20);
    ASSERT_EQ(reader.Open(path, 3, 50, 8, 16), 0);
    std::thread grow([&] {
        platform::SleepMs(100);
        writer.WriteAt(_bytes.data() + head, _nFirst + 5ull * _nEditUnit - head, head);
    });
    ASSERT_TRUE(reader.ReadNextFrame());
    grow.join();
    EXPECT_EQ(reader.GetUnitsInBuffer(), 5u);

    // Held and not growing: only a cancel ends the wait.
    for (int i = 1; i < 5; ++i)
        ASSERT_TRUE(reader.ReadNextFrame());
    std::thread cancel([&] {
        platform::SleepMs(100);
        reader.Cancel();
    });
    EXPECT_FALSE(reader.ReadNextFrame());
    cancel.join();
}

}  // namespace
