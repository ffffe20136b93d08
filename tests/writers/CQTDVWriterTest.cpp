#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/support/FileTestKit.h"
#include "tests/support/PyFtpServer.h"
#include "tests/writers/WriterTestMedia.h"
#include "writers/quicktime/CQTDVWriter.h"

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
    const char* aspect;    // pixel aspect ratio
    uint8_t aspectCode;    // 3 = 16:9
    bool nonDrop = false;  // a 29.97 start timecode without drop-frame labels
};

CTimeCode StartOf(const DvCase& c)
{
    return c.is625 ? CTimeCode(10, 0, 0, 0, false, 3) : CTimeCode(1, 2, 3, 4, false, c.nonDrop ? 5 : 4);
}

std::string StartText(const DvCase& c)
{
    return c.is625 ? "10:00:00:00" : c.nonDrop ? "01:02:03:04" : "01:02:03;04";
}

fs::path DvEssence(const DvCase& c, int frames)
{
    const std::string args = std::string("-f lavfi -i testsrc2=s=720x") + (c.is625 ? "576:r=25" : "480:r=30000/1001") +
                             " -frames:v " + std::to_string(frames) + " -c:v dvvideo -pix_fmt " + c.pixFmt +
                             " -f rawvideo";
    return writertest::Cached(std::string(c.name) + "_" + std::to_string(frames) + ".dif", args);
}

// Integer samples of the width with full scale and the most negative value now and then.
int32_t SourceValue(int channel, size_t index, bool bits24)
{
    const int32_t top = bits24 ? 8388607 : 32767;
    if (index % 97 == static_cast<size_t>(channel))
        return -top - 1;
    if (index % 89 == static_cast<size_t>(channel))
        return top;
    return static_cast<int32_t>(top * std::sin(static_cast<double>(index) * (0.02 + 0.005 * channel)));
}

struct Written {
    fs::path path;
    std::string video;
    std::vector<std::string> pcm;  // per track, as ffmpeg decodes it
};

