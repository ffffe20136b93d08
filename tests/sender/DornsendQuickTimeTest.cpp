// DV QuickTime playouts by the sender, driven as the transfer service drives it: a gap sent as null frames becomes
// black pictures, a track without sound becomes silence, and the start timecode keeps the composition's drop-frame
// flag. The movie is read back by ffprobe, ffmpeg and mediainfo.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "sender/CDornsend.h"
#include "tests/sender/DornsendTestKit.h"
#include "tests/support/FileTestKit.h"
#include "tests/writers/WriterTestMedia.h"

namespace
{
using namespace sendertest;
namespace fs = std::filesystem;
using writertest::Shell;
using writertest::Trim;

struct DvPlayout {
    const char* name;
    const char* compressor;
    bool is625;
    const char* pixFmt;
    int bits;
    bool drop;             // the composition's start timecode flag (29.97 only)
    const char* timecode;  // as the tools show the start
};

constexpr int kFrames = 12;
constexpr int kPictures = 9;  // the last three pictures are a gap

uint32_t SamplesOf(bool is625, int frame)
{
    return is625 ? 1920 : frame % 5 == 1 || frame % 5 == 3 ? 1601 : 1602;
}

// Mean luma of each picture ffmpeg decodes from the movie.
std::vector<double> MeanLumas(const fs::path& movie, int width, int height)
{
    const std::string gray = Shell("ffmpeg -nostdin -v error -i '" + movie.string() +
                                   "' -map 0:v:0 -vf extractplanes=y -f rawvideo -pix_fmt gray -");
    std::vector<double> lumas;
    const size_t size = static_cast<size_t>(width) * height;
    for (size_t at = 0; at + size <= gray.size(); at += size) {
        double sum = 0;
        for (size_t i = at; i < at + size; ++i)
            sum += static_cast<unsigned char>(gray[i]);
        lumas.push_back(sum / static_cast<double>(size));
    }
    return lumas;
}

class DornsendQuickTime : public ::testing::TestWithParam<DvPlayout>
{
};

TEST_P(DornsendQuickTime, GapAndSilentTrackPlayOutAsBlackAndSilence)
{
    const DvPlayout& c = GetParam();
    InstallBlackFrames();
    const fs::path dir = testsupport::FreshDir(std::string("dornsend-qt-") + c.name);
    const int width = 720, height = c.is625 ? 576 : 480;
    const uint32_t frameBytes = c.is625 ? 144000 : 120000;
    const std::string stream = testsupport::ReadWholeFile(writertest::Cached(
        std::string("dornsend-qt-") + c.name + ".dif",
        std::string("-f lavfi -i testsrc2=s=720x") + (c.is625 ? "576:r=25" : "480:r=30000/1001") + " -frames:v " +
            std::to_string(kPictures) + " -pix_fmt " + c.pixFmt + " -c:v dvvideo -f dv"));
    ASSERT_EQ(stream.size(), size_t{frameBytes} * kPictures);

    // Track 1 has sound for the pictures there are; track 2 has none at all.
    CompositionSpec layout;
    layout.duration = kFrames;
    layout.standard = c.is625 ? Qo::Generic::kVideoStandard25Hz : Qo::Generic::kVideoStandard2997Hz;
    layout.rate = c.is625 ? 25 : 30;
    layout.soundWidth = c.bits;
    layout.tracks = {0, 1, 2};
    layout.compressors = {c.compressor};
    layout.start = Qo::Generic::TimeCode(layout.rate, c.drop, 1, 2, 3, 4);
    layout.targets = {{"TGT-Address", (dir / "share").string()}, {"TGT-Name", "clip"}};
    fs::create_directories(dir / "share");
    const std::string composition = (dir / "composition.xml").string();
    WriteComposition(composition, layout);
    // The sender is driven as the transfer service drives it, frame by frame and track by track: the pictures
    // there are, then null frames for the gap; track 1's sound for those pictures, then null frames; track 2 only
    // null frames.
    OpenedComposition opened(composition);
    ASSERT_NE(opened.Get(), nullptr);
    CDornsend sender;
    ASSERT_EQ(sender.Open(opened.Get()), 0) << sender.GetErrorText();
    std::string track1;  // as the movie holds it: 16-bit little-endian or 24-bit big-endian
    uint32_t first = 0;
    for (int f = 0; f < kFrames; ++f) {
        const uint32_t samples = SamplesOf(c.is625, f);
        if (f < kPictures) {
            const auto* picture = reinterpret_cast<const uint8_t*>(stream.data()) + size_t{frameBytes} * f;
            ASSERT_EQ(sender.Send(Record(0, f, picture, frameBytes, 1)), 0) << sender.GetErrorText();
            const Bytes audio = RampBytes(first, samples, 0, c.bits);
            ASSERT_EQ(sender.Send(Record(1, f, audio.data(), audio.size(), samples)), 0) << sender.GetErrorText();
            for (uint32_t n = first; n < first + samples; ++n) {
                const int32_t v = RampValue(n, 0, c.bits);
                if (c.bits == 16)
                    track1 += {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
                else
                    track1 += {static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
            }
            first += samples;
        } else {
            ASSERT_EQ(sender.SendNull(0, f), 0) << sender.GetErrorText();
            ASSERT_EQ(sender.SendNull(1, f), 0) << sender.GetErrorText();
        }
        ASSERT_EQ(sender.SendNull(2, f), 0) << sender.GetErrorText();
    }
    ASSERT_EQ(sender.Close(), 0) << sender.GetErrorText();
    uint32_t total = 0;
    for (int f = 0; f < kFrames; ++f)
        total += SamplesOf(c.is625, f);
    const size_t bytesPerSample = static_cast<size_t>(c.bits / 8);
    const std::string silence(total * bytesPerSample, '\0');
    track1.resize(total * bytesPerSample, '\0');

    const fs::path movie = dir / "share" / "clip.mov";
    const std::string path = "'" + movie.string() + "'";
    // ffprobe names every timecode (data) stream as an unsupported codec, in ffmpeg's own movies too.
    EXPECT_EQ(Shell("ffprobe -v warning " + path + " 2>&1 | grep -v 'Unsupported codec with id 0'"), "");
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -xerror -i " + path + " -map 0:v -map 0:a -f null - 2>&1"), "");
    EXPECT_EQ(Trim(Shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                         "stream=codec_name,width,height,nb_read_frames -of default=nw=1 " +
                         path)),
              "codec_name=dvvideo\nwidth=720\nheight=" + std::to_string(height) +
                  "\nnb_read_frames=" + std::to_string(kFrames));
    EXPECT_EQ(Trim(Shell("ffprobe -v error -select_streams d -show_entries stream_tags=timecode -of "
                         "default=nw=1:nk=1 " +
                         path)),
              c.timecode);
    EXPECT_EQ(Trim(Shell("mediainfo --Inform='Video;%FrameCount%' " + path)), std::to_string(kFrames));
    EXPECT_EQ(Trim(Shell("mediainfo --Inform='Other;%TimeCode_FirstFrame%' " + path)), c.timecode);
    EXPECT_EQ(Trim(Shell("mediainfo --Inform='Audio;%Channel(s)%|' " + path)), "1|1|");

    // The pictures sent come back as they were; the gap is black.
    EXPECT_TRUE(
        Shell("ffmpeg -nostdin -v error -i " + path + " -map 0:v -c copy -f rawvideo -").substr(0, stream.size()) ==
        stream);
    const std::vector<double> lumas = MeanLumas(movie, width, height);
    ASSERT_EQ(lumas.size(), static_cast<size_t>(kFrames));
    for (int f = kPictures; f < kFrames; ++f)
        EXPECT_NEAR(lumas[f], 16.0, 1.0) << f;
    EXPECT_GT(lumas[0], 40.0);
    // Track 1: its sound, then silence where the gap is; track 2: silence throughout.
    const std::string format = c.bits == 16 ? "s16le" : "s24be";
    EXPECT_TRUE(Shell("ffmpeg -nostdin -v error -i " + path + " -map 0:a:0 -c copy -f " + format + " -") == track1);
    EXPECT_TRUE(Shell("ffmpeg -nostdin -v error -i " + path + " -map 0:a:1 -c copy -f " + format + " -") == silence);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DornsendQuickTime,
    ::testing::Values(DvPlayout{"Dv25_625", "Mirel::DV", true, "yuv420p", 16, false, "01:02:03:04"},
                      DvPlayout{"Dvcpro25_625", "Mirel::DVCPRO::25", true, "yuv411p", 24, false, "01:02:03:04"},
                      DvPlayout{"Dv25_525_Drop", "Mirel::DV", false, "yuv411p", 16, true, "01:02:03;04"},
                      DvPlayout{"Dvcpro25_525_NonDrop", "Mirel::DVCPRO::25", false, "yuv411p", 24, false,
                                "01:02:03:04"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
