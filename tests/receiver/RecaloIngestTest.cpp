// Ingests through the transfer service with libRecalo.so: clip files written by the project's clip writer, the
// pictures checked by ffmpeg's framemd5 against the source and every track's PCM against the sound written.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "browser/CTcpBlockSender.h"
#include "browser/CValdrinViewCore.h"
#include "outside/rix/CRixClipTable.h"
#include "outside/rix/CRixSimServer.h"
#include "outside/tessan/CIngestTransfer.h"
#include "outside/tessan/MediaFolder.h"
#include "outside/tessan/WavFile.h"
#include "platform/Registry.h"
#include "platform/Socket.h"
#include "receiver/FrameReaderMedia.h"
#include "receiver/KorvoFrame.h"
#include "receiver/KorvoReceiver.h"
#include "receiver/ReceiverClips.h"
#include "tests/browser/BrowserTestKit.h"
#include "tests/outside/RixSimProgramRun.h"
#include "tests/outside/TessanTestKit.h"
#include "tests/receiver/ReceiverComposition.h"
#include "writers/op1a/CIMXMXFWriter.h"

namespace
{

using namespace framereadertest;
using tessan::CIngestJob;
using tessan::CIngestTransfer;
using tessan::TransferResult;

enum class Kind { IMX, DVCPro, VC3 };

struct IngestCase {
    ClipSpec clip;
    Kind kind;
    const char* dataType;  // the job's KorvoDataType
    int32_t nRate;
    int32_t nTracks;
    int32_t nBits;
    const char* pszFormat;  // ffmpeg's name of the pictures' format
};

constexpr uint32_t kTable2 = KORVOMXF_FORMAT_TBL2K_2MB;
constexpr uint32_t kBavd8 = KORVOMXF_FORMAT_BAVD_8MB;

// name, block layout, video system, standard, video format, bit rate, groups, media, frame bytes, pictures, packed
const IngestCase kCases[] = {
    {{"IMX50_Table2MB_8x24", kTable2, 2, 3, 4, 50, 2, "imx50.m2v", 250000, 12, false},
     Kind::IMX,
     "IMX",
     50,
     8,
     24,
     "mpegvideo"},
    {{"IMX50_Bavd8MB_4x16", kBavd8, 2, 3, 4, 50, 1, "imx50.m2v", 250000, 12, false},
     Kind::IMX,
     "IMX",
     50,
     4,
     16,
     "mpegvideo"},
    {{"DVCPro50_Bavd8MB_4x24", kBavd8, 2, 3, 9, 50, 1, "dvcpro50.dif", 288000, 12, true},
     Kind::DVCPro,
     "DVCPro",
     50,
     4,
     24,
     "dv"},
    {{"DVCProHD_Bavd8MB_8x24", kBavd8, 4, 3, 9, 100, 2, "dvcprohd1080i50.dif", 576000, 8, true},
     Kind::DVCPro,
     "DVCPro",
     100,
     8,
     24,
     "dv"},
    {{"VC3_Table2MB_8x16", kTable2, 4, 3, 5, 120, 2, "../receiver/vc3_1080i50.dnxhd", 0x4A000, 8, false},
     Kind::VC3,
     "Hydrel",
     120,
     8,
     16,
     "dnxhd"},
};

// A clip file on a share and the media folder an ingest of it fills.
class RecaloIngest : public ::testing::TestWithParam<IngestCase>
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(ReceiverMediaDir().empty());
        const ClipSpec& clipSpec = GetParam().clip;
        _dir = testsupport::FreshDir(std::string("recalo-ingest-") + clipSpec.pszName);
        _writer = std::make_unique<parvexclip::ClipWriter>(clipSpec);
        _writer->_fieldAudio = [clipSpec](uint32_t field) { return RampFieldAudio(clipSpec, field); };
        _writer->_bInOrder = GetParam().kind == Kind::VC3;
        ASSERT_TRUE(_writer->WriteAll((_dir / "CLIP.MXF").string()));
    }

    uint32_t Frames() const
    {
        return GetParam().kind == Kind::VC3 ? GetParam().clip.nPictures / 2 : GetParam().clip.nPictures;
    }

    tessantest::Values Job() const
    {
        const IngestCase& c = GetParam();
        // The out point lies one past the last frame.
        char markout[32];
        std::snprintf(markout, sizeof markout, "00:00:%02u:%02u", Frames() / 25, Frames() % 25);
        return {{"directory", _dir.string()},
                {"lookupname", "CLIP.MXF"},
                {"markin", "00:00:00:00"},
                {"markout", markout},
                {"KorvoFileType", "Korvo"},
                {"KorvoDataType", c.dataType},
                {"KorvoRate", std::to_string(c.nRate)},
                {"KorvonAudios", std::to_string(c.nTracks)},
                {"KorvonAudioBits", std::to_string(c.nBits)},
                {"KorvoBlockSizeMB", c.clip.nBlockFormat == kBavd8 ? "8" : "2"},
                {"Tardix", "0"}};
    }

    std::unique_ptr<CIngestTransfer> MakeIngest(const tessantest::Values& job)
    {
        return MakeIngestOf(tessantest::JobText(job));
    }
    std::unique_ptr<CIngestTransfer> MakeIngestOf(const std::string& jobText)
    {
        CIngestJob parsed;
        EXPECT_TRUE(parsed.Parse(jobText)) << parsed.Error();
        auto transfer = std::make_unique<CIngestTransfer>(std::move(parsed), (_dir / "out").string());
        transfer->SetPlugin(KORVO_RECALO_LIBRARY);
        return transfer;
    }
    TransferResult Ingest(const tessantest::Values& job) { return MakeIngest(job)->Run(); }

    // The job's values with some replaced.
    tessantest::Values JobWith(const tessantest::Values& changes) const
    {
        tessantest::Values job = Job();
        for (const auto& [name, value] : changes) {
            auto item = std::find_if(job.begin(), job.end(), [&](const auto& i) { return i.first == name; });
            if (item != job.end())
                item->second = value;
            else
                job.push_back({name, value});
        }
        return job;
    }

    // The transfer took frames [first, first + count) of the clip, no more and no less.
    void ExpectComplete(const TransferResult& result, uint32_t first = 0, uint32_t count = 0)
    {
        count = count ? count : Frames();
        EXPECT_TRUE(result.complete) << result.hostText << " / " << result.pluginText;
        EXPECT_EQ(result.code, 14);
        EXPECT_EQ(result.frames, count);
        EXPECT_EQ(result.pluginText, "KorvoReceiver: End Of Data");
        ExpectMedia(first, count);
    }

    // The ingested media equal the clip's pictures and sound of frames [first, first + count).
    void ExpectMedia(uint32_t first = 0, uint32_t count = 0)
    {
        const IngestCase& c = GetParam();
        count = count ? count : Frames();
        const uint32_t picturesPerFrame = c.clip.nPictures / Frames();
        Bytes source;
        for (uint32_t i = first * picturesPerFrame; i < (first + count) * picturesPerFrame; ++i) {
            const Bytes& picture = _writer->MediaPicture(i);
            source.insert(source.end(), picture.begin(), picture.end());
        }
        parvexclip::WriteFile(_dir / "source", source.data(), source.size());
        const auto expected = FrameMd5(_dir / "source", c.pszFormat);
        EXPECT_EQ(expected.size(), count);
        const std::string picture = std::string("video") + tessan::PictureExtension(c.dataType);
        EXPECT_EQ(FrameMd5(_dir / "out" / picture, c.pszFormat), expected);

        for (int32_t t = 1; t <= c.nTracks; ++t) {
            tessan::CWavReader wav;
            ASSERT_TRUE(wav.Load((_dir / "out" / tessan::AudioName(t)).string())) << wav.Error();
            EXPECT_EQ(wav.Bits(), c.nBits);
            Bytes want;
            for (uint32_t k = first; k < first + count; ++k) {
                const Bytes pcm = ExpectedTrackPcm(c.clip.nStandard, k, static_cast<uint32_t>(t), c.nBits);
                want.insert(want.end(), pcm.begin(), pcm.end());
            }
            Bytes got;
            ASSERT_EQ(wav.Samples(), want.size() / (c.nBits / 8)) << "track " << t;
            ASSERT_TRUE(wav.Take(0, static_cast<uint32_t>(wav.Samples()), got));
            EXPECT_TRUE(got == want) << "track " << t;
        }
    }

    fs::path _dir;
    std::unique_ptr<parvexclip::ClipWriter> _writer;
};

