#include <gtest/gtest.h>

#include <cstring>

#include "reading/formats/CAviFileDataReader.h"
#include "support/ByteWriter.h"
#include "support/TestEnv.h"
#include "tests/reading/FormatMedia.h"

namespace
{

using namespace formatmedia;
using testsupport::ByteWriter;

uint32_t Le32(const uint8_t* p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

Bytes Swapped16(Bytes bytes)
{
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        std::swap(bytes[i], bytes[i + 1]);
    return bytes;
}

struct AviCase {
    const char* szName;
    VideoType nVideoType;
    uint32_t nHeight;
};

void PrintTo(const AviCase& c, std::ostream* os)
{
    *os << c.szName;
}

const AviCase kCases[] = {
    {"avi_dvsd.avi", DV25_Video, 576},  {"avi_dv25.avi", DVCPro25_Video, 576}, {"avi_dv50.avi", DVCPro50_Video, 576},
    {"avi_mmes.avi", IMX50_Video, 608}, {"avi_imx40.avi", IMX40_Video, 608},   {"avi_imx30.avi", IMX30_Video, 608},
};

class AviFiles : public testing::TestWithParam<AviCase>
{
};

TEST_P(AviFiles, VideoAsFfprobeListsIt)
{
    const AviCase& c = GetParam();
    int32_t result = -9;
    auto reader = OpenReader<CAviFileDataReader>(Media(c.szName), &result, Video_Data, std::string());
    ASSERT_TRUE(reader) << result;
    VideoInfo info;
    ASSERT_TRUE(reader->GetVideoInfo(&info));
    EXPECT_EQ(info.nVideoType, c.nVideoType);
    EXPECT_EQ(info.nWidth, 720u);
    EXPECT_EQ(info.nHeight, c.nHeight);
    EXPECT_EQ(info.nStandard, 2u);
    int32_t in = -1, out = -1, system = -1;
    ASSERT_EQ(reader->GetInOut(&in, &out, &system), 0);
    const size_t frames = ProbedPackets(c.szName, "v").size();
    EXPECT_EQ(in, 0);
    EXPECT_EQ(static_cast<size_t>(out), 2 * frames);
    EXPECT_EQ(system, 3);
    EXPECT_GT(reader->GetIndexBase(), 0u);  // ffmpeg counts idx1 offsets from the "movi" list
    uint8_t* format = nullptr;
    ASSERT_EQ(reader->GetFormat(&format), 4u);
    EXPECT_EQ(std::memcmp(format, "vids", 4), 0);
    delete[] format;
    ExpectPackets(*reader, c.szName, "v", 1 << 20);
}

TEST_P(AviFiles, BothSoundStreamsAsFfmpegDecodesThem)
{
    const AviCase& c = GetParam();
    int32_t result = -9;
    auto reader = OpenReader<CAviFileDataReader>(Media(c.szName), &result, Audio_Data, std::string());
    ASSERT_TRUE(reader) << result;
    int32_t channels = 0;
    EXPECT_EQ(reader->GetAudioChannels(&channels, 1), 1);
    EXPECT_EQ(channels, 1);
    for (int32_t k = 0; k < 2; ++k) {
        ASSERT_EQ(reader->SelectAudioStream(k), 0);
        const Walk walk = WalkForwards(*reader, 1 << 16);
        EXPECT_EQ(SizesOf(walk), ProbedSizes(c.szName, "a"));
        const std::string decoded = std::string(c.szName) + ".a" + std::to_string(k) + ".s16be";
        EXPECT_EQ(Joined(walk), Swapped16(ReadBytes(Media(decoded)))) << k;
        EXPECT_EQ(WalkBackwards(*reader, 1 << 16).units, walk.units);
    }
    EXPECT_EQ(reader->SelectAudioStream(2), 1);
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, AviFiles, testing::ValuesIn(kCases),
                         [](const auto& info) { return ParamName(info.param.szName); });

// An AVI of DV frames whose video stream is relabelled "iavs": a type 1 file.
fs::path TypeOne(const std::string& kind)
{
    Bytes bytes = ReadBytes(Media("avi_dvframes_" + kind + ".avi"));
    const std::string strh = "strh";
    const auto at = std::search(bytes.begin(), bytes.end(), strh.begin(), strh.end());
    EXPECT_NE(at, bytes.end());
    std::memcpy(&*(at + 8), "iavs", 4);
    const fs::path path = testsupport::TestRoot() / ("iavs_" + kind + ".avi");
    WriteBytes(path, bytes);
    return path;
}

struct TypeOneCase {
    const char* szKind;
    TcSystem nSystem;
};

void PrintTo(const TypeOneCase& c, std::ostream* os)
{
    *os << c.szKind;
}

class AviTypeOne : public testing::TestWithParam<TypeOneCase>
{
};

TEST_P(AviTypeOne, SoundComesOutOfTheFrames)
{
    const std::string kind = GetParam().szKind;
    const fs::path path = TypeOne(kind);
    const std::string dv = "dv_" + kind + ".dv";
    int32_t result = -9;
    auto video = OpenReader<CAviFileDataReader>(path, &result, Video_Data, std::string());
    ASSERT_TRUE(video) << result;
    EXPECT_EQ(video->GetSystem(), GetParam().nSystem);
    int32_t out = -1;
    ASSERT_EQ(video->GetInOut(nullptr, &out, nullptr), 0);
    EXPECT_EQ(static_cast<size_t>(out), 2 * ProbedPackets(dv, "v").size());
    EXPECT_EQ(Joined(WalkForwards(*video, 1 << 20)), ReadBytes(Media(dv)));

    auto audio = OpenReader<CAviFileDataReader>(path, &result, Audio_Data, std::string());
    ASSERT_TRUE(audio) << result;
    int32_t channels = 0;
    EXPECT_EQ(audio->GetAudioChannels(&channels, 1), 1);
    EXPECT_EQ(channels, 2);
    const Walk walk = WalkForwards(*audio, 1920 * 4);
    EXPECT_EQ(Joined(walk), ReadBytes(Media(dv + ".a0.s16be")));
    EXPECT_EQ(WalkBackwards(*audio, 1920 * 4).units, walk.units);
    // A buffer one sample short is refused and nothing is consumed.
    ASSERT_EQ(audio->GoToDataStart(), 0);
    Bytes buffer(1920 * 4);
    uint8_t* p = buffer.data();
    uint32_t size = 0;
    EXPECT_EQ(audio->GetNextData(&p, static_cast<uint32_t>(walk.units[0].size() - 4), &size, nullptr),
              CDataReader::kBufferTooSmall);
    EXPECT_EQ(size, walk.units[0].size());
    ASSERT_EQ(audio->GetNextData(&p, 1920 * 4, &size, nullptr), 0);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + size), walk.units[0]);
}

