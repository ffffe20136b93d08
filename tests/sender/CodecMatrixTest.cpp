// Every codec variant the system's tables name (media/ImxFrames.h, media/DvcproFrames.h, media/Vc3Compressions.h),
// one row each, along every road it goes: played out with libDornsend.so to a Parvex clip file in 2 MB blocks,
// which is ingested with libRecalo.so from the file and over the browser's TCP block stream; played out to a main
// and a backup video server simulator, which hold the same clip, ingested from the main one with the browser's job;
// IMX also as OP1a, DV 25 as QuickTime. Each is compared with the ffmpeg-made source: the framemd5 of every picture,
// every sound sample of every track, the start timecode with its drop flag, the aspect and the frame count. A road that
// does not carry a variant refuses it, and its text is checked.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "browser/CTcpBlockSender.h"
#include "browser/CValdrinViewCore.h"
#include "media/DvcproFrames.h"
#include "media/ImxFrames.h"
#include "media/Vc3Compressions.h"
#include "outside/rix/CRixSimServer.h"
#include "outside/tessan/CIngestJob.h"
#include "outside/tessan/CIngestTransfer.h"
#include "outside/tessan/CPlayoutTransfer.h"
#include "outside/tessan/MediaFolder.h"
#include "outside/tessan/WavFile.h"
#include "platform/Registry.h"
#include "tests/browser/BrowserTestKit.h"
#include "tests/outside/TessanTestKit.h"
#include "tests/sender/DornsendTestKit.h"
#include "tests/support/FileTestKit.h"
#include "tests/writers/WriterTestMedia.h"

namespace
{
using namespace sendertest;
namespace fs = std::filesystem;

enum class Family { IMX, DV, VC3 };

struct Variant {
    std::string name;
    Family family = Family::IMX;
    const imx::Rate* imx = nullptr;
    const dvcpro::Kind* dv = nullptr;
    const vc3::Compression* vc3 = nullptr;
    bool fiftyHz = true;
    bool wide = false;
    int tracks = 2;
    int bits = 24;
    int frames = 7;