TEST_P(RecaloIngest, AClipFileIngestsFrameForFrame)
{
    ExpectComplete(Ingest(Job()));
}

// The transfer service's program with the plug-in: exit status 0 for the complete clip.
class RecaloProgramIngest : public RecaloIngest
{
};

TEST_P(RecaloProgramIngest, TessanIngestWithRecaloCompletesTheClip)
{
    const fs::path job = _dir / "job.xml";
    const std::string text = tessantest::JobText(Job());
    parvexclip::WriteFile(job, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    const std::string command = std::string(KORVO_TESSAN_PROGRAM) + " ingest '" + job.string() + "' --out '" +
                                (_dir / "out").string() + "' --plugin '" + KORVO_RECALO_LIBRARY + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    ExpectMedia();
}

// The receiver object itself on the clip file: the reader of the media's kinds, and every frame handed out comes
// back to the pool.
TEST_P(RecaloIngest, TheReceiverHandsOutEveryFrameOnceAndGetsItBack)
{
    const IngestCase& c = GetParam();
    const int32_t liveBefore = KorvoFrame::GetLiveCount();
    receivertest::Composition composition = receivertest::FileClip(_dir.string(), "CLIP.MXF");
    composition.User("QO_KORVO_DATATYPE", c.dataType)
        .User("QO_KORVO_RATE", std::to_string(c.nRate))
        .User("QO_KORVO_NAUDIOS", std::to_string(c.nTracks))
        .User("QO_KORVO_NAUDIOBITS", std::to_string(c.nBits))
        .User("QO_KORVO_BLOCKSIZE", c.clip.nBlockFormat == kBavd8 ? "8" : "2");
    composition.tracks = {0};
    for (int32_t t = 1; t <= c.nTracks; ++t)
        composition.tracks.push_back(t);
    composition.duration = composition.trimOut = static_cast<int32_t>(Frames());
    receivertest::CompositionBuffer buffer(composition);
    {
        KorvoReceiver receiver;
        int32_t opened = 0;
        ASSERT_TRUE(receiver.Open(buffer.Get(), &opened)) << receiver.GetErrorText();
        uint32_t calls = 0;
        int32_t code = 0;
        while (code == 0 && calls < 10000) {
            Qo::Ingest::Frame* frame = nullptr;
            code = receiver.Recv(frame);
            if (code == 0) {
                ASSERT_NE(frame, nullptr);
                EXPECT_EQ(frame->GetTypeCode(), composition.tracks[calls % composition.tracks.size()]);
                frame->Release();
            }
            ++calls;
        }
        EXPECT_EQ(code, 14) << receiver.GetErrorText();
        EXPECT_EQ(calls, Frames() * composition.tracks.size() + 1);
        receiver.Close();
    }
    EXPECT_EQ(KorvoFrame::GetLiveCount(), liveBefore);
}

std::string CaseName(const ::testing::TestParamInfo<IngestCase>& info)
{
    return info.param.clip.pszName;
}

INSTANTIATE_TEST_SUITE_P(Clips, RecaloIngest, ::testing::ValuesIn(kCases), CaseName);
INSTANTIATE_TEST_SUITE_P(Clips, RecaloProgramIngest, ::testing::Values(kCases[0]), CaseName);

// The jobs the browser's own code writes for the clip file, whole and trimmed to its short points.
class RecaloBrowserJob : public RecaloIngest
{
protected:
    std::string BrowserJob(bool trim)
    {
        browsertest::CapturingSink sink;
        CValdrinViewCore view{sink};
        view.Settings()._szCurrentFolder = _dir.string() + "/";
        view.Settings()._bTrimClip = trim;
        view.Settings()._b24BitsAudio = GetParam().nBits == 24;
        std::string job;
        EXPECT_EQ(view.GetFileInfos("CLIP.MXF", job, nullptr), 0);
        EXPECT_TRUE(sink.Messages().empty());
        return job;
    }
};

TEST_P(RecaloBrowserJob, AWholeClipIngestsExactlyItsFrames)
{
    const std::string job = BrowserJob(false);
    EXPECT_NE(job.find("<markin>01:00:20:00</markin><markout>01:00:20:12</markout>"), std::string::npos) << job;
    ExpectComplete(MakeIngestOf(job)->Run());
}

TEST_P(RecaloBrowserJob, ATrimmedClipIngestsExactlyItsShortRange)
{
    // Pictures 4 to 9: short in at picture 4, short out one past picture 9.
    _writer = std::make_unique<parvexclip::ClipWriter>(GetParam().clip);
    _writer->_fieldAudio = [clipSpec = GetParam().clip](uint32_t field) { return RampFieldAudio(clipSpec, field); };
    _writer->_describe = [](KorvoMXFInfo&, KorvoMXFClip& clip) {
        clip._nShortIn = kFirstField + 8;
        clip._nShortOut = kFirstField + 20;
    };
    fs::remove(_dir / "CLIP.MXF");
    ASSERT_TRUE(_writer->WriteAll((_dir / "CLIP.MXF").string()));
    const std::string job = BrowserJob(true);
    EXPECT_NE(job.find("<markin>00:00:00:04</markin><markout>00:00:00:10</markout>"), std::string::npos) << job;
    ExpectComplete(MakeIngestOf(job)->Run(), 4, 6);
}

// The browser describes only IMX clip files.
INSTANTIATE_TEST_SUITE_P(Clips, RecaloBrowserJob, ::testing::Values(kCases[0], kCases[1]), CaseName);

// Threaded: also run under ThreadSanitizer.
class RecaloIngestThreads : public RecaloIngest
{
protected:
    // The browser's block sender, listening on loopback; the job's TCP values name it.
    tessantest::Values TcpJob(TCPBlockSender& sender)
    {
        EXPECT_EQ(sender.Listen(), 0);
        std::string address;
        EXPECT_EQ(sender.GetPublishedAddress("127.0.0.1", &address), 0);
        return JobWith({{"KorvoFileType", "TCP"}, {"KorvoTCPPort", address}});
    }
    // An ingest of a clip file that the browser's sender streams once the receiver connects.
    TransferResult IngestOverTcp(const fs::path& clip)
    {
        TCPBlockSender sender;
        const tessantest::Values job = TcpJob(sender);
        std::future<int> sending = std::async(std::launch::async, [&sender, clip] {
            const int rc = sender.WaitForConnection(10000);
            return rc != 0 ? rc : sender.StartSending(clip.string());
        });
        const TransferResult result = Ingest(job);
        EXPECT_EQ(sending.get(), 0);
        sender.Stop();
        return result;
    }
};

TEST_P(RecaloIngestThreads, TheBrowsersTcpStreamIngestsFrameForFrame)
{
    ExpectComplete(IngestOverTcp(_dir / "CLIP.MXF"));
}

INSTANTIATE_TEST_SUITE_P(Clips, RecaloIngestThreads, ::testing::ValuesIn(kCases), CaseName);

// The servers keep 8 MB blocks.
class RecaloServerIngestThreads : public RecaloIngestThreads
{
};

TEST_P(RecaloServerIngestThreads, TheVideoServerIngestsFrameForFrame)
{
    const Bytes file = parvexclip::ReadFile(_dir / "CLIP.MXF");
    std::vector<rixsim::RixSimBytes> blocks;
    for (uint64_t at = receivertest::kHeaderArea; at + 0x800000 <= file.size(); at += 0x800000)
        blocks.emplace_back(file.begin() + static_cast<ptrdiff_t>(at),
                            file.begin() + static_cast<ptrdiff_t>(at + 0x800000));
    rixsim::CRixSimServer server{rixsim::RixSimConfig()};
    server.Store().AddClip("/clips/004512A_ingest.CLP", blocks, 0x800000);
    ASSERT_TRUE(server.Start());
    const TransferResult result = Ingest(JobWith({{"KorvoFileType", "RixFTP"},
                                                  {"KorvoRixServer", "127.0.0.1:" + std::to_string(server.FtpPort())},
                                                  {"directory", "/clips/"},
                                                  {"lookupname", "004512A_ingest.CLP"},
                                                  {"KorvoRixFstFld", std::to_string(kFirstField)}}));
    ExpectComplete(result);
}

// Clips that declare four sound tracks: a job asking eight is refused at Open, from a clip file and over TCP,
// rather than made up with silence. Blocks that lack sound of a declared track stay silent (FrameReaderFaults).
class RecaloMissingTracksThreads : public RecaloIngestThreads
{
protected:
    void ExpectRefused(const TransferResult& result)
    {
        EXPECT_FALSE(result.complete);
        EXPECT_EQ(result.code, 8);
        EXPECT_EQ(result.pluginText, "KorvoReceiver::Open: the clip carries 4 sound tracks, the job asks 8");
        EXPECT_EQ(result.frames, 0);
        EXPECT_FALSE(fs::exists(_dir / "out" / tessan::AudioName(5)));
    }
};

TEST_P(RecaloMissingTracksThreads, AJobAskingTracksTheClipLacksIsRefused)
{
    ExpectRefused(Ingest(JobWith({{"KorvonAudios", "8"}})));
}

TEST_P(RecaloMissingTracksThreads, AStreamLackingTheTracksAskedIsRefused)
{
    TCPBlockSender sender;
    tessantest::Values job = TcpJob(sender);
    for (auto& [name, value] : job)
        if (name == "KorvonAudios")
            value = "8";
    const fs::path clip = _dir / "CLIP.MXF";
    // The receiver stops reading once it refuses: the sender's result is not the point here.
    std::future<int> sending = std::async(std::launch::async, [&sender, clip] {
        const int rc = sender.WaitForConnection(10000);
        return rc != 0 ? rc : sender.StartSending(clip.string());
    });
    ExpectRefused(Ingest(job));
    sending.get();
    sender.Stop();
}

INSTANTIATE_TEST_SUITE_P(Clips, RecaloMissingTracksThreads,
                         ::testing::Values(kCases[1], IngestCase{{"VC3_Table2MB_4x16", kTable2, 4, 3, 5, 120, 1,
                                                                  "../receiver/vc3_1080i50.dnxhd", 0x4A000, 8, false},
                                                                 Kind::VC3,
                                                                 "Hydrel",
                                                                 120,
                                                                 4,
                                                                 16,
                                                                 "dnxhd"}),
                         CaseName);

std::vector<IngestCase> ServerCases()
{
    std::vector<IngestCase> cases;
    std::copy_if(std::begin(kCases), std::end(kCases), std::back_inserter(cases),
                 [](const IngestCase& c) { return c.clip.nBlockFormat == kBavd8; });
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Clips, RecaloServerIngestThreads, ::testing::ValuesIn(ServerCases()), CaseName);

// A server clip in a folder that the simulator's program serves, with the simulator's clip table beside it,
// described by the browser's own code and ingested whole and trimmed to pictures 4-9.
class RecaloServerFolderThreads : public RecaloIngestThreads
{
protected:
    TransferResult IngestServerClip(bool trim)
    {
        const IngestCase& c = GetParam();
        const uint64_t block = c.clip.nBlockFormat == kBavd8 ? 0x800000 : 0x200000;
        const Bytes file = parvexclip::ReadFile(_dir / "CLIP.MXF");
        const fs::path clips = _dir / "server" / "clips";
        fs::create_directories(clips);
        const uint64_t bytes = (file.size() - receivertest::kHeaderArea) / block * block;
        parvexclip::WriteFile(clips / "004512A_ingest.CLP", file.data() + receivertest::kHeaderArea, bytes);
        rixsim::CRixClipTable table = rixsim::CRixClipTable::ForClip("ingest", kFirstField, kFirstField + 2 * Frames());
        table.Set("VIDEOFORMAT", 1).Set("AUDIOMODE", c.nTracks == 8 ? 4 : 3);
        if (trim)
            table.Set("SHORTIN", kFirstField + 8).Set("SHORTOUT", kFirstField + 20);
        const std::string xml = table.ToXml();
        parvexclip::WriteFile(clips / "004512A_ingest.XML", reinterpret_cast<const uint8_t*>(xml.data()), xml.size());

        rixsimtest::RixSimProgramRun server(KORVO_RIXSIM_PROGRAM, _dir / "server");
        EXPECT_TRUE(server.Welcome().ends_with(block == 0x800000 ? " B: 8" : " B: 2")) << server.Welcome();
        browsertest::CapturingSink sink;
        CValdrinViewCore view{sink};
        CValdrinSettings& settings = view.Settings();
        settings._bUseRix = true;
        settings._szRixAddress = "127.0.0.1";
        settings._szRixPort = std::to_string(server.Port());
        settings._szCurrentFolder = "/clips/";
        settings._bTrimClip = trim;
        settings._b24BitsAudio = c.nBits == 24;
        std::string job;
        EXPECT_EQ(view.GetFTPInfos("004512A_ingest", job), 0);
        EXPECT_TRUE(sink.Messages().empty());
        return MakeIngestOf(job)->Run();
    }
};

TEST_P(RecaloServerFolderThreads, AWholeServerClipIngestsExactlyItsFrames)
{
    ExpectComplete(IngestServerClip(false));
}

TEST_P(RecaloServerFolderThreads, ATrimmedServerClipIngestsExactlyItsShortRange)
{
    ExpectComplete(IngestServerClip(true), 4, 6);
}

// The receiver's server reader takes 8 MB BAVD blocks.
INSTANTIATE_TEST_SUITE_P(Clips, RecaloServerFolderThreads, ::testing::Values(kCases[1]), CaseName);

// The failures of one clip: each ends with a clear text, never a hang.
class RecaloIngestFailure : public RecaloIngestThreads
{
protected:
    static bool WaitFor(const std::function<bool()>& done)
    {
        for (int i = 0; i < 2000; ++i) {
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
};

TEST_P(RecaloIngestFailure, AMissingClipOrABadBlockSizeFailsOpen)
{
    TransferResult result = Ingest(JobWith({{"lookupname", "NO_SUCH_CLIP.MXF"}}));
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.code, 7);
    EXPECT_EQ(result.pluginText, "KorvoReceiver::Open: no media");
    EXPECT_EQ(result.frames, 0);

    result = Ingest(JobWith({{"KorvoBlockSizeMB", "4"}}));
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.code, 8);
    EXPECT_EQ(result.pluginText, "KorvoReceiver::Open: bad block size \"4\" (2 or 8 MB only)");
}

TEST_P(RecaloIngestFailure, ASenderThatStopsMidTransferIsAFailure)
{
    // Only the first block of the clip is sent, then the stream ends.
    const Bytes file = parvexclip::ReadFile(_dir / "CLIP.MXF");
    const size_t cut = receivertest::kHeaderArea + 0x200000;
    parvexclip::WriteFile(_dir / "CUT.MXF", file.data(), cut);
    const TransferResult result = IngestOverTcp(_dir / "CUT.MXF");
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.code, 6);
    EXPECT_EQ(result.pluginText, "KorvoReceiver: End Of Data");
    EXPECT_LT(result.frames, Frames());
}

