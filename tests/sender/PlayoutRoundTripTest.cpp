// Playouts through the transfer service and libDornsend.so to Parvex clip files (2 and 8 MB blocks) and to a main
// and a backup video server simulator, ingested back through libRecalo.so with the jobs the browser builds for the
// clip: every picture (decoded by ffmpeg) and every sound sample equal to the source, full scale and the most
// negative value included, the start timecode and the aspect kept. One case per line; together they cover each
// codec, rate, line standard, sample width, track count, road and start.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "browser/CValdrinViewCore.h"
#include "common/CTimeCode.h"
#include "outside/rix/CRixSimServer.h"
#include "outside/tessan/CIngestTransfer.h"
#include "outside/tessan/CPlayoutTransfer.h"
#include "outside/tessan/MediaFolder.h"
#include "outside/tessan/WavFile.h"
#include "tests/browser/BrowserTestKit.h"
#include "tests/outside/TessanTestKit.h"
#include "tests/sender/DornsendTestKit.h"
#include "tests/support/FileTestKit.h"
#include "tests/writers/WriterTestMedia.h"

namespace
{
using namespace sendertest;
namespace fs = std::filesystem;

enum class Codec { IMX, DVCPro, VC3 };
enum class Road { File2MB, File8MB, Servers };

struct RoundTrip {
    const char* name;
    Codec codec;
    int mbps;  // IMX 30, 40, 50; DVCPRO 50, 100; VC-3 120
    bool is625;
    bool wide;           // 16:9 pictures
    const char* aspect;  // the target's TGT-AspectRatio; none: the pictures say it
    int bits;
    int tracks;
    int frames;
    Road road;
    int32_t start[4];
    bool dropFrame;
    const char* markIn;  // the ingest job's in point as the browser reads it from the clip
};

int32_t Standard(const RoundTrip& c)
{
    return c.is625 ? Qo::Generic::kVideoStandard25Hz : Qo::Generic::kVideoStandard2997Hz;
}

uint32_t FrameSamples(const RoundTrip& c, int frame)
{
    return tessan::CPlayoutTransfer::CadenceSamples(Standard(c), c.is625 ? 25 : 30, frame);
}

const char* DataType(Codec codec)
{
    return codec == Codec::IMX ? "IMX" : codec == Codec::DVCPro ? "DVCPro" : "Hydrel";
}

const char* FfmpegFormat(Codec codec)
{
    return codec == Codec::IMX ? "mpegvideo" : codec == Codec::DVCPro ? "dv" : "dnxhd";
}

std::string Compressor(const RoundTrip& c)
{
    if (c.codec == Codec::IMX)
        return "Mirel::MPEG2::" + std::to_string(c.mbps);
    return c.codec == Codec::DVCPro ? "Mirel::DVCPRO::" + std::to_string(c.mbps) : "Mirel::HD1080i::Hydrel";
}

// The source pictures, made by ffmpeg once per build tree.
std::vector<std::string> SourceFrames(const RoundTrip& c)
{
    if (c.codec == Codec::IMX)
        return ImxFrames(c.mbps, c.is625, c.frames);
    std::string input = "-f lavfi -i testsrc2=s=";
    uint32_t frameBytes = 0;
    if (c.codec == Codec::VC3) {
        input += "1920x1080:r=25 -pix_fmt yuv422p -c:v dnxhd -b:v 120M -flags +ildct -f rawvideo";
        frameBytes = 2 * 0x4A000;
    } else if (c.mbps == 100) {
        input += "1440x1080:r=25 -pix_fmt yuv422p -c:v dvvideo -f dv";
        frameBytes = 576000;
    } else {
        input += c.is625 ? "720x576:r=25" : "720x480:r=30000/1001";
        input += std::string(" -pix_fmt yuv422p -c:v dvvideo -aspect ") + (c.wide ? "16:9" : "4:3") + " -f dv";
        frameBytes = c.is625 ? 288000 : 240000;
    }
    const std::string name = std::string("roundtrip-") + c.name + ".bin";
    const std::string stream =
        testsupport::ReadWholeFile(writertest::Cached(name, input + " -frames:v " + std::to_string(c.frames)));
    std::vector<std::string> frames;
    for (size_t at = 0; at + frameBytes <= stream.size(); at += frameBytes)
        frames.push_back(stream.substr(at, frameBytes));
    return frames;
}

class PlayoutRoundTrip : public ::testing::TestWithParam<RoundTrip>
{
protected:
    void SetUp() override
    {
        InstallBlackFrames();
        const RoundTrip& c = GetParam();
        _dir = testsupport::FreshDir(std::string("roundtrip-") + c.name);
        if (c.road == Road::Servers) {
            for (auto& server : _servers) {
                rixsim::RixSimConfig config;
                config._nDataTimeoutMs = 2000;
                server = std::make_unique<rixsim::CRixSimServer>(config);
                server->Store().AddDirectory("/clips");
                ASSERT_TRUE(server->Start());
            }
        }
        _frames = SourceFrames(c);
        ASSERT_EQ(_frames.size(), static_cast<size_t>(c.frames));
    }