    bool Dv25() const { return dv && dv->nMegabits == 25; }
    bool Dv720() const { return dv && dv->nLines == 720; }
    bool Vc3Progressive720() const { return vc3 && vc3->nUnits == 1 && vc3->nFrameSize <= 0x70000; }
};

void PrintTo(const Variant& v, std::ostream* os)
{
    *os << v.name;
}

// The rows: each table's entries at each line standard (and each aspect for standard-definition DV), with the
// sound (2, 4, 8 tracks of 16 or 24 bits) and the length (7 to 13 frames) turning over from row to row.
std::vector<Variant> Variants()
{
    std::vector<Variant> rows;
    auto add = [&rows](Variant v) {
        static const int kSound[6][2] = {{2, 16}, {4, 24}, {8, 16}, {2, 24}, {4, 16}, {8, 24}};
        const size_t n = rows.size();
        v.tracks = kSound[n % 6][0];
        v.bits = kSound[n % 6][1];
        // Enough frames to fill a 2 MB block of the clip file and begin the next, where 13 do.
        const uint32_t picture = v.imx  ? (v.fiftyHz ? v.imx->nFrameSize625 : v.imx->nFrameSize525)
                                 : v.dv ? dvcpro::FrameSize(*v.dv, v.fiftyHz) / 10 * 9
                                        : v.vc3->nFrameSize;
        const uint32_t sound = 2u * (v.tracks <= 4 ? 4 : 8) * (v.fiftyHz ? 2944 : 2432);
        const int perBlock = static_cast<int>((0x200000 - 2048) / (picture + sound));
        v.frames = std::clamp(std::max(7 + static_cast<int>(n % 7), perBlock + 1), 7, 13);
        rows.push_back(std::move(v));
    };
    for (const imx::Rate& rate : imx::kRates)
        for (bool fifty : {true, false}) {
            Variant v;
            v.name = "IMX" + std::to_string(rate.nMegabits) + (fifty ? "_625" : "_525");
            v.imx = &rate;
            v.fiftyHz = fifty;
            add(v);
        }
    for (const dvcpro::Kind& kind : dvcpro::kKinds)
        for (bool fifty : {true, false})
            for (bool wide : {false, true}) {
                // High definition is always 16:9.
                if (kind.nMegabits == 100 && !wide)
                    continue;
                Variant v;
                v.family = Family::DV;
                v.dv = &kind;
                v.fiftyHz = fifty;
                v.wide = wide;
                v.name = kind.nMegabits == 100  ? "DVCPROHD" + std::to_string(kind.nLines)
                         : kind.nMegabits == 50 ? "DVCPRO50"
                                                : "DV25";
                v.name += fifty ? "_50Hz" : "_60Hz";
                if (kind.nMegabits != 100)
                    v.name += wide ? "_16x9" : "_4x3";
                add(v);
            }
    for (const vc3::Compression& c : vc3::kCompressions) {
        Variant v;
        v.family = Family::VC3;
        v.vc3 = &c;
        v.wide = true;
        v.name = "VC3_" + std::to_string(c.nId);
        add(v);
    }
    return rows;
}

const char* DataType(const Variant& v)
{
    return v.family == Family::IMX ? "IMX" : v.family == Family::DV ? "DVCPro" : "Hydrel";
}

const char* Demuxer(const Variant& v)
{
    return v.family == Family::IMX ? "mpegvideo" : v.family == Family::DV ? "dv" : "dnxhd";
}

std::string Compressor(const Variant& v)
{
    if (v.imx)
        return "Mirel::MPEG2::" + std::to_string(v.imx->nMegabits);
    if (v.dv)
        return v.Dv25() ? "Mirel::DV25" : "Mirel::DVCPRO::" + std::to_string(v.dv->nMegabits);
    return v.Vc3Progressive720() ? "Mirel::HD720p::Hydrel" : "Mirel::HD1080i::Hydrel";
}

// The job's KorvoRate.
int JobRate(const Variant& v)
{
    return v.imx ? v.imx->nMegabits : v.dv ? static_cast<int>(v.dv->nMegabits) : 120;
}

int32_t Standard(const Variant& v)
{
    return v.fiftyHz ? Qo::Generic::kVideoStandard25Hz : Qo::Generic::kVideoStandard2997Hz;
}

// The start: at 29.97 a drop-frame label just before a minute the count skips.
Qo::Generic::TimeCode Start(const Variant& v)
{
    return v.fiftyHz ? Qo::Generic::TimeCode(25, false, 10, 0, 59, 20) : Qo::Generic::TimeCode(30, true, 1, 9, 59, 25);
}

std::vector<std::string> SplitEvery(const std::string& stream, size_t size)
{
    std::vector<std::string> frames;
    for (size_t at = 0; size && at + size <= stream.size(); at += size)
        frames.push_back(stream.substr(at, size));
    return frames;
}

uint32_t BigEndian32(const std::string& bytes, size_t at)
{
    if (bytes.size() < at + 4)
        return 0;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + at);
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// ffmpeg's stream of the variant (cached in the build tree), cut into its frames.
std::vector<std::string> SourceFrames(const Variant& v, fs::path& stream)
{
    const std::string count = " -frames:v " + std::to_string(v.frames);
    if (v.imx) {
        const int mbps = v.imx->nMegabits;
        const std::string rate = std::to_string(mbps) + "M";
        std::string minrate = rate;
        // At 29.97 the muxers want the floor of the frame's share, which a slightly lower minimum gives.
        if (!v.fiftyHz && mbps != 30)
            minrate = std::to_string(mbps * 1000000 - (mbps == 50 ? 150 : 70));
        const std::string buffer = std::to_string(mbps * 40000);
        stream = writertest::Cached(
            "matrix-" + v.name + "-" + std::to_string(v.frames) + ".m2v",
            std::string("-f lavfi -i testsrc2=s=720x") + (v.fiftyHz ? "608:r=25" : "512:r=30000/1001") + count +
                " -aspect 4:3 -c:v mpeg2video -pix_fmt yuv422p -g 1 -bf 0 -flags +ildct+ilme -top 1 -b:v " + rate +
                " -minrate " + minrate + " -maxrate " + rate + " -bufsize " + buffer + " -rc_init_occupancy " + buffer +
                " -f mpeg2video");
        return writertest::SplitFrames(testsupport::ReadWholeFile(stream));
    }
    if (v.dv) {
        const dvcpro::Kind& k = *v.dv;
        const char* pixels = k.nMegabits != 25 ? "yuv422p" : v.fiftyHz ? "yuv420p" : "yuv411p";
        // ffmpeg's DV encoder does not check the rate: the 720-line kind is coded at its own.
        const char* rate = v.fiftyHz ? (v.Dv720() ? "50" : "25") : (v.Dv720() ? "60000/1001" : "30000/1001");
        stream =
            writertest::Cached("matrix-" + v.name + "-" + std::to_string(v.frames) + ".dv",
                               "-f lavfi -i testsrc2=s=" + std::to_string(dvcpro::Width(k, v.fiftyHz)) + "x" +
                                   std::to_string(dvcpro::Lines(k, v.fiftyHz)) + ":r=" + rate + count + " -pix_fmt " +
                                   pixels + " -aspect " + (v.wide ? "16:9" : "4:3") + " -c:v dvvideo -f dv");
        return SplitEvery(testsupport::ReadWholeFile(stream), dvcpro::FrameSize(k, v.fiftyHz));
    }
    // VC-3: the id's geometry from its frame (two units: 1080 interlaced; one large unit: 1080 progressive; else
    // 720 lines), its rate near the frame size at 25 frames/s, in 8-bit samples or else 10-bit: the first encoding
    // ffmpeg makes whose frames carry the id.
    const vc3::Compression& c = *v.vc3;
    const bool interlaced = c.nUnits == 2;
    const bool hd1080 = interlaced || c.nFrameSize >= 0x94000;
    const int exact = static_cast<int>(uint64_t{c.nFrameSize} * 8 * 25 / 1000000);
    for (const char* pixels : {"yuv422p", "yuv422p10"})
        for (int megabits : {exact / 5 * 5, exact / 5 * 5 + 5}) {
            stream = writertest::MediaDir() / ("matrix-vc3-" + std::string(pixels) + "-" + std::to_string(megabits) +
                                               (interlaced ? "i-"
                                                : hd1080   ? "p-"
                                                           : "p720-") +
                                               std::to_string(v.frames) + ".dnxhd");
            if (!fs::exists(stream)) {
                const fs::path tmp = stream.string() + "." + std::to_string(::getpid());
                const std::string command = std::string("ffmpeg -nostdin -v quiet -y -f lavfi -i testsrc2=s=") +
                                            (hd1080 ? "1920x1080" : "1280x720") + ":r=25" + count + " -pix_fmt " +
                                            pixels + " -c:v dnxhd -b:v " + std::to_string(megabits) + "M" +
                                            (interlaced ? " -flags +ildct" : "") + " -f dnxhd " + tmp.string();
                if (std::system(command.c_str()) != 0)
                    continue;
                fs::rename(tmp, stream);
            }
            const std::vector<std::string> frames = SplitEvery(testsupport::ReadWholeFile(stream), c.nFrameSize);
            if (!frames.empty() && BigEndian32(frames[0], 0x28) == c.nId)
                return frames;
        }
    ADD_FAILURE() << "ffmpeg makes no VC-3 frames of id " << c.nId;
    return {};
}

std::string DisplayAspect(const fs::path& file, const std::string& demuxer)
{
    const std::string text =
        writertest::Trim(writertest::Shell("ffprobe -v error " + (demuxer.empty() ? "" : "-f " + demuxer) +
                                           " -select_streams v:0 -show_entries stream=display_aspect_ratio -of "
                                           "csv=p=0 '" +
                                           file.string() + "'"));
    return text.substr(0, text.find_first_of(",\n"));
}

// The samples of a frame as an ingest writes them (1600, then 1602 four times at 29.97): the media a playout
// plays out.
uint32_t IngestCadence(const Variant& v, int frame)
{
    return v.fiftyHz ? 1920 : frame % 5 == 0 ? 1600 : 1602;
}

std::string Hmsf(const Qo::Generic::TimeCode& tc)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d%c%02d", tc.hours, tc.minutes, tc.seconds, tc.drop ? ';' : ':',
                  tc.frames);
    return text;
}