INSTANTIATE_TEST_SUITE_P(Dv, AviTypeOne, testing::Values(TypeOneCase{"pal", 3}, TypeOneCase{"ntsc", 4}),
                         [](const auto& info) { return std::string(info.param.szKind); });

// idx1 offsets counted from the file start, from the "movi" list, or 32 bytes before it.
struct Idx1Case {
    const char* szName;
    int64_t nShift;  // added to ffmpeg's movi-relative offsets, in units of the movi position
    int64_t nExtra;
};

void PrintTo(const Idx1Case& c, std::ostream* os)
{
    *os << c.szName;
}

class AviIdx1 : public testing::TestWithParam<Idx1Case>
{
};

TEST_P(AviIdx1, OffsetsAreLocated)
{
    Bytes bytes = ReadBytes(Media("avi_dvsd.avi"));
    const std::string movi = "movi", idx1 = "idx1";
    const uint64_t moviPos = std::search(bytes.begin(), bytes.end(), movi.begin(), movi.end()) - bytes.begin();
    const uint64_t index = std::search(bytes.begin(), bytes.end(), idx1.begin(), idx1.end()) - bytes.begin();
    const uint32_t count = Le32(&bytes[index + 4]) / 16;
    ByteWriter w(bytes);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = index + 8 + i * 16 + 8;
        w.Le32(at, static_cast<uint32_t>(Le32(&bytes[at]) + GetParam().nShift * moviPos + GetParam().nExtra));
    }
    const fs::path path = testsupport::TestRoot() / "idx1.avi";
    WriteBytes(path, bytes);
    int32_t result = -9;
    auto reader = OpenReader<CAviFileDataReader>(path, &result, Video_Data, std::string());
    ASSERT_TRUE(reader) << result;
    EXPECT_EQ(reader->GetIndexBase(), (1 - GetParam().nShift) * moviPos - GetParam().nExtra);
    EXPECT_EQ(SizesOf(WalkForwards(*reader, 1 << 20)), ProbedSizes("avi_dvsd.avi", "v"));
}

