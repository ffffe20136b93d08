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
#include "tests/outside/TessanTestKit.h"
#include "tests/receiver/ReceiverComposition.h"

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
        char markout[16];
        std::snprintf(markout, sizeof markout, "00:00:%02u:%02u", (Frames() - 1) / 25, (Frames() - 1) % 25);
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
        CIngestJob parsed;
        EXPECT_TRUE(parsed.Parse(tessantest::JobText(job))) << parsed.Error();
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

    void ExpectComplete(const TransferResult& result)
    {
        EXPECT_TRUE(result.complete) << result.hostText << " / " << result.pluginText;
        EXPECT_EQ(result.code, 14);
        EXPECT_EQ(result.frames, Frames());
        EXPECT_EQ(result.pluginText, "KorvoReceiver: End Of Data");
        ExpectMedia();
    }

    // The ingested media equal the clip's pictures and sound.
    void ExpectMedia()
    {
        const IngestCase& c = GetParam();
        Bytes source;
        for (uint32_t i = 0; i < c.clip.nPictures; ++i) {
            const Bytes& picture = _writer->MediaPicture(i);
            source.insert(source.end(), picture.begin(), picture.end());
        }
        parvexclip::WriteFile(_dir / "source", source.data(), source.size());
        const auto expected = FrameMd5(_dir / "source", c.pszFormat);
        EXPECT_EQ(expected.size(), Frames());
        const std::string picture = std::string("video") + tessan::PictureExtension(c.dataType);
        EXPECT_EQ(FrameMd5(_dir / "out" / picture, c.pszFormat), expected);

        for (int32_t t = 1; t <= c.nTracks; ++t) {
            tessan::CWavReader wav;
            ASSERT_TRUE(wav.Load((_dir / "out" / tessan::AudioName(t)).string())) << wav.Error();
            EXPECT_EQ(wav.Bits(), c.nBits);
            Bytes want;
            for (uint32_t k = 0; k < Frames(); ++k) {
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

std::vector<IngestCase> ServerCases()
{
    std::vector<IngestCase> cases;
    std::copy_if(std::begin(kCases), std::end(kCases), std::back_inserter(cases),
                 [](const IngestCase& c) { return c.clip.nBlockFormat == kBavd8; });
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Clips, RecaloServerIngestThreads, ::testing::ValuesIn(ServerCases()), CaseName);

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

// An OP1a D-10 file (IMX 50, eight 16-bit tracks of a ramp) on a share, read by the OP1A reader.
TEST(RecaloOP1AIngest, AnOP1aFileIngestsFrameForFrame)
{
    ASSERT_FALSE(ReceiverMediaDir().empty());
    const fs::path source = ReceiverMediaDir() / "d10_625_s16x8.mxf";
    const fs::path dir = testsupport::FreshDir("recalo-ingest-op1a");
    CIngestJob job;
    ASSERT_TRUE(job.Parse(tessantest::JobText({{"directory", source.parent_path().string()},
                                               {"lookupname", source.filename().string()},
                                               {"markin", "00:00:00:00"},
                                               {"markout", "00:00:00:05"},
                                               {"KorvoFileType", "MXF"},
                                               {"KorvoDataType", "IMX"},
                                               {"KorvonAudios", "8"},
                                               {"KorvonAudioBits", "16"},
                                               {"KorvoBlockSizeMB", "2"}})))
        << job.Error();
    CIngestTransfer transfer(std::move(job), (dir / "out").string());
    transfer.SetPlugin(KORVO_RECALO_LIBRARY);
    const TransferResult result = transfer.Run();
    EXPECT_TRUE(result.complete) << result.hostText << " / " << result.pluginText;
    EXPECT_EQ(result.code, 14);
    EXPECT_EQ(result.frames, 6);

    const auto expected = FrameMd5(source, "mxf");
    EXPECT_EQ(expected.size(), 6u);
    EXPECT_EQ(FrameMd5(dir / "out" / "video.m2v", "mpegvideo"), expected);
    for (uint32_t t = 0; t < 8; ++t) {
        tessan::CWavReader wav;
        ASSERT_TRUE(wav.Load((dir / "out" / tessan::AudioName(static_cast<int32_t>(t + 1))).string())) << wav.Error();
        EXPECT_EQ(wav.Bits(), 16);
        ASSERT_EQ(wav.Samples(), 6u * 1920u);
        Bytes got;
        ASSERT_TRUE(wav.Take(0, static_cast<uint32_t>(wav.Samples()), got));
        Bytes want;
        for (uint64_t n = 0; n < wav.Samples(); ++n) {
            const uint32_t v = static_cast<uint32_t>((n * 7 + t * 4099) & 0xFFFF);
            want.push_back(static_cast<uint8_t>(v));
            want.push_back(static_cast<uint8_t>(v >> 8));
        }
        EXPECT_TRUE(got == want) << "track " << t + 1;
    }
}

}  // namespace