    std::string Host(int n) const { return "127.0.0.1:" + std::to_string(_servers[n]->FtpPort()); }

    // The composition and the media folder the transfer service plays out.
    void WritePlayout(const fs::path& composition, const fs::path& media)
    {
        const RoundTrip& c = GetParam();
        CompositionSpec layout;
        layout.duration = c.frames;
        layout.standard = Standard(c);
        layout.rate = c.is625 ? 25 : 30;
        layout.soundWidth = c.bits;
        layout.compressors = {Compressor(c)};
        layout.start = Qo::Generic::TimeCode(layout.rate, layout.rate == 30 && c.dropFrame, c.start[0], c.start[1],
                                             c.start[2], c.start[3]);
        layout.name = "Round trip";
        layout.tracks = {0};
        for (int t = 1; t <= c.tracks; ++t)
            layout.tracks.push_back(t);
        layout.targets = {{"TGT-Name", "RoundTrip"},         {"TGT-Serial", "4711"},
                          {"TGT-LouthIdMain", "MAINID01"},   {"TGT-VarIdMain", "VARMAIN"},
                          {"TGT-LouthIdBackup", "BACKID02"}, {"TGT-VarIdBackup", "VARBACK"}};
        if (c.aspect)
            layout.targets["TGT-AspectRatio"] = c.aspect;
        if (c.road == Road::Servers) {
            layout.targets["TGT-Mode"] = "RixFtp";
            layout.targets["TGT-Address"] = "ftp://" + Host(0) + "+" + Host(1) + "/clips/110A";
        } else {
            layout.targets["TGT-Address"] = (_dir / "share").string();
            layout.targets["TGT-8MBBlocks"] = c.road == Road::File8MB ? "1" : "0";
            fs::create_directories(_dir / "share");
        }
        WriteComposition(composition.string(), layout);

        WriteCadencedMedia(
            media, DataType(c.codec), _frames, c.frames, c.tracks, c.bits,
            [&c](int frame) { return FrameSamples(c, frame); }, &_nSamples);
    }

    // The ingest job of the played-out clip, as the browser writes it for the clip file or the server clip.
    std::string BrowserJob()
    {
        const RoundTrip& c = GetParam();
        CValdrinViewCore view(_sink);
        view.SetFixedCopyPath((_dir / "ingestdrag.xml").string());
        CValdrinSettings& s = view.Settings();
        s._b24BitsAudio = c.bits == 24;
        s._bTardix = false;
        std::string job;
        if (c.road == Road::Servers) {
            ValdrinTimings timings;
            timings.nTableRetryMs = 1;
            timings.nFtpControlMs = 2000;
            view.SetTimings(timings);
            s._szCurrentFolder = "/clips/";
            s._szRixAddress = "127.0.0.1";
            s._szRixPort = std::to_string(_servers[0]->FtpPort());
            s._bUseRix = true;
            EXPECT_EQ(view.GetFTPInfos("000110A_MAINID01_RoundTrip               ", job), 0);
        } else if (c.codec == Codec::IMX) {
            s._szCurrentFolder = (_dir / "share").string() + "/";
            EXPECT_EQ(view.GetFileInfos("RoundTrip.mxf", job, nullptr), 0);
        } else {
            // The browser describes IMX clip files only: the other codecs' clip files get the job of the
            // transfer service's test kit, with the clip's points.
            job = tessantest::JobText({{"directory", (_dir / "share").string() + "/"},
                                       {"lookupname", "RoundTrip.mxf"},
                                       {"markin", TimecodeAfter(0)},
                                       {"markout", TimecodeAfter(c.frames)},
                                       {"KorvoFps", c.is625 ? "25" : "30"},
                                       {"KorvoFileType", "Korvo"},
                                       {"KorvoDataType", DataType(c.codec)},
                                       {"KorvoRate", std::to_string(c.mbps)},
                                       {"KorvonAudios", c.tracks <= 4 ? "4" : "8"},
                                       {"KorvonAudioBits", std::to_string(c.bits)},
                                       {"KorvoBlockSizeMB", c.road == Road::File8MB ? "8" : "2"},
                                       {"Tardix", "0"},
                                       {"Rix_TC_System", c.is625 ? "3" : "4"}});
        }
        return job;
    }