INSTANTIATE_TEST_SUITE_P(Bases, AviIdx1,
                         testing::Values(Idx1Case{"FromFileStart", 1, 0}, Idx1Case{"FromMovi", 0, 0},
                                         Idx1Case{"FromMoviLess32", 0, 32}),
                         [](const auto& info) { return std::string(info.param.szName); });

TEST(AviFileDataReader, ZeroIndexSizesTakeTheChunkHeaderWithinTheBuffer)
{
    Bytes bytes = ReadBytes(Media("avi_dvsd.avi"));
    const std::string idx1 = "idx1";
    const uint64_t index = std::search(bytes.begin(), bytes.end(), idx1.begin(), idx1.end()) - bytes.begin();
    const uint32_t count = Le32(&bytes[index + 4]) / 16;
    ByteWriter w(bytes);
    for (uint32_t i = 0; i < count; ++i)
        if (std::memcmp(&bytes[index + 8 + i * 16], "00dc", 4) == 0)
            w.Le32(index + 8 + i * 16 + 12, 0);
    const fs::path path = testsupport::TestRoot() / "zero.avi";
    WriteBytes(path, bytes);
    int32_t result = -9;
    auto reader = OpenReader<CAviFileDataReader>(path, &result, Video_Data, std::string());
    ASSERT_TRUE(reader) << result;
    Bytes small(1000);
    uint8_t* p = small.data();
    uint32_t size = 0;
    EXPECT_EQ(reader->GetNextData(&p, 1000, &size, nullptr), CDataReader::kBufferTooSmall);
    EXPECT_EQ(size, 144000u);
    EXPECT_EQ(SizesOf(WalkForwards(*reader, 1 << 20)), ProbedSizes("avi_dvsd.avi", "v"));
}

// An OpenDML file written byte by byte: one video stream whose super index names a standard index in "movi".
TEST(AviFileDataReader, OpenDmlIndexes)
{
    constexpr uint32_t kFrames = 4, kFrameSize = 5000;
    Bytes bytes(70000 + kFrames * (kFrameSize + 8) + 32 + kFrames * 8, 0);
    ByteWriter w(bytes);
    w.Text(0, "RIFF");
    w.Le32(4, static_cast<uint32_t>(bytes.size() - 8));
    w.Text(8, "AVI ");
    // hdrl: avih (56), strl (strh 56, strf 40, indx 24 + 16)
    const uint32_t strl = 4 + 64 + 48 + 48;
    const uint32_t hdrl = 4 + 64 + 8 + strl;
    w.Text(12, "LIST");
    w.Le32(16, hdrl);
    w.Text(20, "hdrl");
    w.Text(24, "avih");
    w.Le32(28, 56);
    w.Le32(32, 40000);
    w.Le32(32 + 16, kFrames);
    w.Text(88, "LIST");
    w.Le32(92, strl);
    w.Text(96, "strl");
    w.Text(100, "strh");
    w.Le32(104, 56);
    w.Text(108, "vids");
    w.Text(164, "strf");
    w.Le32(168, 40);
    w.Le32(172, 40);
    w.Le32(176, 720);
    w.Le32(180, 576);
    w.Text(188, "dvsd");
    w.Text(212, "indx");
    w.Le32(216, 40);
    w.U8(220, 4);  // four words per entry, index of indexes
    w.Le32(224, 1);
    w.Text(228, "00dc");
    const uint32_t moviAt = 70000 - 12;
    const uint32_t ixAt = 70000 + kFrames * (kFrameSize + 8);
    w.Le32(244, ixAt);
    w.Le32(252, 32 + kFrames * 8);
    w.Le32(256, kFrames);
    w.Text(20 + hdrl, "JUNK");
    w.Le32(24 + hdrl, moviAt - (28 + hdrl));
    w.Text(moviAt, "LIST");
    w.Le32(moviAt + 4, static_cast<uint32_t>(bytes.size() - moviAt - 8));
    w.Text(moviAt + 8, "movi");
    for (uint32_t i = 0; i < kFrames; ++i) {
        const uint32_t at = 70000 + i * (kFrameSize + 8);
        w.Text(at, "00dc");
        w.Le32(at + 4, kFrameSize);
        w.Pattern(at + 8, kFrameSize, static_cast<uint8_t>(i * 31));
    }
    w.Text(ixAt, "ix00");
    w.Le32(ixAt + 4, 24 + kFrames * 8);
    w.U8(ixAt + 8, 2);
    w.U8(ixAt + 11, 1);
    w.Le32(ixAt + 12, kFrames);
    w.Text(ixAt + 16, "00dc");
    w.Le32(ixAt + 20, 70000);  // base offset; each entry points at its chunk's data
    for (uint32_t i = 0; i < kFrames; ++i) {
        w.Le32(ixAt + 32 + i * 8, i * (kFrameSize + 8) + 8);
        w.Le32(ixAt + 32 + i * 8 + 4, kFrameSize | (i == 1 ? 0x80000000u : 0));  // bit 31: not a key frame
    }
    const fs::path path = testsupport::TestRoot() / "opendml.avi";
    WriteBytes(path, bytes);
    int32_t result = -9;
    auto reader = OpenReader<CAviFileDataReader>(path, &result, Video_Data, std::string());
    ASSERT_TRUE(reader) << result;
    const Walk walk = WalkForwards(*reader, kFrameSize);
    ASSERT_EQ(walk.units.size(), kFrames);
    for (uint32_t i = 0; i < kFrames; ++i) {
        const auto data = bytes.begin() + 70000 + i * (kFrameSize + 8) + 8;
        EXPECT_TRUE(std::equal(walk.units[i].begin(), walk.units[i].end(), data)) << i;
        EXPECT_DOUBLE_EQ(walk.seconds[i], i * 0.04);
    }
    double seconds = 0.05;
    ASSERT_EQ(reader->GoToTime(&seconds), 0);
    EXPECT_DOUBLE_EQ(seconds, 0.04);
    uint8_t* p = nullptr;
    Bytes one(kFrameSize);
    p = one.data();
    ASSERT_EQ(reader->GetNextData(&p, kFrameSize, nullptr, &seconds), 0);
    EXPECT_EQ(one, walk.units[1]);
    EXPECT_EQ(reader->GoToFieldOffset(8), CDataReader::kNoMoreData);
}

