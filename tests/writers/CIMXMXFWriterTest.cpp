#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "reading/factory/DataReaderFactory.h"
#include "reading/factory/FileTypeDetection.h"
#include "tests/support/FileTestKit.h"
#include "tests/writers/WriterTestMedia.h"
#include "writers/op1a/CIMXMXFWriter.h"

namespace
{
namespace fs = std::filesystem;
using writertest::Shell;
using writertest::Trim;

struct ImxCase {
    int mbps;
    bool is625;
    int bits;
    int frames;
    int channels;       // given to Begin and to every frame
    TcSystem tcSystem;  // of the start timecode: 3 PAL, 4 NTSC drop, 5 NTSC non-drop
};

std::string CaseName(const ImxCase& c)
{
    return "imx" + std::to_string(c.mbps) + (c.is625 ? "_625_" : "_525_") + std::to_string(c.channels) + "x" +
           std::to_string(c.bits) + "bit" + (c.tcSystem == 5 ? "_ndf" : "");
}

CTimeCode StartOf(const ImxCase& c)
{
    return c.is625 ? CTimeCode(10, 0, 0, 0, false, 3) : CTimeCode(1, 2, 3, 4, false, c.tcSystem);
}

std::string StartText(const ImxCase& c)
{
    return c.is625 ? "10:00:00:00" : c.tcSystem == 4 ? "01:02:03;04" : "01:02:03:04";
}

// A sound of its own per channel as integers of the width, with full scale and the most negative value now
// and then.
int32_t SourceValue(int channel, size_t index, int bits)
{
    const int32_t top = bits == 16 ? 32767 : 8388607;
    if (index % 97 == static_cast<size_t>(channel))
        return -top - 1;
    if (index % 89 == static_cast<size_t>(channel))
        return top;
    return static_cast<int32_t>(top * std::sin(static_cast<double>(index) * (0.01 + 0.003 * channel)));
}

// The float the sender hands over for an integer sample.
float AsFloat(int32_t value, int bits)
{
    return static_cast<float>(value * (1.0 / (bits == 16 ? 32767 : 8388607)));
}

void AppendPcm(std::string* pcm, int32_t value, int bits)
{
    for (int b = 0; b < bits / 8; ++b)
        pcm->push_back(static_cast<char>((value >> (8 * b)) & 0xFF));
}

struct Written {
    fs::path path;
    std::vector<std::string> frames;
    std::string pcm;  // interleaved, as ffmpeg decodes it
};

Written WriteClip(const ImxCase& c, const std::string& name)
{
    Written out;
    out.path = testsupport::FreshDir("imx-" + name) / (name + ".mxf");
    out.frames = writertest::SplitFrames(testsupport::ReadWholeFile(writertest::ImxEssence(c.mbps, c.is625, c.frames)));
    EXPECT_EQ(out.frames.size(), static_cast<size_t>(c.frames));

    CIMXMXFWriter writer(c.bits, (writertest::SampleDir().string() + "/").c_str(), 0);
    EXPECT_EQ(writer.Open(out.path.c_str()), 0);
    MediaWriterClipInfo info;
    info.standardCode = c.is625 ? 3 : 4;
    info.videoBitRate = static_cast<uint32_t>(c.mbps) * 1000000u;
    info.aspectCode = 3;
    info.startTimecode = StartOf(c);
    info.audioChannels = c.channels;
    EXPECT_EQ(writer.Begin(info), 0);
    const int channels = writer.GetAudioChannelCount(0);
    EXPECT_EQ(channels, c.channels);
    const int cadence[5] = {1602, 1601, 1602, 1601, 1602};
    size_t sampleIndex = 0;
    for (int f = 0; f < c.frames; ++f) {
        const int count = c.is625 ? 1920 : cadence[f % 5];
        std::vector<std::vector<float>> samples(channels, std::vector<float>(count));
        std::vector<const float*> pointers;
        for (int ch = 0; ch < channels; ++ch) {
            for (int i = 0; i < count; ++i)
                samples[ch][i] = AsFloat(SourceValue(ch, sampleIndex + i, c.bits), c.bits);
            pointers.push_back(samples[ch].data());
        }
        for (int i = 0; i < count; ++i)
            for (int ch = 0; ch < channels; ++ch)
                AppendPcm(&out.pcm, SourceValue(ch, sampleIndex + i, c.bits), c.bits);
        sampleIndex += count;
        const std::string& frame = out.frames[f];
        EXPECT_EQ(writer.AddFrame(reinterpret_cast<const uint8_t*>(frame.data()), static_cast<uint32_t>(frame.size()),
                                  pointers.data(), count, channels),
                  0);
    }
    EXPECT_EQ(writer.Close(), 0);
    return out;
}

class ImxWriter : public ::testing::TestWithParam<ImxCase>
{
};

TEST_P(ImxWriter, IndependentToolsAndOwnReadersReadTheFile)
{
    const ImxCase c = GetParam();
    const Written clip = WriteClip(c, CaseName(c));
    const std::string path = clip.path.string();

    EXPECT_EQ(Shell("ffprobe -v warning " + path + " 2>&1"), "");
    const std::string video = Shell(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,profile,width,height,r_frame_rate,display_aspect_ratio,nb_read_frames -of "
        "default=nw=1 " +
        path);
    EXPECT_NE(video.find("codec_name=mpeg2video"), std::string::npos) << video;
    EXPECT_NE(video.find("profile=4:2:2"), std::string::npos) << video;
    EXPECT_NE(video.find(c.is625 ? "height=608" : "height=512"), std::string::npos) << video;
    EXPECT_NE(video.find(c.is625 ? "r_frame_rate=25/1" : "r_frame_rate=30000/1001"), std::string::npos) << video;
    EXPECT_NE(video.find("display_aspect_ratio=16:9"), std::string::npos) << video;
    EXPECT_NE(video.find("nb_read_frames=" + std::to_string(c.frames)), std::string::npos) << video;
    const std::string audio = Shell(
        "ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,channels,sample_rate -of default=nw=1 " +
        path);
    EXPECT_NE(audio.find(c.bits == 16 ? "codec_name=pcm_s16le" : "codec_name=pcm_s24le"), std::string::npos) << audio;
    EXPECT_NE(audio.find("channels=" + std::to_string(c.channels)), std::string::npos) << audio;
    EXPECT_EQ(Trim(Shell("ffprobe -v error -show_entries format_tags=timecode -of default=nw=1:nk=1 " + path)),
              StartText(c));
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -xerror -i " + path + " -f null - 2>&1"), "");
    const std::string pcm = Shell("ffmpeg -nostdin -v error -i " + path + " -map 0:a:0 -c:a copy -f " +
                                  (c.bits == 16 ? "s16le" : "s24le") + " -");
    EXPECT_EQ(pcm.size(), clip.pcm.size());
    EXPECT_TRUE(pcm == clip.pcm) << "decoded sound differs";
    EXPECT_EQ(Trim(Shell("mediainfo --Inform='General;%Format_Profile%' " + path)), "OP-1a");
    EXPECT_EQ(Trim(Shell("mediainfo --Inform='Video;%FrameCount%' " + path)), std::to_string(c.frames));
    EXPECT_EQ(Trim(Shell("mediainfo --Inform='Audio;%Channel(s)%' " + path)), std::to_string(c.channels));
    EXPECT_EQ(Trim(Shell("mediainfo --Inform='Other;%TimeCode_FirstFrame%|' " + path)).substr(0, 11), StartText(c));
    EXPECT_EQ(Shell("mediainfo " + path).find("IsTruncated"), std::string::npos);

    int32_t subCode = 0;
    EXPECT_EQ(GetFileTypeFromSource(path.c_str(), &subCode), IMX_File);
    EXPECT_EQ(subCode, c.mbps == 30 ? IMX30_Video : c.mbps == 40 ? IMX40_Video : IMX50_Video);
    auto reader = CreateDataReader(path.c_str(), IMX_File, Video_Data);
    ASSERT_TRUE(reader);
    std::vector<uint8_t> buffer(400000);
    for (int f = 0; f < c.frames; ++f) {
        uint8_t* p = buffer.data();
        uint32_t size = 0;
        double seconds = 0;
        ASSERT_EQ(reader->GetNextData(&p, static_cast<uint32_t>(buffer.size()), &size, &seconds), 0) << f;
        const std::string& given = clip.frames[f];
        ASSERT_GE(size, given.size());
        // The sequence header's aspect ratio and the GOP time code are the writer's; the rest is the picture.
        EXPECT_EQ(std::memcmp(p + 8, given.data() + 8, 12), 0) << f;
        EXPECT_EQ(p[7] >> 4, 3) << f;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(p) + 40, given.size() - 40), given.substr(40)) << f;
    }
    // The sound reader gives each frame's AES3 element; its words hold the samples given.
    auto sound = CreateDataReader(path.c_str(), IMX_File, Audio_Data);
    ASSERT_TRUE(sound);
    std::string decoded;
    int badChannels = 0;
    const int channels = c.channels;
    for (int f = 0; f < c.frames; ++f) {
        uint8_t* p = buffer.data();
        uint32_t size = 0;
        double seconds = 0;
        ASSERT_EQ(sound->GetNextData(&p, static_cast<uint32_t>(buffer.size()), &size, &seconds), 0) << f;
        const uint32_t count = p[1] | p[2] << 8;
        ASSERT_EQ(size, count * 32 + 4) << f;
        EXPECT_EQ(p[0], c.is625 ? 0 : f % 5 + 1) << f;
        for (uint32_t i = 0; i < count; ++i)
            for (int ch = 0; ch < channels; ++ch) {
                const uint8_t* w = p + 4 + i * 32 + ch * 4;
                const uint32_t word = w[0] | w[1] << 8 | w[2] << 16 | static_cast<uint32_t>(w[3]) << 24;
                badChannels += (word & 7u) != static_cast<uint32_t>(ch) ? 1 : 0;
                const uint32_t value = c.bits == 16 ? (word >> 12) & 0xFFFF : (word >> 4) & 0xFFFFFF;
                for (int b = 0; b < c.bits / 8; ++b)
                    decoded.push_back(static_cast<char>(value >> (8 * b)));
            }
    }
    EXPECT_EQ(badChannels, 0);
    EXPECT_TRUE(decoded == clip.pcm);
}

INSTANTIATE_TEST_SUITE_P(Rates, ImxWriter,
                         ::testing::Values(ImxCase{30, true, 24, 25, 4, 3}, ImxCase{40, true, 16, 25, 8, 3},
                                           ImxCase{50, true, 24, 25, 8, 3}, ImxCase{30, false, 16, 30, 8, 5},
                                           ImxCase{40, false, 24, 30, 4, 4}, ImxCase{50, false, 16, 30, 8, 4},
                                           ImxCase{50, false, 24, 30, 8, 5}),
                         [](const auto& info) { return CaseName(info.param); });

}  // namespace