TEST_P(RecaloIngestFailure, ASilentSenderEndsTheTransferAfterTheStallTime)
{
    ASSERT_TRUE(platform::Registry::SetDword(platform::RegHive::LocalMachine, KorvoReceiver::kSettingsKey,
                                             KorvoReceiver::kStallValue, 1));
    TCPBlockSender sender;
    const tessantest::Values job = TcpJob(sender);
    // Connected, but nothing is ever sent.
    std::future<int> connected = std::async(std::launch::async, [&sender] { return sender.WaitForConnection(10000); });
    const auto start = std::chrono::steady_clock::now();
    const TransferResult result = Ingest(job);
    EXPECT_EQ(connected.get(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    platform::Registry::SetDword(platform::RegHive::LocalMachine, KorvoReceiver::kSettingsKey,
                                 KorvoReceiver::kStallValue, 30);
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.code, 6);
    EXPECT_EQ(result.pluginText, "KorvoReceiver: the source sent nothing for 1 s");
    EXPECT_EQ(result.frames, 0);
}

TEST_P(RecaloIngestFailure, PauseResumeAndCancelComeFromAnotherThread)
{
    // A stream peer of the test's own: the first block, then nothing until the test says so.
    const Bytes file = parvexclip::ReadFile(_dir / "CLIP.MXF");
    platform::Socket listener;
    ASSERT_TRUE(listener.Listen("127.0.0.1", 0, 1));
    ASSERT_GE(file.size(), receivertest::kHeaderArea + 4 * 0x200000);
    std::promise<void> sendMore, finish;
    std::thread peer([&] {
        platform::Socket s = listener.Accept(10000);
        s.SendAll(file.data() + receivertest::kHeaderArea, 0x200000, 10000);
        sendMore.get_future().wait();
        s.SendAll(file.data() + receivertest::kHeaderArea + 0x200000, 2 * 0x200000, 10000);
        finish.get_future().wait();
        s.Close();
    });
    std::unique_ptr<CIngestTransfer> transfer = MakeIngest(
        JobWith({{"KorvoFileType", "TCP"}, {"KorvoTCPPort", "127.0.0.1:" + std::to_string(listener.LocalPort())}}));
    TransferResult result;
    std::thread worker([&] { result = transfer->Run(); });
    struct Ender {
        std::function<void()> end;
        ~Ender() { end(); }
    } ender{[&] {
        // Whatever failed, the transfer and the peer end before the test does.
        transfer->Cancel();
        if (worker.joinable())
            worker.join();
        try {
            finish.set_value();
        } catch (const std::future_error&) {
        }
        try {
            sendMore.set_value();
        } catch (const std::future_error&) {
        }
        if (peer.joinable())
            peer.join();
    }};
    ASSERT_TRUE(WaitFor([&] { return transfer->FramesDone() >= 2; }));
    transfer->Pause();
    EXPECT_TRUE(WaitFor([&] { return transfer->Runstate() == 2; }));
    // Two more blocks come while paused: at most the picture of a Recv already under way moves.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int64_t paused = transfer->FramesDone();
    sendMore.set_value();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_LE(transfer->FramesDone(), paused + 1) << "frames moved while paused";
    transfer->Resume();
    EXPECT_TRUE(WaitFor([&] { return transfer->FramesDone() > paused + 1; }));
    // The receiver now waits for the fourth block, which does not come: the cancel ends that wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto cancelled = std::chrono::steady_clock::now();
    transfer->Cancel();
    worker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::seconds(5));
    EXPECT_TRUE(result.cancelled);
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.code, 2);
    EXPECT_GT(result.frames, paused);
    EXPECT_LT(result.frames, Frames());
}