// ffmpeg cuts PCM into chunks of 1024 samples, not one a frame: each chunk is timed by the samples before it.
TEST(AviFileDataReader, SoundIsTimedBySamples)
{
    int32_t result = -9;
    auto reader = OpenReader<CAviFileDataReader>(Media("avi_pcm.avi"), &result, Audio_Data, std::string());
    ASSERT_TRUE(reader) << result;
    const std::vector<uint32_t> sizes = ProbedSizes("avi_pcm.avi", "a");
    const Walk walk = WalkForwards(*reader, 1 << 16);
    ASSERT_EQ(SizesOf(walk), sizes);
    EXPECT_EQ(Joined(walk), Swapped16(ReadBytes(Media("avi_pcm.avi.a0.s16be"))));
    uint64_t samples = 0;
    for (size_t k = 0; k < sizes.size(); ++k) {
        EXPECT_DOUBLE_EQ(walk.seconds[k], samples / 48000.0) << k;
        samples += sizes[k] / 4;
    }
    EXPECT_EQ(samples, 96000u);
    EXPECT_EQ(WalkBackwards(*reader, 1 << 16).seconds, walk.seconds);
    // One second is sample 48000, inside chunk 46 (samples 47104 to 48127).
    double seconds = 1.0;
    ASSERT_EQ(reader->GoToTime(&seconds), 0);
    EXPECT_DOUBLE_EQ(seconds, 47104 / 48000.0);
    Bytes buffer(1 << 16);
    uint8_t* p = buffer.data();
    uint32_t size = 0;
    double at = -1;
    ASSERT_EQ(reader->GetNextData(&p, 1 << 16, &size, &at), 0);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + size), walk.units[46]);
    EXPECT_DOUBLE_EQ(at, seconds);
    ASSERT_EQ(reader->GoToFieldOffset(75), 0);  // 1.5 s
    ASSERT_EQ(reader->GetNextData(&p, 1 << 16, &size, &at), 0);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + size), walk.units[70]);
    seconds = 2.0;
    EXPECT_EQ(reader->GoToTime(&seconds), 0);  // the end itself
    EXPECT_EQ(reader->GetNextData(&p, 1 << 16, &size, &at), CDataReader::kNoMoreData);
    seconds = 2.1;
    EXPECT_EQ(reader->GoToTime(&seconds), CDataReader::kNoMoreData);
}

