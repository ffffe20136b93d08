#include <gtest/gtest.h>

#include <cstring>

#include "reading/formats/CWavDataReader.h"
#include "support/ByteWriter.h"
#include "support/TestEnv.h"
#include "tests/reading/FormatMedia.h"

namespace
{

using namespace formatmedia;
using testsupport::ByteWriter;

// The samples of a WAVE file: the bytes behind the "data" chunk header.
Bytes DataOf(const Bytes& file)
{
    const std::string data = "data";
    const auto at = std::search(file.begin() + 12, file.end(), data.begin(), data.end());
    return Bytes(at + 8, file.end());
}

// A format-1 file written byte by byte: a 16-byte "fmt ", optional chunks, "data" with a pattern.
Bytes MakeWav(uint16_t channels, uint16_t bits, uint32_t rate, uint32_t samples, const Bytes& between = {})
{
    const uint32_t frame = channels * bits / 8;
    Bytes bytes(12 + 24);
    ByteWriter w(bytes);
    w.Text(0, "RIFF");
    w.Text(8, "WAVE");
    w.Text(12, "fmt ");
    w.Le32(16, 16);
    w.U8(20, 1);
    w.U8(22, static_cast<uint8_t>(channels));
    w.Le32(24, rate);
    w.Le32(28, rate * frame);
    w.U8(32, static_cast<uint8_t>(frame));
    w.U8(34, static_cast<uint8_t>(bits));
    bytes.insert(bytes.end(), between.begin(), between.end());
    Bytes data(8 + samples * frame);
    ByteWriter d(data);
    d.Text(0, "data");
    d.Le32(4, samples * frame);
    d.Pattern(8, samples * frame, 3);
    bytes.insert(bytes.end(), data.begin(), data.end());
    ByteWriter(bytes).Le32(4, static_cast<uint32_t>(bytes.size() - 8));
    return bytes;
}

fs::path WriteWav(const std::string& name, const Bytes& bytes)
{
    const fs::path path = testsupport::TestRoot() / name;
    WriteBytes(path, bytes);
    return path;
}

TEST(WavDataReader, FfmpegFileForwardsAndBackwards)
{
    int32_t result = -9;
    auto reader = OpenReader<CWavDataReader>(Media("wav_s16.wav"), &result, std::string());
    ASSERT_TRUE(reader) << result;
    EXPECT_EQ(reader->GetAudioChannels(nullptr, 0), 2);
    uint32_t rate = 0, bits = 0;
    ASSERT_EQ(reader->GetCurrentFieldInfo(&rate, &bits, nullptr), 0);
    EXPECT_EQ(rate, 48000u);
    EXPECT_EQ(bits, 16u);
    int32_t in = -1, out = -1, system = 0;
    ASSERT_EQ(reader->GetInOut(&in, &out, &system), 0);
    EXPECT_EQ(in, 0);
    EXPECT_EQ(out, 1000);
    EXPECT_EQ(system, -1);
    const Bytes samples = DataOf(ReadBytes(Media("wav_s16.wav")));
    ASSERT_EQ(samples.size(), 192000u);
    const Walk forwards = WalkForwards(*reader, 7680);
    EXPECT_EQ(Joined(forwards), samples);
    EXPECT_EQ(forwards.units.size(), 25u);
    EXPECT_DOUBLE_EQ(forwards.seconds[1], 0.04);
    const Walk backwards = WalkBackwards(*reader, 7680);
    EXPECT_EQ(backwards.units, forwards.units);
    EXPECT_EQ(backwards.seconds, forwards.seconds);
    // Larger than the buffer: half a second at a time.
    ASSERT_EQ(reader->GoToDataStart(), 0);
    EXPECT_EQ(SizesOf(WalkForwards(*reader, 1 << 20)), (std::vector<uint32_t>{96000, 96000}));
}

// ffmpeg writes 24-bit and multichannel sound as WAVE_FORMAT_EXTENSIBLE; float stays refused as its plain tag is.
TEST(WavDataReader, ExtensibleFilesAsFfmpegDecodesThem)
{
    struct Case {
        const char* szFile;
        int32_t nChannels;
        uint32_t nBits;
    };
    for (const Case& c : {Case{"wav_s24.wav", 2, 24}, Case{"wav_6ch.wav", 6, 16}}) {
        SCOPED_TRACE(c.szFile);
        int32_t result = -9;
        auto reader = OpenReader<CWavDataReader>(Media(c.szFile), &result, std::string());
        ASSERT_TRUE(reader) << result;
        EXPECT_EQ(reader->GetAudioChannels(nullptr, 0), c.nChannels);
        uint32_t rate = 0, bits = 0;
        ASSERT_EQ(reader->GetCurrentFieldInfo(&rate, &bits, nullptr), 0);
        EXPECT_EQ(bits, c.nBits);
        EXPECT_EQ(reader->GetSampleCount(), 48000u);
        const Walk walk = WalkForwards(*reader, 7680 * 3);
        EXPECT_TRUE(Joined(walk) == ReadBytes(Media(std::string(c.szFile) + ".pcm")));
        EXPECT_TRUE(Joined(WalkBackwards(*reader, 7680 * 3)) == Joined(walk));
    }
    // A sub-format outside the PCM family is not PCM.
    Bytes bytes = ReadBytes(Media("wav_s24.wav"));
    const std::string fmt = "fmt ";
    const size_t at = std::search(bytes.begin(), bytes.end(), fmt.begin(), fmt.end()) - bytes.begin();
    ASSERT_EQ(bytes[at + 8], 0xFE);
    bytes[at + 8 + 24 + 15] ^= 1;
    int32_t result = -9;
    EXPECT_FALSE(OpenReader<CWavDataReader>(WriteWav("guid.wav", bytes), &result, std::string()));
    EXPECT_EQ(result, CWavDataReader::kNotPcm);
}

TEST(WavDataReader, RefusedFormats)
{
    struct Case {
        const char* szFile;
        int32_t nResult;
    };
    for (const Case& c : {Case{"wav_44k.wav", CWavDataReader::kNot48k}, Case{"wav_f32.wav", CWavDataReader::kNotPcm}}) {
        int32_t result = -9;
        EXPECT_FALSE(OpenReader<CWavDataReader>(Media(c.szFile), &result, std::string()));
        EXPECT_EQ(result, c.nResult) << c.szFile;
    }
    int32_t result = -9;
    EXPECT_FALSE(OpenReader<CWavDataReader>(WriteWav("zero.wav", MakeWav(0, 16, 48000, 10)), &result, std::string()));
    EXPECT_EQ(result, CWavDataReader::kNotPcm);
    Bytes noData = MakeWav(2, 16, 48000, 10);
    noData.resize(36);
    EXPECT_FALSE(OpenReader<CWavDataReader>(WriteWav("nodata.wav", noData), &result, std::string()));
    EXPECT_EQ(result, CWavDataReader::kNoData);
}

TEST(WavDataReader, TwentyFourBitsComeInWholeFrames)
{
    Bytes list = {'L', 'I', 'S', 'T', 6, 0, 0, 0, 'I', 'N', 'F', 'O', 'x', 'y'};
    const Bytes bytes = MakeWav(2, 24, 48000, 4800, list);
    // Something after the samples is not read as samples.
    Bytes withTail = bytes;
    const Bytes tail = {'J', 'U', 'N', 'K', 2, 0, 0, 0, 9, 9};
    withTail.insert(withTail.end(), tail.begin(), tail.end());
    int32_t result = -9;
    auto reader = OpenReader<CWavDataReader>(WriteWav("s24.wav", withTail), &result, std::string());
    ASSERT_TRUE(reader) << result;
    EXPECT_EQ(reader->GetFrameSize(), 6u);
    EXPECT_EQ(reader->GetSampleCount(), 4800u);
    Bytes buffer(1000);
    uint8_t* p = buffer.data();
    uint32_t size = 0;
    ASSERT_EQ(reader->GetNextData(&p, 1000, &size, nullptr), 0);
    EXPECT_EQ(size, 996u);
    EXPECT_EQ(reader->GetNextData(&p, 5, &size, nullptr), CDataReader::kBufferTooSmall);
    EXPECT_EQ(size, 6u);
    ASSERT_EQ(reader->GoToDataStart(), 0);
    EXPECT_EQ(Joined(WalkForwards(*reader, 1000)), DataOf(bytes));
    double seconds = 0.05;
    ASSERT_EQ(reader->GoToTime(&seconds), 0);
    double at = -1;
    ASSERT_EQ(reader->GetNextData(&p, 1000, &size, &at), 0);
    EXPECT_DOUBLE_EQ(at, 0.05);
    ASSERT_EQ(reader->GoToFieldOffset(4), 0);
    ASSERT_EQ(reader->GetPrevData(&p, 1000, &size, &at), 0);
    EXPECT_EQ(size, 996u);
    EXPECT_DOUBLE_EQ(at, (0.08 * 48000 * 6 - 996) / (6 * 48000.0));
}

}  // namespace
