// The OP1a and QuickTime writers driven as the sender drives them, checked with ffprobe.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "sender/CDorn_Op1a_Writer.h"
#include "sender/CDorn_QTDV_Writer.h"
#include "tests/sender/SenderTestMedia.h"
#include "tests/support/FileTestKit.h"

namespace
{
using namespace sendertest;
using writertest::Shell;
using writertest::Trim;
namespace fs = std::filesystem;

constexpr int kFrames = 25;

// Feeds frames with the ramp on every channel; the last picture arrives without its sound.
void Feed(CDornWriter& writer, const std::vector<std::string>& frames, int channels, int bits)
{
    for (size_t i = 0; i < frames.size(); ++i) {
        const DornFrame picture{reinterpret_cast<const uint8_t*>(frames[i].data()),
                                static_cast<uint32_t>(frames[i].size())};
        ASSERT_EQ(writer.AddPicture(&picture), 0) << i;
        if (i + 1 == frames.size())
            break;
        for (int ch = 0; ch < channels; ++ch) {
            const Bytes audio = RampBytes(static_cast<uint32_t>(i) * 1920, 1920, ch, bits);
            const DornFrame sound{audio.data(), static_cast<uint32_t>(audio.size())};
            ASSERT_EQ(writer.AddAudio(ch, &sound), 0) << i << " " << ch;
        }
    }
    EXPECT_EQ(writer.GetQueuedPictures(), channels ? 1u : 0u);
}

std::string Probe(const fs::path& path, const std::string& entries)
{
    return Trim(Shell("ffprobe -v error -count_frames " + entries + " -of default=nw=1 " + path.string()));
}

TEST(DornOp1aWriter, ImxWithSoundEveryPictureWritten)
{
    const auto frames = ImxFrames(50, true, kFrames);
    const fs::path path = testsupport::FreshDir("dorn-op1a") / "clip.mxf";
    for (int channels : {4, 0}) {
        SCOPED_TRACE(channels);
        CDorn_Op1a_Writer writer;
        writer.SetSampleFolder(writertest::SampleDir().string() + "/");
        ASSERT_EQ(writer.Open(path.c_str(), 3, 0, channels, 24, 1, CTimeCode(10, 0, 0, 0, false, 3), kFrames), 0);
        Feed(writer, frames, channels, 24);
        EXPECT_EQ(writer.Close(false), 0);
        EXPECT_EQ(Shell("ffprobe -v warning " + path.string() + " 2>&1"), "");
        EXPECT_EQ(Probe(path, "-select_streams v:0 -show_entries stream=codec_name,width,height,nb_read_frames"),
                  "codec_name=mpeg2video\nwidth=720\nheight=608\nnb_read_frames=25");
        if (channels)
            EXPECT_EQ(Probe(path, "-select_streams a:0 -show_entries stream=channels,sample_rate"),
                      "sample_rate=48000\nchannels=4");
    }
}

TEST(DornOp1aWriter, ChecksChannelsBitratesAndAudioRoom)
{
    const fs::path path = testsupport::FreshDir("dorn-op1a-bad") / "clip.mxf";
    CDorn_Op1a_Writer writer;
    writer.SetSampleFolder(writertest::SampleDir().string() + "/");
    EXPECT_NE(writer.Open(path.c_str(), 3, 45000000, 2, 24, 1, CTimeCode(), 10), 0);
    ASSERT_EQ(writer.Open(path.c_str(), 3, 50000000, 2, 24, 1, CTimeCode(), 10), 0);
    const Bytes audio = RampBytes(0, 1920, 0, 24);
    const DornFrame sound{audio.data(), static_cast<uint32_t>(audio.size())};
    EXPECT_EQ(writer.AddAudio(2, &sound), 1);
    EXPECT_EQ(writer.AddAudio(-1, &sound), 1);
    const Bytes huge = RampBytes(0, 4000, 0, 24);
    const DornFrame tooMuch{huge.data(), static_cast<uint32_t>(huge.size())};
    EXPECT_EQ(writer.AddAudio(0, &tooMuch), 1);
    EXPECT_EQ(writer.Close(true), 0);
}

TEST(DornQTDVWriter, Dv25WithSoundEveryPictureWritten)
{
    const fs::path dv = writertest::Cached("dv25p_25.dif",
                                           "-f lavfi -i testsrc2=s=720x576:r=25 -frames:v 25 "
                                           "-pix_fmt yuv420p -c:v dvvideo -f dv");
    const std::string stream = testsupport::ReadWholeFile(dv);
    ASSERT_EQ(stream.size(), 25u * 144000);
    std::vector<std::string> frames;
    for (size_t at = 0; at < stream.size(); at += 144000)
        frames.push_back(stream.substr(at, 144000));
    const fs::path path = testsupport::FreshDir("dorn-qtdv") / "clip.mov";
    {
        CDorn_QTDV_Writer writer("MAINID01", "VARMAIN", "BACKID02", "VARBACK");
        ASSERT_EQ(writer.Open(path.c_str(), 3, 25000000, 2, 16, 1, CTimeCode(10, 0, 0, 0, false, 3), kFrames), 0);
        std::string id;
        writer.GetLouthIdBackup(id);
        EXPECT_EQ(id, "BACKID02");
        Feed(writer, frames, 2, 16);
        // Null sound is taken as silence; with no picture waiting it adds no frame.
        EXPECT_EQ(writer.AddNULLAudioFrame(0, 3), 0);
        EXPECT_EQ(writer.Close(false), 0);
    }
    EXPECT_EQ(Probe(path, "-select_streams v:0 -show_entries stream=codec_name,width,height,nb_read_frames"),
              "codec_name=dvvideo\nwidth=720\nheight=576\nnb_read_frames=25");
    EXPECT_EQ(Probe(path, "-select_streams a:0 -show_entries stream=sample_rate,channels"),
              "sample_rate=48000\nchannels=1");
}

}  // namespace