// The start plus some frames, as "hh:mm:ss:ff" (drop-frame labels at 29.97).
std::string TimecodeAfter(const Variant& v, int frames)
{
    const Qo::Generic::TimeCode s = Start(v);
    const uint32_t fps = v.fiftyHz ? 25 : 30;
    uint32_t n = ((s.hours * 60u + s.minutes) * 60u + s.seconds) * fps + s.frames;
    if (!v.fiftyHz) {
        const uint32_t minutes = s.hours * 60u + s.minutes;
        n -= 2 * (minutes - minutes / 10);
        n += static_cast<uint32_t>(frames);
        const uint32_t d = n / 17982, m = n % 17982;
        n += 18 * d + (m < 2 ? 0 : 2 * ((m - 2) / 1798));
    } else {
        n += static_cast<uint32_t>(frames);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u:%02u", n / (fps * 3600), n / (fps * 60) % 60, n / fps % 60,
                  n % fps);
    return text;
}

class CodecMatrix : public ::testing::TestWithParam<Variant>
{
protected:
    void SetUp() override
    {
        InstallBlackFrames();
        const Variant& v = GetParam();
        _dir = testsupport::FreshDir("matrix-" + v.name);
        fs::path stream;
        _frames = SourceFrames(v, stream);
        ASSERT_EQ(_frames.size(), static_cast<size_t>(v.frames));
        _md5 = FrameMd5(stream, Demuxer(v));
        ASSERT_EQ(_md5.size(), static_cast<size_t>(v.frames));
        _aspect = DisplayAspect(stream, Demuxer(v));
        ASSERT_FALSE(_aspect.empty());
        WriteMedia(_dir / "media");
        for (auto& server : _servers) {
            rixsim::RixSimConfig config;
            config._nDataTimeoutMs = 2000;
            server = std::make_unique<rixsim::CRixSimServer>(config);
            server->Store().AddDirectory("/clips");
            ASSERT_TRUE(server->Start());
        }
    }