    // "hh:mm:ss:ff" of the start plus some frames.
    std::string TimecodeAfter(int frames) const
    {
        const RoundTrip& c = GetParam();
        const CTimeCode start(static_cast<uint16_t>(c.start[0]), static_cast<uint16_t>(c.start[1]),
                              static_cast<uint16_t>(c.start[2]), static_cast<uint16_t>(c.start[3]), false,
                              c.is625 ? 3 : 4);
        const CTimeCode at((start.GetFrameCount() + static_cast<uint32_t>(frames)) * 2, c.is625 ? 3 : 4);
        uint16_t h = 0, m = 0, sec = 0, f = 0;
        at.GetHMSF(h, m, sec, f);
        char text[32];
        std::snprintf(text, sizeof text, "%02u:%02u:%02u:%02u", h, m, sec, f);
        return text;
    }

    // The backup server holds the same clip as the main one, under its own id.
    void ExpectBackupClip()
    {
        const auto main = _servers[0]->Store().FileData("/clips/000110A_MAINID01_RoundTrip               .CLP");
        const auto backup = _servers[1]->Store().FileData("/clips/000110A_BACKID02_RoundTrip               .CLP");
        ASSERT_FALSE(main.empty());
        EXPECT_TRUE(main == backup);
    }

    // The clip table the sender gave each server starts the clip at the composition's start timecode.
    void ExpectServerStart()
    {
        const RoundTrip& c = GetParam();
        const CTimeCode start(static_cast<uint16_t>(c.start[0]), static_cast<uint16_t>(c.start[1]),
                              static_cast<uint16_t>(c.start[2]), static_cast<uint16_t>(c.start[3]), false,
                              c.is625 ? 3 : 4);
        const std::string shortIn = "<SHORTIN>" + std::to_string(start.GetFrameCount() * 2) + "</SHORTIN>";
        for (int n = 0; n < 2; ++n) {
            const auto table =
                _servers[n]->Store().FileData(n == 0 ? "/clips/000110A_MAINID01_RoundTrip               .XML"
                                                     : "/clips/000110A_BACKID02_RoundTrip               .XML");
            EXPECT_NE(std::string(table.begin(), table.end()).find(shortIn), std::string::npos) << shortIn;
        }
    }

    void ExpectIngestedMedia(const fs::path& out)
    {
        const RoundTrip& c = GetParam();
        std::string source;
        for (const std::string& frame : _frames)
            source += frame;
        testsupport::WriteWholeFile(_dir / "source.bin", source);
        const auto expected = FrameMd5(_dir / "source.bin", FfmpegFormat(c.codec));
        ASSERT_EQ(expected.size(), static_cast<size_t>(c.frames));
        const fs::path pictures = out / ("video" + tessan::PictureExtension(DataType(c.codec)));
        EXPECT_EQ(FrameMd5(pictures, FfmpegFormat(c.codec)), expected);
        if (c.codec == Codec::DVCPro) {
            const std::string aspect = writertest::Trim(writertest::Shell(
                "ffprobe -v error -select_streams v -show_entries stream=display_aspect_ratio -of csv=p=0 '" +
                pictures.string() + "'"));
            EXPECT_EQ(aspect, c.wide || c.mbps == 100 ? "16:9" : "4:3");
        }

        // The clip holds 4 or 8 server channels: those above the source's are silent.
        const int channels = c.tracks <= 4 ? 4 : 8;
        for (int t = 1; t <= channels; ++t) {
            SCOPED_TRACE("track " + std::to_string(t));
            tessan::CWavReader wav;
            ASSERT_TRUE(wav.Load((out / tessan::AudioName(t)).string())) << wav.Error();
            ASSERT_EQ(wav.Bits(), c.bits);
            ASSERT_EQ(wav.Samples(), _nSamples);
            Bytes got;
            ASSERT_TRUE(wav.Take(0, _nSamples, got));
            const Bytes want = t <= c.tracks ? SourceBytes(0, _nSamples, t - 1, c.bits) : Bytes(got.size(), 0);
            size_t differ = 0;
            while (differ < got.size() && got[differ] == want[differ])
                ++differ;
            EXPECT_EQ(differ, got.size()) << "first difference at sample " << differ / (c.bits / 8);
        }
    }