// A file over 1 GB goes on in a second RIFF ("AVIX"), found through the OpenDML indexes; the main header counts
// the first RIFF's frames only.
TEST(AviFileDataReader, OpenDmlFileOverOneGigabyte)
{
    const std::string name = "avi_odml.avi";
    const std::vector<Packet> packets = ProbedPackets(name, "v");
    ASSERT_EQ(packets.size(), 210u);
    ASSERT_GT(packets.back().nPos, uint64_t{1} << 30);
    int32_t result = -9;
    auto video = OpenReader<CAviFileDataReader>(Media(name), &result, Video_Data, std::string());
    ASSERT_TRUE(video) << result;
    int32_t in = -1, out = -1;
    ASSERT_EQ(video->GetInOut(&in, &out, nullptr), 0);
    EXPECT_EQ(out - in, 420);
    const uint32_t frameSize = packets[0].nSize;
    Bytes buffer(frameSize), expected(frameSize);
    std::ifstream file(Media(name), std::ios::binary);
    // Seeks into both RIFFs, then the last frame read backwards from the end.
    for (const size_t frame : {size_t{200}, size_t{3}, size_t{180}}) {
        ASSERT_EQ(video->GoToFieldOffset(static_cast<int64_t>(frame * 2)), 0) << frame;
        uint8_t* p = buffer.data();
        uint32_t size = 0;
        double seconds = -1;
        ASSERT_EQ(video->GetNextData(&p, frameSize, &size, &seconds), 0) << frame;
        EXPECT_EQ(size, packets[frame].nSize);
        EXPECT_DOUBLE_EQ(seconds, frame / 25.0);
        file.seekg(static_cast<std::streamoff>(packets[frame].nPos));
        file.read(reinterpret_cast<char*>(expected.data()), frameSize);
        EXPECT_TRUE(buffer == expected) << frame;
    }
    double seconds = 8.0;
    ASSERT_EQ(video->GoToTime(&seconds), 0);
    EXPECT_DOUBLE_EQ(seconds, 8.0);
    ASSERT_EQ(video->GoToDataEnd(), 0);
    uint8_t* p = buffer.data();
    uint32_t size = 0;
    ASSERT_EQ(video->GetPrevData(&p, frameSize, &size, &seconds), 0);
    EXPECT_DOUBLE_EQ(seconds, 209 / 25.0);

    auto sound = OpenReader<CAviFileDataReader>(Media(name), &result, Audio_Data, std::string());
    ASSERT_TRUE(sound) << result;
    const Walk walk = WalkForwards(*sound, 1 << 16);
    EXPECT_EQ(SizesOf(walk), ProbedSizes(name, "a"));
    EXPECT_EQ(Joined(walk), Swapped16(ReadBytes(Media(name + ".a0.s16be"))));
    seconds = 8.0;
    ASSERT_EQ(sound->GoToTime(&seconds), 0);
    EXPECT_NEAR(seconds, 8.0, 1024 / 48000.0);
}

// An AVI that lost its last byte keeps every whole index entry: the frames all read as ffprobe lists them.
TEST(AviFileDataReader, IndexCutShortKeepsItsWholeEntries)
{
    Bytes bytes = ReadBytes(Media("avi_dvsd.avi"));
    bytes.pop_back();
    const fs::path path = testsupport::TestRoot() / "cut.avi";
    WriteBytes(path, bytes);
    for (const int32_t kind : {Video_Data, Audio_Data}) {
        SCOPED_TRACE(kind);
        int32_t result = -9;
        auto reader = OpenReader<CAviFileDataReader>(path, &result, kind, std::string());
        ASSERT_TRUE(reader) << result;
        const std::vector<uint32_t> probed = ProbedSizes("avi_dvsd.avi", kind == Video_Data ? "v" : "a");
        const std::vector<uint32_t> sizes = SizesOf(WalkForwards(*reader, 1 << 20));
        // Only the last entry of the index (a sound chunk) is lost.
        EXPECT_GE(sizes.size() + 1, probed.size());
        EXPECT_TRUE(std::equal(sizes.begin(), sizes.end(), probed.begin()));
        if (kind == Video_Data) {
            int32_t out = -1;
            ASSERT_EQ(reader->GetInOut(nullptr, &out, nullptr), 0);
            EXPECT_EQ(static_cast<size_t>(out), 2 * probed.size());
        }
    }
}

TEST(AviFileDataReader, ShortFilesDoNotOpen)
{
    Bytes bytes = ReadBytes(Media("avi_dvsd.avi"));
    bytes.resize(65535);
    const fs::path path = testsupport::TestRoot() / "short.avi";
    WriteBytes(path, bytes);
    int32_t result = -9;
    EXPECT_FALSE(OpenReader<CAviFileDataReader>(path, &result, Video_Data, std::string()));
    EXPECT_EQ(result, CAviFileDataReader::kTooShort);
}

}  // namespace