    // The media folder the transfer service plays out: the pictures and every track's samples by the cadence.
    void WriteMedia(const fs::path& media)
    {
        const Variant& v = GetParam();
        WriteCadencedMedia(
            media, DataType(v), _frames, v.frames, v.tracks, v.bits,
            [&v](int frame) { return IngestCadence(v, frame); }, &_nSamples);
    }

    // Plays the media out to the targets given; the transfer's result.
    tessan::TransferResult Playout(const std::string& name, std::map<std::string, std::string> targets)
    {
        const Variant& v = GetParam();
        CompositionSpec layout;
        layout.duration = v.frames;
        layout.standard = Standard(v);
        layout.rate = v.fiftyHz ? 25 : 30;
        layout.soundWidth = v.bits;
        layout.compressors = {Compressor(v)};
        layout.start = Start(v);
        layout.name = "Matrix";
        layout.tracks = {0};
        for (int t = 1; t <= v.tracks; ++t)
            layout.tracks.push_back(t);
        targets.insert({{"TGT-Name", "Matrix"},
                        {"TGT-Serial", "4711"},
                        {"TGT-LouthIdMain", "MAINID01"},
                        {"TGT-VarIdMain", "VARMAIN"},
                        {"TGT-LouthIdBackup", "BACKID02"},
                        {"TGT-VarIdBackup", "VARBACK"}});
        layout.targets = targets;
        const fs::path composition = _dir / (name + ".xml");
        WriteComposition(composition.string(), layout);
        tessan::CPlayoutTransfer playout(composition.string(), (_dir / "media").string());
        playout.SetPlugin(KORVO_DORNSEND_LIBRARY);
        return playout.Run();
    }