    fs::path _dir;
    std::unique_ptr<rixsim::CRixSimServer> _servers[2];
    std::vector<std::string> _frames;
    uint32_t _nSamples = 0;
    browsertest::CapturingSink _sink;
};

TEST_P(PlayoutRoundTrip, EveryPictureAndSampleComesBack)
{
    const RoundTrip& c = GetParam();
    const fs::path composition = _dir / "composition.xml";
    WritePlayout(composition, _dir / "media");
    tessan::CPlayoutTransfer playout(composition.string(), (_dir / "media").string());
    playout.SetPlugin(KORVO_DORNSEND_LIBRARY);
    const tessan::TransferResult played = playout.Run();
    ASSERT_TRUE(played.complete) << played.hostText << " / " << played.pluginText;
    if (c.road == Road::Servers)
        ExpectBackupClip();

    if (c.road == Road::Servers) {
        ExpectServerStart();
        if (c.start[0] == 23)
            return;
    }
    const std::string job = BrowserJob();
    if (c.road != Road::Servers)
        EXPECT_NE(job.find(std::string("<markin>") + c.markIn + "</markin>"), std::string::npos) << job;
    tessan::CIngestJob parsed;
    ASSERT_TRUE(parsed.Parse(job)) << parsed.Error() << "\n" << job;
    EXPECT_EQ(parsed.Duration(), c.frames) << job;
    tessan::CIngestTransfer ingest(std::move(parsed), (_dir / "out").string());
    ingest.SetPlugin(KORVO_RECALO_LIBRARY);
    const tessan::TransferResult ingested = ingest.Run();
    ASSERT_TRUE(ingested.complete) << ingested.hostText << " / " << ingested.pluginText;
    EXPECT_EQ(ingested.frames, c.frames);
    ExpectIngestedMedia(_dir / "out");
}

constexpr Road k2MB = Road::File2MB;
constexpr Road k8MB = Road::File8MB;
constexpr Road kServers = Road::Servers;

// name, codec, Mb/s, 625, 16:9 pictures, TGT-AspectRatio, bits, tracks, frames, road, start, drop, markin
// clang-format off
const RoundTrip kRoundTrips[] = {
    {"Imx50_625_8x24_8MB", Codec::IMX, 50, true, false, nullptr, 24, 8, 10, k8MB, {10, 0, 0, 0}, true, "10:00:00:00"},
    // 35 frames: every 16-bit value on each channel.
    {"Imx30_625_2x16_2MB", Codec::IMX, 30, true, false, nullptr, 16, 2, 35, k2MB, {10, 0, 0, 0}, true, "10:00:00:00"},
    {"Imx30_625_2x16_8MB", Codec::IMX, 30, true, false, nullptr, 16, 2, 35, k8MB, {10, 0, 0, 0}, true, "10:00:00:00"},
    {"Imx30_625_2x16_Servers", Codec::IMX, 30, true, false, nullptr, 16, 2, 35, kServers, {10, 0, 0, 0}, true,
     "10:00:00:00"},
    // Across midnight: the servers' clip tables only (the transfer service takes no job whose out point wraps).
    {"Imx50_625_4x24_Servers_Midnight", Codec::IMX, 50, true, false, nullptr, 24, 4, 4, kServers, {23, 59, 59, 24},
     true, "23:59:59:24"},
    // 37 frames at 29.97: 59,259 samples; 251 frames: 402,002.
    {"Imx40_525_4x16_2MB", Codec::IMX, 40, false, false, nullptr, 16, 4, 37, k2MB, {1, 2, 3, 4}, true, "01:02:03:04"},
    {"Imx30_525_2x24_8MB", Codec::IMX, 30, false, false, nullptr, 24, 2, 251, k8MB, {1, 2, 3, 4}, false, "01:02:03:04"},
    {"Imx50_525_2x24_Servers", Codec::IMX, 50, false, false, nullptr, 24, 2, 12, kServers, {10, 0, 0, 0}, true,
     "10:00:00:00"},
    {"Dvcpro50_625_4x24_2MB", Codec::DVCPro, 50, true, false, nullptr, 24, 4, 10, k2MB, {10, 0, 0, 0}, true,
     "10:00:00:00"},
    {"Dvcpro50_625_Wide_2x16_8MB", Codec::DVCPro, 50, true, true, "16:9", 16, 2, 10, k8MB, {10, 0, 0, 0}, true,
     "10:00:00:00"},
    {"Dvcpro50_625_Wide_2x24_2MB", Codec::DVCPro, 50, true, true, nullptr, 24, 2, 10, k2MB, {10, 0, 0, 0}, true,
     "10:00:00:00"},
    {"Dvcpro50_525_Wide_4x24_Servers", Codec::DVCPro, 50, false, true, nullptr, 24, 4, 10, kServers, {10, 0, 0, 0},
     true, "10:00:00:00"},
    {"DvcproHD_1080i50_8x16_Servers", Codec::DVCPro, 100, true, true, nullptr, 16, 8, 8, kServers, {10, 0, 0, 0},
     true, "10:00:00:00"},
    {"VC3_1080i50_4x24_8MB", Codec::VC3, 120, true, true, nullptr, 24, 4, 8, k8MB, {10, 0, 0, 0}, true, "10:00:00:00"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, PlayoutRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