// A clip of six 2 MB blocks.
IngestCase LongClip()
{
    IngestCase c = kCases[0];
    c.clip.pszName = "IMX50_Table2MB_8x24_Long";
    c.clip.nPictures = 36;
    return c;
}

INSTANTIATE_TEST_SUITE_P(Clips, RecaloIngestFailure, ::testing::Values(LongClip()), CaseName);

}  // namespace

namespace
{

// The job the browser's own code writes for a file in a folder.
std::string BrowserFileJob(const fs::path& file, bool audio24)
{
    browsertest::CapturingSink sink;
    CValdrinViewCore view{sink};
    view.Settings()._szCurrentFolder = file.parent_path().string() + "/";
    view.Settings()._b24BitsAudio = audio24;
    std::string job;
    EXPECT_EQ(view.GetFileInfos(file.filename().string(), job, nullptr), 0);
    EXPECT_TRUE(sink.Messages().empty());
    return job;
}

TransferResult IngestWithRecalo(const std::string& jobText, const fs::path& out)
{
    CIngestJob job;
    EXPECT_TRUE(job.Parse(jobText)) << job.Error();
    CIngestTransfer transfer(std::move(job), out.string());
    transfer.SetPlugin(KORVO_RECALO_LIBRARY);
    const TransferResult result = transfer.Run();
    EXPECT_TRUE(result.complete) << result.hostText << " / " << result.pluginText;
    EXPECT_EQ(result.code, 14);
    return result;
}

// Each ingested track equals the PCM that the function gives for it.
void ExpectTracks(const fs::path& out, uint32_t tracks, int bits, const std::function<Bytes(uint32_t)>& pcmOf)
{
    for (uint32_t t = 1; t <= tracks; ++t) {
        tessan::CWavReader wav;
        ASSERT_TRUE(wav.Load((out / tessan::AudioName(static_cast<int32_t>(t))).string())) << wav.Error();
        EXPECT_EQ(wav.Bits(), bits);
        const Bytes want = pcmOf(t);
        ASSERT_EQ(wav.Samples(), want.size() / static_cast<uint32_t>(bits / 8)) << "track " << t;
        Bytes got;
        ASSERT_TRUE(wav.Take(0, static_cast<uint32_t>(wav.Samples()), got));
        EXPECT_TRUE(got == want) << "track " << t;
    }
}

// The ramp of ffmpeg's D-10 files: sample n of track t is (7n + 4099(t - 1)) mod 2^16.
Bytes RampPcm16(uint32_t track, uint64_t samples)
{
    Bytes want;
    for (uint64_t n = 0; n < samples; ++n) {
        const uint32_t v = static_cast<uint32_t>((n * 7 + (track - 1) * 4099) & 0xFFFF);
        want.push_back(static_cast<uint8_t>(v));
        want.push_back(static_cast<uint8_t>(v >> 8));
    }
    return want;
}

// An OP1a D-10 file (IMX 50, eight 16-bit tracks of a ramp) on a share, read by the OP1A reader.
TEST(RecaloOP1AIngest, AnOP1aFileIngestsFrameForFrame)
{
    ASSERT_FALSE(ReceiverMediaDir().empty());
    const fs::path source = ReceiverMediaDir() / "d10_625_s16x8.mxf";
    const fs::path dir = testsupport::FreshDir("recalo-ingest-op1a");
    const TransferResult result = IngestWithRecalo(tessantest::JobText({{"directory", source.parent_path().string()},
                                                                        {"lookupname", source.filename().string()},
                                                                        {"markin", "00:00:00:00"},
                                                                        {"markout", "00:00:00:06"},
                                                                        {"KorvoFileType", "MXF"},
                                                                        {"KorvoDataType", "IMX"},
                                                                        {"KorvonAudios", "8"},
                                                                        {"KorvonAudioBits", "16"},
                                                                        {"KorvoBlockSizeMB", "2"}}),
                                                   dir / "out");
    EXPECT_EQ(result.frames, 6);
    const auto expected = FrameMd5(source, "mxf");
    EXPECT_EQ(expected.size(), 6u);
    EXPECT_EQ(FrameMd5(dir / "out" / "video.m2v", "mpegvideo"), expected);
    ExpectTracks(dir / "out", 8, 16, [](uint32_t t) { return RampPcm16(t, 6 * 1920); });
}

// The same file described by the browser's own code: its out point is one past the last frame.
TEST(RecaloOP1AIngest, TheBrowsersJobOfAnOP1aFileIngestsExactlyItsFrames)
{
    ASSERT_FALSE(ReceiverMediaDir().empty());
    const fs::path dir = testsupport::FreshDir("recalo-ingest-op1a-browser");
    fs::create_directories(dir / "share");
    const fs::path source = dir / "share" / "d10.mxf";
    fs::copy_file(ReceiverMediaDir() / "d10_625_s16x8.mxf", source);
    const TransferResult result = IngestWithRecalo(BrowserFileJob(source, false), dir / "out");
    EXPECT_EQ(result.frames, 6);
    EXPECT_EQ(FrameMd5(dir / "out" / "video.m2v", "mpegvideo"), FrameMd5(source, "mxf"));
    ExpectTracks(dir / "out", 8, 16, [](uint32_t t) { return RampPcm16(t, 6 * 1920); });
}

// An OP1a file that the system's media writer writes (as the sender's OP1a writer and the main job use it), with
// 24-bit and 16-bit sound, described by the browser and ingested: every picture (framemd5 against the source
// pictures) and every sample as the writer converts it.
TEST(RecaloOP1AIngest, AnOP1aFileTheSystemWritesIngestsExactly)
{
    ASSERT_FALSE(ReceiverMediaDir().empty());
    const std::vector<Bytes> pictures = parvexclip::LoadMedia(kCases[0].clip);
    ASSERT_FALSE(pictures.empty());
    const auto frames = static_cast<uint32_t>(pictures.size());
    const fs::path dir = testsupport::FreshDir("recalo-ingest-own-op1a");
    Bytes all;
    for (const Bytes& picture : pictures)
        all.insert(all.end(), picture.begin(), picture.end());
    parvexclip::WriteFile(dir / "source.m2v", all.data(), all.size());
    const auto expected = FrameMd5(dir / "source.m2v", "mpegvideo");
    ASSERT_EQ(expected.size(), frames);
    const fs::path samples = dir / "samples";
    const std::string make =
        "/usr/bin/python3 '" KORVO_SOURCE_DIR "/tools/make-imx-samples' '" + samples.string() + "'";
    ASSERT_EQ(std::system(make.c_str()), 0) << make;

    constexpr uint32_t kSamples = 1920;
    // Integer samples handed over as the sender does (integer / full scale); each comes back as it was.
    auto value = [](int bits, uint32_t channel, uint64_t n) {
        return bits == 24 ? static_cast<int32_t>((n * 263 + channel * 1048583) % 0x1000000) - 0x800000
                          : static_cast<int32_t>((n * 7 + channel * 4099) % 0x10000) - 0x8000;
    };
    for (const int bits : {24, 16}) {
        SCOPED_TRACE(bits);
        const uint32_t channels = bits == 24 ? 4 : 8;
        const fs::path file = dir / ("share" + std::to_string(bits)) / "OWN_OP1A.mxf";
        fs::create_directories(file.parent_path());
        CIMXMXFWriter writer(bits, (samples.string() + "/").c_str(), 0);
        MediaWriterClipInfo info;
        info.standardCode = 3;
        info.videoBitRate = 50000000;
        info.aspectCode = 2;
        info.startTimecode = CTimeCode(10, 0, 0, 0, false, 3);
        ASSERT_EQ(writer.Open(file.c_str()), 0);
        ASSERT_EQ(writer.Begin(info), 0);
        for (uint32_t f = 0; f < frames; ++f) {
            std::vector<std::vector<float>> sound(channels, std::vector<float>(kSamples));
            std::vector<const float*> pointers;
            for (uint32_t c = 0; c < channels; ++c) {
                for (uint32_t i = 0; i < kSamples; ++i)
                    sound[c][i] = static_cast<float>(value(bits, c, uint64_t{f} * kSamples + i)) /
                                  (bits == 24 ? 8388607.0f : 32767.0f);
                pointers.push_back(sound[c].data());
            }
            ASSERT_EQ(writer.AddFrame(pictures[f].data(), static_cast<uint32_t>(pictures[f].size()), pointers.data(),
                                      static_cast<int>(kSamples), static_cast<int>(channels)),
                      0);
        }
        ASSERT_EQ(writer.Close(), 0);

        const fs::path out = dir / ("out" + std::to_string(bits));
        const TransferResult result = IngestWithRecalo(BrowserFileJob(file, bits == 24), out);
        EXPECT_EQ(result.frames, frames);
        EXPECT_EQ(FrameMd5(out / "video.m2v", "mpegvideo"), expected);
        ExpectTracks(out, channels, bits, [&](uint32_t t) {
            Bytes want;
            for (uint64_t n = 0; n < uint64_t{frames} * kSamples; ++n) {
                const int32_t v = value(bits, t - 1, n);
                for (int b = 0; b < bits / 8; ++b)
                    want.push_back(static_cast<uint8_t>(v >> (8 * b)));
            }
            return want;
        });
    }
}

}  // namespace