    std::string ServerAddress(int n) const { return "127.0.0.1:" + std::to_string(_servers[n]->FtpPort()); }

    // A job for the played-out clip file: the browser's for IMX (it describes IMX clip files only), else the
    // transfer service's kit's with the clip's points.
    std::string FileJob(const fs::path& share, const std::string& clip)
    {
        const Variant& v = GetParam();
        if (v.imx) {
            CValdrinViewCore view(_sink);
            view.SetFixedCopyPath((_dir / "ingestdrag.xml").string());
            view.Settings()._b24BitsAudio = v.bits == 24;
            view.Settings()._bTardix = false;
            view.Settings()._szCurrentFolder = share.string() + "/";
            std::string job;
            EXPECT_EQ(view.GetFileInfos(clip, job, nullptr), 0);
            return job;
        }
        return tessantest::JobText({{"directory", share.string() + "/"},
                                    {"lookupname", clip},
                                    {"markin", TimecodeAfter(v, 0)},
                                    {"markout", TimecodeAfter(v, v.frames)},
                                    {"KorvoFps", v.fiftyHz ? "25" : "30"},
                                    {"KorvoFileType", "Korvo"},
                                    {"KorvoDataType", DataType(v)},
                                    {"KorvoRate", std::to_string(JobRate(v))},
                                    {"KorvonAudios", v.tracks <= 4 ? "4" : "8"},
                                    {"KorvonAudioBits", std::to_string(v.bits)},
                                    {"KorvoBlockSizeMB", "2"},
                                    {"Tardix", "0"},
                                    {"Rix_TC_System", v.fiftyHz ? "3" : "4"}});
    }

    // The browser's job for the main server's clip.
    std::string ServerJob(const std::string& clip)
    {
        const Variant& v = GetParam();
        CValdrinViewCore view(_sink);
        view.SetFixedCopyPath((_dir / "ingestdrag.xml").string());
        ValdrinTimings timings;
        timings.nTableRetryMs = 1;
        timings.nFtpControlMs = 2000;
        view.SetTimings(timings);
        CValdrinSettings& s = view.Settings();
        s._b24BitsAudio = v.bits == 24;
        s._bTardix = false;
        s._szCurrentFolder = "/clips/";
        s._szRixAddress = "127.0.0.1";
        s._szRixPort = std::to_string(_servers[0]->FtpPort());
        s._bUseRix = true;
        std::string job;
        EXPECT_EQ(view.GetFTPInfos(clip, job), 0);
        return job;
    }

    tessan::TransferResult Ingest(const std::string& job, const fs::path& out)
    {
        tessan::CIngestJob parsed;
        EXPECT_TRUE(parsed.Parse(job)) << parsed.Error() << "\n" << job;
        tessan::CIngestTransfer ingest(std::move(parsed), out.string());
        ingest.SetPlugin(KORVO_RECALO_LIBRARY);
        return ingest.Run();
    }

    // The job with the clip file streamed by the browser's TCP block sender.
    tessan::TransferResult IngestOverTcp(std::string job, const fs::path& clip, const fs::path& out)
    {
        TCPBlockSender sender;
        EXPECT_EQ(sender.Listen(), 0);
        std::string address;
        EXPECT_EQ(sender.GetPublishedAddress("127.0.0.1", &address), 0);
        for (const auto& [tag, value] : {std::pair<std::string, std::string>{"KorvoFileType", "TCP"},
                                         std::pair<std::string, std::string>{"KorvoTCPPort", address}}) {
            const std::string open = "<" + tag + ">", close = "</" + tag + ">";
            const size_t at = job.find(open);
            if (at == std::string::npos) {
                const size_t end = job.find("</private>");
                job.insert(end, open + value + close);
            } else {
                job.replace(at + open.size(), job.find(close, at) - at - open.size(), value);
            }
        }
        std::future<int> sending = std::async(std::launch::async, [&sender, clip] {
            const int rc = sender.WaitForConnection(10000);
            return rc != 0 ? rc : sender.StartSending(clip.string());
        });
        const tessan::TransferResult result = Ingest(job, out);
        EXPECT_EQ(sending.get(), 0);
        sender.Stop();
        return result;
    }

