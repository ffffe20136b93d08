#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/FileTestKit.h"
#include "tests/writers/WriterTestMedia.h"
#include "writers/CQTDVWriter.h"

namespace
{
namespace fs = std::filesystem;
using writertest::Shell;
using writertest::Trim;

struct DvCase {
    const char* name;
    int kind;  // 0 DV, 1 DVCPRO, 2 DVCPRO 50
    bool is625;
    bool bits24;
    const char* pixFmt;
    const char* tag;
    uint32_t frameBytes;
    const char* aspect;  // pixel aspect ratio
    uint8_t aspectCode;  // 3 = 16:9
};

fs::path DvEssence(const DvCase& c, int frames)
{
    const std::string args = std::string("-f lavfi -i testsrc2=s=720x") + (c.is625 ? "576:r=25" : "480:r=30000/1001") +
                             " -frames:v " + std::to_string(frames) + " -c:v dvvideo -pix_fmt " + c.pixFmt +
                             " -f rawvideo";
    return writertest::Cached(std::string(c.name) + "_" + std::to_string(frames) + ".dif", args);
}

float SampleAt(int channel, size_t index)
{
    return 0.8f * std::sin(static_cast<float>(index) * (0.02f + 0.005f * static_cast<float>(channel)));
}

struct Written {
    fs::path path;
    std::string video;
    std::vector<std::string> pcm;  // per track, as ffmpeg decodes it
};

Written WriteMovie(const DvCase& c, int frames, int channels, uint64_t largeFile = 0)
{
    Written out;
    out.path = testsupport::FreshDir(std::string("qt-") + c.name) / "clip.mov";
    out.video = testsupport::ReadWholeFile(DvEssence(c, frames));
    EXPECT_EQ(out.video.size(), static_cast<size_t>(frames) * c.frameBytes);
    CQTDVWriter writer(c.kind, true, c.bits24);
    if (largeFile)
        writer.SetLargeFileThreshold(largeFile);
    EXPECT_EQ(writer.Open(out.path.c_str()), 0);
    MediaWriterClipInfo info;
    info.standardCode = c.is625 ? 3 : 4;
    info.dvKind = c.kind;
    info.aspectCode = c.aspectCode;
    info.audioChannels = channels;
    info.startTimecode = CTimeCode(10, 0, 0, 0, false, c.is625 ? 3 : 4);
    EXPECT_EQ(writer.Begin(info), 0);
    out.pcm.assign(static_cast<size_t>(channels), "");
    size_t index = 0;
    for (int f = 0; f < frames; ++f) {
        const int count = c.is625 ? 1920 : (f % 5 == 1 || f % 5 == 3 ? 1601 : 1602);
        std::vector<std::vector<float>> samples(static_cast<size_t>(channels), std::vector<float>(count));
        std::vector<const float*> pointers;
        for (int ch = 0; ch < channels; ++ch) {
            for (int i = 0; i < count; ++i) {
                const float s = SampleAt(ch, index + static_cast<size_t>(i));
                samples[ch][i] = s;
                if (c.bits24) {
                    const auto v = static_cast<int32_t>(s * 8388607.0f);
                    out.pcm[ch] += {static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
                } else {
                    const auto v = static_cast<int16_t>(s * 32767.0f);
                    out.pcm[ch] += {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
                }
            }
            pointers.push_back(samples[ch].data());
        }
        index += static_cast<size_t>(count);
        EXPECT_EQ(writer.AddFrame(reinterpret_cast<const uint8_t*>(out.video.data()) + f * c.frameBytes, c.frameBytes,
                                  pointers.data(), count, channels),
                  0);
    }
    EXPECT_EQ(writer.Close(), 0);
    return out;
}

// What ffprobe warns about; it names every timecode (data) stream as "Unsupported codec with id 0", in
// ffmpeg's own movies too, so that line is not a finding.
std::string Warnings(const std::string& path)
{
    std::string out = Shell("ffprobe -v warning " + path + " 2>&1");
    const std::string quirk = "Unsupported codec with id 0 for input stream ";
    for (size_t at = out.find(quirk); at != std::string::npos; at = out.find(quirk))
        out.erase(at, out.find('\n', at) - at + 1);
    return out;
}

class QtDv : public ::testing::TestWithParam<DvCase>
{
};

TEST_P(QtDv, FfprobeReadsTheMovieAndTheEssenceComesBackUnchanged)
{
    const DvCase c = GetParam();
    const int frames = c.is625 ? 25 : 30;
    const Written movie = WriteMovie(c, frames, 4);
    const std::string path = movie.path.string();
    EXPECT_EQ(Warnings(path), "");
    const std::string video = Shell(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,codec_tag_string,nb_read_frames,sample_aspect_ratio -of default=nw=1 " +
        path + " 2>/dev/null");
    EXPECT_NE(video.find("codec_name=dvvideo"), std::string::npos) << video;
    EXPECT_NE(video.find(std::string("codec_tag_string=") + c.tag), std::string::npos) << video;
    EXPECT_NE(video.find("nb_read_frames=" + std::to_string(frames)), std::string::npos) << video;
    EXPECT_NE(video.find(std::string("sample_aspect_ratio=") + c.aspect), std::string::npos) << video;
    const std::string audio =
        Shell("ffprobe -v error -select_streams a -show_entries stream=codec_name,channels,sample_rate -of csv=p=0 " +
              path + " 2>/dev/null");
    const std::string line = std::string(c.bits24 ? "pcm_s24be" : "pcm_s16le") + ",48000,1\n";
    EXPECT_EQ(audio, line + line + line + line);
    EXPECT_EQ(Trim(Shell("ffprobe -v error -select_streams d -show_entries stream_tags=timecode -of "
                         "default=nw=1:nk=1 " +
                         path + " 2>/dev/null")),
              c.is625 ? "10:00:00:00" : "10:00:00;00");
    // The video copied out is the frames given, byte for byte; so is every sound track.
    EXPECT_TRUE(Shell("ffmpeg -nostdin -v error -i " + path + " -map 0:v -c copy -f rawvideo -") == movie.video);
    for (int t = 0; t < 4; ++t)
        EXPECT_TRUE(Shell("ffmpeg -nostdin -v error -i " + path + " -map 0:a:" + std::to_string(t) + " -c copy -f " +
                          (c.bits24 ? "s24be" : "s16le") + " -") == movie.pcm[t])
            << t;
}

INSTANTIATE_TEST_SUITE_P(Kinds, QtDv,
                         ::testing::Values(DvCase{"dv625", 0, true, true, "yuv420p", "dvcp", 144000, "59:54", 0},
                                           DvCase{"dvcpro625", 1, true, false, "yuv411p", "dvpp", 144000, "118:81", 3},
                                           DvCase{"dv50_625", 2, true, true, "yuv422p", "dv5p", 288000, "59:54", 0},
                                           DvCase{"dv525", 0, false, false, "yuv411p", "dvc ", 120000, "10:11", 0},
                                           DvCase{"dv50_525", 2, false, true, "yuv422p", "dv5n", 240000, "40:33", 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CQTDVWriter, PastTheLargeFileThresholdOffsetsAre64BitAndNothingIsOverwritten)
{
    const DvCase c{"dvlarge", 0, true, false, "yuv420p", "dvcp", 144000, "59:54", 0};
    const Written movie = WriteMovie(c, 25, 2, 1 << 20);
    const std::string path = movie.path.string();
    const std::string file = testsupport::ReadWholeFile(movie.path);
    EXPECT_EQ(file.substr(0, 8), std::string("\0\0\0\x01mdat", 8));
    // Video and both sound tracks use 64-bit offsets; only the timecode sample keeps its 32-bit one.
    size_t co64 = 0;
    for (size_t at = file.find("co64"); at != std::string::npos; at = file.find("co64", at + 4))
        ++co64;
    EXPECT_EQ(co64, 3u);
    EXPECT_EQ(Warnings(path), "");
    EXPECT_TRUE(Shell("ffmpeg -nostdin -v error -i " + path + " -map 0:v -c copy -f rawvideo -") == movie.video);
    EXPECT_TRUE(Shell("ffmpeg -nostdin -v error -i " + path + " -map 0:a:1 -c copy -f s16le -") == movie.pcm[1]);
}

}  // namespace