Written WriteMovie(const DvCase& c, int frames, int channels, uint64_t largeFile = 0, bool selfContained = true)
{
    Written out;
    out.path = testsupport::FreshDir(std::string("qt-") + c.name) / "clip.mov";
    out.video = testsupport::ReadWholeFile(DvEssence(c, frames));
    EXPECT_EQ(out.video.size(), static_cast<size_t>(frames) * c.frameBytes);
    CQTDVWriter writer(c.kind, selfContained, c.bits24);
    if (largeFile)
        writer.SetLargeFileThreshold(largeFile);
    EXPECT_EQ(writer.Open(out.path.c_str()), 0);
    MediaWriterClipInfo info;
    info.standardCode = c.is625 ? 3 : 4;
    info.dvKind = c.kind;
    info.aspectCode = c.aspectCode;
    info.audioChannels = channels;
    info.startTimecode = StartOf(c);
    EXPECT_EQ(writer.Begin(info), 0);
    out.pcm.assign(static_cast<size_t>(channels), "");
    size_t index = 0;
    for (int f = 0; f < frames; ++f) {
        const int count = c.is625 ? 1920 : (f % 5 == 1 || f % 5 == 3 ? 1601 : 1602);
        std::vector<std::vector<float>> samples(static_cast<size_t>(channels), std::vector<float>(count));
        std::vector<const float*> pointers;
        for (int ch = 0; ch < channels; ++ch) {
            for (int i = 0; i < count; ++i) {
                // As the sender hands the samples over: the integer over full scale.
                const int32_t v = SourceValue(ch, index + static_cast<size_t>(i), c.bits24);
                samples[ch][i] = static_cast<float>(v * (1.0 / (c.bits24 ? 8388607 : 32767)));
                if (c.bits24)
                    out.pcm[ch] += {static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
                else
                    out.pcm[ch] += {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
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
std::string Warnings(const std::string& path, const std::string& options = "")
{
    std::string out = Shell("ffprobe -v warning " + options + path + " 2>&1");
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
              StartText(c));
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -xerror -i " + path + " -f null - 2>&1"), "");
    EXPECT_EQ(Trim(Shell("mediainfo --Inform='Video;%FrameCount%' " + path)), std::to_string(frames));
    EXPECT_EQ(Trim(Shell("mediainfo --Inform='Audio;%Channel(s)%|' " + path)), "1|1|1|1|");
    EXPECT_EQ(Trim(Shell("mediainfo --Inform='Other;%TimeCode_FirstFrame%' " + path)), StartText(c));
    // The video copied out is the frames given, byte for byte; so is every sound track.
    EXPECT_TRUE(Shell("ffmpeg -nostdin -v error -i " + path + " -map 0:v -c copy -f rawvideo -") == movie.video);
    for (int t = 0; t < 4; ++t)
        EXPECT_TRUE(Shell("ffmpeg -nostdin -v error -i " + path + " -map 0:a:" + std::to_string(t) + " -c copy -f " +
                          (c.bits24 ? "s24be" : "s16le") + " -") == movie.pcm[t])
            << t;
}

INSTANTIATE_TEST_SUITE_P(Kinds, QtDv,
                         ::testing::Values(DvCase{"dv625", 0, true, true, "yuv420p", "dvcp", 144000, "16:15", 0},
                                           DvCase{"dvcpro625", 1, true, false, "yuv411p", "dvpp", 144000, "64:45", 3},
                                           DvCase{"dv50_625", 2, true, true, "yuv422p", "dv5p", 288000, "16:15", 0},
                                           DvCase{"dv525", 0, false, false, "yuv411p", "dvc ", 120000, "8:9", 0},
                                           DvCase{"dvcpro525", 1, false, true, "yuv411p", "dvc ", 120000, "8:9", 0},
                                           DvCase{"dv525ndf", 0, false, true, "yuv411p", "dvc ", 120000, "8:9", 0,
                                                  true},
                                           DvCase{"dv50_525", 2, false, true, "yuv422p", "dv5n", 240000, "32:27", 3}),
                         [](const auto& info) { return std::string(info.param.name); });

// Reference movies whose movie atom is written at the end: shorter than a chunk, one chunk and a rest, and 29.97
// sound whose frames do not hold whole milliseconds.
class QtReference : public ::testing::TestWithParam<std::pair<DvCase, int>>
{
};

TEST_P(QtReference, FfprobeOpensTheMovieThroughItsAliasesAndReadsEveryFrameAndSample)
{
    const auto& [c, frames] = GetParam();
    const Written movie = WriteMovie(c, frames, 2, 0, false);
    const std::string path = movie.path.string();
    // ffmpeg follows the alias records only when asked to.
    const std::string drefs = "-enable_drefs 1 ";
    EXPECT_EQ(Warnings(path, drefs), "");
    EXPECT_EQ(Trim(Shell("ffprobe -v error " + drefs +
                         "-count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 " + path)),
              std::to_string(frames));
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -xerror " + drefs + "-i " + path + " -map 0:v -map 0:a -f null - 2>&1"),
              "");
    EXPECT_TRUE(Shell("ffmpeg -nostdin -v error " + drefs + "-i " + path + " -map 0:v -c copy -f rawvideo -") ==
                movie.video);
    for (int t = 0; t < 2; ++t)
        EXPECT_TRUE(Shell("ffmpeg -nostdin -v error " + drefs + "-i " + path + " -map 0:a:" + std::to_string(t) +
                          " -c copy -f " + (c.bits24 ? "s24be" : "s16le") + " -") == movie.pcm[t])
            << t;
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, QtReference,
    ::testing::Values(std::pair{DvCase{"dvref7", 0, true, false, "yuv420p", "dvcp", 144000, "16:15", 0}, 7},
                      std::pair{DvCase{"dvref25", 0, true, true, "yuv420p", "dvcp", 144000, "16:15", 0}, 25},
                      std::pair{DvCase{"dvref12n", 0, false, false, "yuv411p", "dvc ", 120000, "8:9", 0}, 12}),
    [](const auto& info) { return std::string(info.param.first.name); });

TEST(CQTDVWriter, PastTheLargeFileThresholdOffsetsAre64BitAndNothingIsOverwritten)
{
    const DvCase c{"dvlarge", 0, true, false, "yuv420p", "dvcp", 144000, "16:15", 0};
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

namespace
{
// The boxes of a movie atom: type and size of each, depth-first, for the containers the writer builds.
std::vector<std::pair<std::string, uint64_t>> Boxes(const std::string& file, size_t from, size_t to)
{
    static const std::set<std::string> containers = {"moov", "trak", "mdia", "minf", "stbl",
                                                     "edts", "dinf", "gmhd", "tref"};
    std::vector<std::pair<std::string, uint64_t>> boxes;
    for (size_t at = from; at + 8 <= to;) {
        const uint64_t size = static_cast<uint8_t>(file[at]) << 24 | static_cast<uint8_t>(file[at + 1]) << 16 |
                              static_cast<uint8_t>(file[at + 2]) << 8 | static_cast<uint8_t>(file[at + 3]);
        const std::string type = file.substr(at + 4, 4);
        boxes.emplace_back(type, size);
        if (size < 8)
            break;
        if (containers.count(type)) {
            auto inner = Boxes(file, at + 8, at + size);
            boxes.insert(boxes.end(), inner.begin(), inner.end());
        }
        at += size;
    }
    return boxes;
}

uint32_t Be32At(const std::string& file, size_t at)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(file[at]) << 24 | static_cast<uint8_t>(file[at + 1]) << 16 |
                                 static_cast<uint8_t>(file[at + 2]) << 8 | static_cast<uint8_t>(file[at + 3]));
}

TEST(CQTDVWriter, ShortReferenceMovieIsWrittenAtCloseWithSideFiles)
{
    const DvCase c{"dvref", 0, true, false, "yuv420p", "dvcp", 144000, "16:15", 0};
    const std::string video = testsupport::ReadWholeFile(DvEssence(c, 25));
    const fs::path dir = testsupport::FreshDir("qt-reference");
    CQTDVWriter writer(0, false, false);
    EXPECT_EQ(writer.GetKind(), 4);
    ASSERT_EQ(writer.Open((dir / "clip.mov").c_str()), 0);
    MediaWriterClipInfo info;
    info.audioChannels = 2;
    info.startTimecode = CTimeCode(10, 0, 0, 0, false, 3);
    ASSERT_EQ(writer.Begin(info), 0);
    std::vector<float> left(1920, 0.25f), right(1920, -0.25f);
    const float* channels[] = {left.data(), right.data()};
    for (int f = 0; f < 25; ++f)
        ASSERT_EQ(
            writer.AddFrame(reinterpret_cast<const uint8_t*>(video.data()) + f * 144000, 144000, channels, 1920, 2), 0);
    ASSERT_EQ(writer.Close(), 0);
    EXPECT_TRUE(testsupport::ReadWholeFile(dir / "clip.vid") == video);
    EXPECT_EQ(fs::file_size(dir / "clip.000.pcm"), 25u * 1920 * 2);
    EXPECT_EQ(fs::file_size(dir / "clip.001.pcm"), 25u * 1920 * 2);
    const std::string movie = testsupport::ReadWholeFile(dir / "clip.mov");
    // wide, an mdat holding only the timecode sample, then the movie atom with the 25 frames written.
    EXPECT_EQ(movie.substr(0, 20),
              std::string("\0\0\0\x08wide\0\0\0\x0cmdat", 16) + std::string("\x00\x0d\xbb\xa0", 4));
    const auto boxes = Boxes(movie, 20, movie.size());
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.front().first, "moov");
    EXPECT_EQ(boxes.front().second, movie.size() - 20);
    const size_t stsz = movie.find("stsz");
    ASSERT_NE(stsz, std::string::npos);
    EXPECT_EQ(Be32At(movie, stsz + 8), 144000u);
    EXPECT_EQ(Be32At(movie, stsz + 12), 25u);
    const size_t stsc = movie.find("stsc");
    EXPECT_EQ(Be32At(movie, stsc + 8), 2u);  // (1, 20, 1) and (2, 5, 1)
    EXPECT_EQ(Be32At(movie, stsc + 24), 2u);
    EXPECT_EQ(Be32At(movie, stsc + 28), 5u);
    EXPECT_NE(movie.find("DATA:data:clip.vid"), std::string::npos);
    EXPECT_NE(movie.find("DATA:data:clip.001.pcm"), std::string::npos);
}

TEST(CQTDVWriter, InvalidStartTimecodeLeavesOutTheTimecodeTrack)
{
    const DvCase c{"dvnotc", 0, true, false, "yuv420p", "dvcp", 144000, "16:15", 0};
    const std::string video = testsupport::ReadWholeFile(DvEssence(c, 25));
    const fs::path dir = testsupport::FreshDir("qt-no-tc");
    CQTDVWriter writer(0, true, false);
    ASSERT_EQ(writer.Open((dir / "clip.mov").c_str()), 0);
    MediaWriterClipInfo info;
    info.audioChannels = 8;
    info.stereoPairs = true;
    info.aspectCode = 3;
    ASSERT_EQ(writer.Begin(info), 0);
    for (int f = 0; f < 3; ++f)
        ASSERT_EQ(writer.AddFrame(reinterpret_cast<const uint8_t*>(video.data()), 144000, nullptr, 0, 0), 0);
    ASSERT_EQ(writer.Close(), 0);
    const std::string movie = testsupport::ReadWholeFile(dir / "clip.mov");
    const auto boxes = Boxes(movie, 0, movie.size());
    int tracks = 0;
    for (const auto& box : boxes)
        tracks += box.first == "trak" ? 1 : 0;
    EXPECT_EQ(tracks, 5);  // video and four stereo pairs
    EXPECT_EQ(movie.find("tmcd"), std::string::npos);
    const size_t mvhd = movie.find("mvhd");
    EXPECT_EQ(Be32At(movie, mvhd + 4 + 96), 6u);  // next track ID = tracks + 2
    const size_t tkhd = movie.find("tkhd");
    EXPECT_EQ(Be32At(movie, tkhd + 4 + 76), 1024u << 16);  // 16:9 PAL
    EXPECT_EQ(Shell("ffprobe -v error -select_streams a:3 -show_entries stream=channels -of csv=p=0 " +
                    (dir / "clip.mov").string()),
              "2\n");
}

TEST(CQTDVWriter, CloseReportsAMovieAtomThatCannotBeWritten)
{
    const DvCase c{"dvftp", 0, true, false, "yuv420p", "dvcp", 144000, "16:15", 0};
    const std::string video = testsupport::ReadWholeFile(DvEssence(c, 25));
    const fs::path root = testsupport::FreshDir("qt-ftp-gone");
    auto server = std::make_unique<testsupport::PyFtpServer>(root);
    ASSERT_TRUE(server->IsRunning());
    CQTDVWriter writer(0, true, false);
    ASSERT_EQ(writer.Open(("ftp://" + server->Address() + "/clip.mov").c_str()), 0);
    MediaWriterClipInfo info;
    info.startTimecode = CTimeCode(10, 0, 0, 0, false, 3);
    ASSERT_EQ(writer.Begin(info), 0);
    ASSERT_EQ(writer.AddFrame(reinterpret_cast<const uint8_t*>(video.data()), 144000, nullptr, 0, 0), 0);
    server.reset();
    EXPECT_NE(writer.Close(), 0);
}
}  // namespace

namespace
{
TEST(CQTDVWriter, ReferenceMovieIsFinalAfterTwoChunksWithTheAnnouncedDuration)
{
    const DvCase c{"dvref2", 0, true, false, "yuv420p", "dvcp", 144000, "16:15", 0};
    const std::string video = testsupport::ReadWholeFile(DvEssence(c, 1));
    const fs::path dir = testsupport::FreshDir("qt-reference-long");
    CQTDVWriter writer(0, false, false);
    ASSERT_EQ(writer.Open((dir / "clip.mov").c_str()), 0);
    MediaWriterClipInfo info;
    info.startTimecode = CTimeCode(10, 0, 0, 0, false, 3);
    info.durationFields = 2 * 70;
    ASSERT_EQ(writer.Begin(info), 0);
    for (int f = 0; f < 45; ++f)
        ASSERT_EQ(writer.AddFrame(reinterpret_cast<const uint8_t*>(video.data()), 144000, nullptr, 0, 0), 0);
    // The movie is complete while the side file still grows.
    const std::string movie = testsupport::ReadWholeFile(dir / "clip.mov");
    const size_t stsz = movie.find("stsz");
    ASSERT_NE(stsz, std::string::npos);
    EXPECT_EQ(Be32At(movie, stsz + 12), 70u);
    const size_t co64 = movie.find("co64");
    ASSERT_NE(co64, std::string::npos);
    EXPECT_EQ(Be32At(movie, co64 + 8), 4u);  // ceil(70 / 20) chunks in the side file
    EXPECT_EQ(Be32At(movie, co64 + 12 + 3 * 8 + 4), 3u * 20 * 144000);
    ASSERT_EQ(writer.Close(), 0);
    EXPECT_TRUE(testsupport::ReadWholeFile(dir / "clip.mov") == movie);
    EXPECT_EQ(fs::file_size(dir / "clip.vid"), 45u * 144000);
}

TEST(CQTDVWriter, MoreSamplesThanPlannedStayInBounds)
{
    const DvCase c{"dvmany", 0, true, false, "yuv420p", "dvcp", 144000, "16:15", 0};
    const std::string video = testsupport::ReadWholeFile(DvEssence(c, 1));
    const fs::path dir = testsupport::FreshDir("qt-many-samples");
    CQTDVWriter writer(0, true, true);
    ASSERT_EQ(writer.Open((dir / "clip.mov").c_str()), 0);
    MediaWriterClipInfo info;
    info.audioChannels = 8;
    ASSERT_EQ(writer.Begin(info), 0);
    std::vector<float> samples(20000, 0.5f);
    std::vector<const float*> channels(8, samples.data());
    // Through the 16-bit conversion buffer (cut to what it holds) and straight into the track buffers.
    EXPECT_EQ(writer.CQTAudioVideoWriter::AddFrame(reinterpret_cast<const uint8_t*>(video.data()), 144000,
                                                   channels.data(), 20000, 8),
              0);
    EXPECT_EQ(writer.AddFrame(reinterpret_cast<const uint8_t*>(video.data()), 144000, channels.data(), 20000, 8), 0);
    EXPECT_EQ(writer.Close(), 0);
    const std::string line = "pcm_s24be\n";
    EXPECT_EQ(Shell("ffprobe -v error -select_streams a:7 -show_entries stream=codec_name -of csv=p=0 " +
                    (dir / "clip.mov").string() + " 2>/dev/null"),
              line);
}

TEST(CQTDVWriter, SelfContainedMovieOverFtp)
{
    const DvCase c{"dvftpok", 0, true, false, "yuv420p", "dvcp", 144000, "16:15", 0};
    const std::string video = testsupport::ReadWholeFile(DvEssence(c, 25));
    const fs::path root = testsupport::FreshDir("qt-ftp");
    testsupport::PyFtpServer server(root);
    ASSERT_TRUE(server.IsRunning());
    CQTDVWriter writer(0, true, false);
    ASSERT_EQ(writer.Open(("ftp://" + server.Address() + "/movies/clip.mov").c_str()), 0);
    MediaWriterClipInfo info;
    info.startTimecode = CTimeCode(10, 0, 0, 0, false, 3);
    ASSERT_EQ(writer.Begin(info), 0);
    for (int f = 0; f < 25; ++f)
        ASSERT_EQ(writer.AddFrame(reinterpret_cast<const uint8_t*>(video.data()) + f * 144000, 144000, nullptr, 0, 0),
                  0);
    ASSERT_EQ(writer.Close(), 0);
    const std::string path = (root / "movies" / "clip.mov").string();
    EXPECT_EQ(Warnings(path), "");
    EXPECT_TRUE(Shell("ffmpeg -nostdin -v error -i " + path + " -map 0:v -c copy -f rawvideo -") == video);
}
}  // namespace