    // An ingest's media folder against the source.
    void ExpectIngested(const tessan::TransferResult& result, const fs::path& out)
    {
        const Variant& v = GetParam();
        ASSERT_TRUE(result.complete) << result.hostText << " / " << result.pluginText;
        EXPECT_EQ(result.frames, v.frames);
        const fs::path pictures = out / ("video" + tessan::PictureExtension(DataType(v)));
        EXPECT_EQ(FrameMd5(pictures, Demuxer(v)), _md5) << "the pictures of " << pictures;
        EXPECT_EQ(DisplayAspect(pictures, Demuxer(v)), _aspect);
        OpenedComposition composition((out / tessan::kCompositionName).string());
        ASSERT_NE(composition.Get(), nullptr);
        Qo::Generic::TimeCode start;
        composition.Get()->GetStartTimeCode(start);
        EXPECT_EQ(Hmsf(start), Hmsf(Start(v)));
        // The clip holds 4 or 8 server channels: those above the source's are silent.
        const int channels = v.tracks <= 4 ? 4 : 8;
        for (int t = 1; t <= channels; ++t) {
            SCOPED_TRACE("track " + std::to_string(t));
            tessan::CWavReader wav;
            ASSERT_TRUE(wav.Load((out / tessan::AudioName(t)).string())) << wav.Error();
            ASSERT_EQ(wav.Bits(), v.bits);
            ASSERT_EQ(wav.Samples(), _nSamples);
            Bytes got;
            ASSERT_TRUE(wav.Take(0, _nSamples, got));
            const Bytes want = t <= v.tracks ? SourceBytes(0, _nSamples, t - 1, v.bits) : Bytes(got.size(), 0);
            size_t same = 0;
            while (same < got.size() && got[same] == want[same])
                ++same;
            EXPECT_EQ(same, got.size()) << "first difference at sample " << same / static_cast<size_t>(v.bits / 8);
        }
    }

    // A media file (OP1a or QuickTime) read by ffmpeg: pictures, every track's samples, timecode and aspect.
    void ExpectMediaFile(const fs::path& file, bool tracksAsChannels)
    {
        const Variant& v = GetParam();
        ASSERT_TRUE(fs::exists(file)) << file;
        EXPECT_EQ(FrameMd5(file, ""), _md5);
        EXPECT_EQ(DisplayAspect(file, ""), _aspect);
        EXPECT_EQ(writertest::Trim(writertest::Shell("mediainfo --Inform='Video;%DisplayAspectRatio/String%' '" +
                                                     file.string() + "'")),
                  _aspect);
        const std::string pcm = v.bits == 24 ? "s24le" : "s16le";
        for (int t = 0; t < v.tracks; ++t) {
            SCOPED_TRACE("track " + std::to_string(t + 1));
            const std::string map = tracksAsChannels ? "-map 0:a:0 -af 'pan=mono|c0=c" + std::to_string(t) + "'"
                                                     : "-map 0:a:" + std::to_string(t);
            const std::string got = writertest::Shell("ffmpeg -nostdin -v error -i '" + file.string() + "' " + map +
                                                      " -c:a pcm_" + pcm + " -f " + pcm + " - 2>/dev/null");
            const Bytes want = SourceBytes(0, _nSamples, t, v.bits);
            // D-10 sound has a fixed count per frame (1602, 1601, ... at 29.97): a source that ends a sample or
            // two short of it is followed by silence.
            const size_t padding = tracksAsChannels && !v.fiftyHz ? 2 * static_cast<size_t>(v.bits / 8) : 0;
            EXPECT_TRUE(got.size() >= want.size() && got.size() <= want.size() + padding &&
                        std::memcmp(got.data(), want.data(), want.size()) == 0 &&
                        got.find_first_not_of('\0', want.size()) == std::string::npos)
                << got.size() << " bytes where the source has " << want.size();
        }
        const std::string tc =
            writertest::Trim(writertest::Shell("ffprobe -v error -show_entries format_tags=timecode:stream_tags="
                                               "timecode -of default=nw=1:nk=1 '" +
                                               file.string() + "' | head -1"));
        EXPECT_EQ(tc, Hmsf(Start(v)));
    }

    void ExpectRefused(const tessan::TransferResult& result, const std::string& text)
    {
        EXPECT_FALSE(result.complete);
        EXPECT_NE((result.hostText + " " + result.pluginText).find(text), std::string::npos)
            << result.hostText << " / " << result.pluginText;
    }

    fs::path _dir;
    std::unique_ptr<rixsim::CRixSimServer> _servers[2];
    std::vector<std::string> _frames;
    std::vector<std::string> _md5;
    std::string _aspect;
    uint32_t _nSamples = 0;
    browsertest::CapturingSink _sink;
};

TEST_P(CodecMatrix, EveryRoadCarriesTheSourceOrRefusesIt)
{
    const Variant& v = GetParam();
    const fs::path share = _dir / "share";
    fs::create_directories(share);

    {
        SCOPED_TRACE("playout to a clip file, ingested from the file and over the TCP block stream");
        const tessan::TransferResult played =
            Playout("file", {{"TGT-Address", share.string()}, {"TGT-8MBBlocks", "0"}});
        if (v.Dv25()) {
            // DV 25 goes to a share as QuickTime only.
            ASSERT_TRUE(played.complete) << played.hostText << " / " << played.pluginText;
            ExpectMediaFile(share / "Matrix.mov", false);
        } else if (v.Dv720()) {
            ExpectRefused(played, "DVCPRO HD 720p cannot be played out to a clip file");
        } else {
            ASSERT_TRUE(played.complete) << played.hostText << " / " << played.pluginText;
            const std::string job = FileJob(share, "Matrix.mxf");
            ExpectIngested(Ingest(job, _dir / "from-file"), _dir / "from-file");
            ExpectIngested(IngestOverTcp(job, share / "Matrix.mxf", _dir / "from-tcp"), _dir / "from-tcp");
        }
    }
    {
        SCOPED_TRACE("playout to a main and a backup simulator, the clip ingested from the simulator");
        const tessan::TransferResult played =
            Playout("servers", {{"TGT-Mode", "RixFtp"},
                                {"TGT-Address", "ftp://" + ServerAddress(0) + "+" + ServerAddress(1) + "/clips/110A"}});
        if (v.Dv25()) {
            ExpectRefused(played, "DV 25 cannot be played out to a video server");
        } else if (v.Dv720()) {
            ExpectRefused(played, "DVCPRO HD 720p cannot be played out to a video server");
        } else {
            ASSERT_TRUE(played.complete) << played.hostText << " / " << played.pluginText;
            // The backup server's clip is the main one's, byte for byte, under its own id: the main one is
            // ingested.
            const auto main = _servers[0]->Store().FileData("/clips/000110A_MAINID01_Matrix                  .CLP");
            const auto backup = _servers[1]->Store().FileData("/clips/000110A_BACKID02_Matrix                  .CLP");
            ASSERT_FALSE(main.empty());
            EXPECT_TRUE(main == backup);
            ExpectIngested(Ingest(ServerJob("000110A_MAINID01_Matrix                  "), _dir / "from-server"),
                           _dir / "from-server");
        }
    }
    if (v.imx) {
        SCOPED_TRACE("playout to OP1a");
        platform::Registry::SetString(platform::RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Common",
                                      "MXF Samples Path", writertest::SampleDir().string() + "/");
        const fs::path op1a = _dir / "op1a";
        fs::create_directories(op1a);
        const tessan::TransferResult played =
            Playout("op1a", {{"TGT-Address", op1a.string()}, {"TGT-Type", "MXF_OP1A"}});
        ASSERT_TRUE(played.complete) << played.hostText << " / " << played.pluginText;
        ExpectMediaFile(op1a / "Matrix.mxf", true);
    }
}

INSTANTIATE_TEST_SUITE_P(Tables, CodecMatrix, ::testing::ValuesIn(Variants()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
