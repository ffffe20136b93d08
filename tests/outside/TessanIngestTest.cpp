#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "outside/tessan/CIngestTransfer.h"
#include "tests/outside/TessanTestKit.h"
#include "tests/support/FileTestKit.h"
#include "tests/support/SmallFolder.h"

using tessan::CIngestJob;
using tessan::CIngestTransfer;
using tessan::TransferResult;
using tessantest::FakeRun;

namespace
{

class TessanIngest : public FakeRun
{
protected:
    std::unique_ptr<CIngestTransfer> MakeIngest(const tessantest::Values& changes, const char* mode = "")
    {
        SetMode(mode);
        CIngestJob job;
        tessantest::Values values = {{"directory", Source().parent_path().string()},
                                     {"lookupname", Source().filename().string()},
                                     {"markin", "00:00:00:00"},
                                     {"markout", "00:00:00:10"},
                                     {"KorvoDataType", "DVCPro"}};
        values.insert(values.end(), changes.begin(), changes.end());
        EXPECT_TRUE(job.Parse(tessantest::JobText(values))) << job.Error();
        auto transfer = std::make_unique<CIngestTransfer>(std::move(job), Out().string());
        transfer->SetPlugin(KORVO_FAKERECEIVER_LIBRARY);
        return transfer;
    }

    TransferResult Ingest(const tessantest::Values& changes, const char* mode = "")
    {
        return MakeIngest(changes, mode)->Run();
    }
};

TEST_F(TessanIngest, IngestsEveryFrameIntoMediaThatFfmpegReads)
{
    TransferResult result = Ingest({});
    EXPECT_TRUE(result.complete) << result.hostText;
    EXPECT_EQ(result.code, 14);
    EXPECT_EQ(result.frames, 10);
    EXPECT_EQ(result.pluginText, "fake receiver: End Of Data");

    // The pictures are the source's first ten frames, back to back.
    std::string source = testsupport::ReadWholeFile(Source());
    EXPECT_EQ(testsupport::ReadWholeFile(Out() / "video.dv"), source.substr(0, 10 * tessantest::kDvFrameBytes));
    EXPECT_EQ(Probe(Out() / "video.dv", "v:0", "stream=codec_name,nb_read_frames"), "dvvideo,10");
    for (const char* wav : {"audio1.wav", "audio2.wav"})
        EXPECT_EQ(Probe(Out() / wav, "a:0", "stream=codec_name,sample_rate,channels,duration_ts"),
                  "pcm_s24le,48000,1,19200")
            << wav;
    ASSERT_EQ(std::system(("xmllint --noout '" + (Out() / "manifest.xml").string() + "'").c_str()), 0);
    std::string manifest = testsupport::ReadWholeFile(Out() / "manifest.xml");
    EXPECT_NE(manifest.find("<call track=\"0\" size=\"144000\" samples=\"1\" code=\"0\"/>"), std::string::npos);
    EXPECT_NE(manifest.find("<call track=\"2\" size=\"5760\" samples=\"1920\" code=\"0\"/>"), std::string::npos);
    EXPECT_NE(manifest.find("<call track=\"0\" size=\"0\" samples=\"0\" code=\"14\"/>"), std::string::npos);
    EXPECT_NE(manifest.find("<result code=\"14\" complete=\"1\" frames=\"10\">fake receiver: End Of Data</result>"),
              std::string::npos);

    // Create, check, Open, Recv until a non-zero code, Close, delete; every frame released.
    EXPECT_EQ(JournalText(),
              "create\ncheck 1.0\nversion\n"
              "open left=10 start=0 standard=1 tracks=0,1,2, bits=24 live=0\n"
              "read 0\nread 1\nread 2\nread 3\nread 4\nread 5\nread 6\nread 7\nread 8\nread 9\n"
              "end left=0\nclose\ndelete live=0\n");
}

TEST_F(TessanIngest, ATrimmedClipEndsOnItsLastFrameAndAsksNoFurther)
{
    // Clip points in fields 4 and 16: frames 2 to 7, the out point one past the last.
    TransferResult result =
        Ingest({{"TrimClip", "1"}, {"KorvoClipIn", "4"}, {"KorvoClipOut", "16"}, {"KorvonAudios", "0"}});
    EXPECT_TRUE(result.complete) << result.hostText;
    EXPECT_EQ(result.frames, 6);
    std::string journal = JournalText();
    EXPECT_NE(journal.find("open left=6 start=2 standard=1 tracks=0, "), std::string::npos) << journal;
    EXPECT_NE(journal.find("read 2\nread 3\nread 4\nread 5\nread 6\nread 7\nend left=0\n"), std::string::npos)
        << journal;
    EXPECT_EQ(journal.find("read 8"), std::string::npos);
    std::string source = testsupport::ReadWholeFile(Source());
    EXPECT_EQ(testsupport::ReadWholeFile(Out() / "video.dv"),
              source.substr(2 * tessantest::kDvFrameBytes, 6 * tessantest::kDvFrameBytes));
}

TEST_F(TessanIngest, APluginThatFailsIsReportedAndStillClosedAndDeleted)
{
    struct Case {
        const char* mode;
        int32_t code;
        const char* hostText;
        const char* pluginText;
        const char* journalEnd;
    };
    const Case cases[] = {
        {"fail-open", 7, "the receiver did not open", "fake receiver: no media", "version\ndelete live=0\n"},
        {"throw-open", -1, "the plug-in threw in Open: fake receiver: Open throws", "", "version\ndelete live=0\n"},
        {"incompatible", -1, "incompatible receiver: version check 1", "", "version\ndelete live=0\n"},
        {"error-at:3", 6, "", "fake receiver: Internal Error", "read 2\nclose\ndelete live=0\n"},
        {"throw-at:3", 0, "the plug-in threw in Recv: fake receiver: Recv throws", "",
         "read 2\nclose\ndelete live=0\n"},
        {"null-frame", 0, "the receiver gave no frame with code 0", "", "read 0\nclose\ndelete live=0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        ClearJournal();
        TransferResult result = Ingest({}, c.mode);
        EXPECT_FALSE(result.complete);
        EXPECT_EQ(result.code, c.code);
        EXPECT_NE(result.hostText.find(c.hostText), std::string::npos) << result.hostText;
        EXPECT_EQ(result.pluginText, c.pluginText);
        std::string journal = JournalText();
        EXPECT_TRUE(journal.ends_with(c.journalEnd)) << journal;
        EXPECT_EQ(journal.find("ORDER"), std::string::npos) << journal;
    }
}

// An ingest that fails into the folder of a complete one leaves neither the earlier composition nor its claim.
TEST_F(TessanIngest, AFailedIngestOverACompleteOneKeepsNoneOfItsRecords)
{
    for (const char* mode : {"error-at:3", "throw-at:3", "null-frame"}) {
        SCOPED_TRACE(mode);
        ASSERT_TRUE(Ingest({}).complete);
        ASSERT_TRUE(std::filesystem::exists(Out() / "composition.xml"));
        EXPECT_FALSE(Ingest({}, mode).complete);
        EXPECT_FALSE(std::filesystem::exists(Out() / "composition.xml"));
        EXPECT_NE(testsupport::ReadWholeFile(Out() / "manifest.xml").find("complete=\"0\""), std::string::npos);
    }
}

TEST_F(TessanIngest, AMissingPluginOrMediaFailsClearly)
{
    CIngestJob job;
    ASSERT_TRUE(job.Parse(tessantest::JobText({})));
    CIngestTransfer transfer(job, Out().string());
    transfer.SetPlugin((testsupport::TestRoot() / "libNoSuchReceiver.so").string());
    TransferResult result = transfer.Run();
    EXPECT_FALSE(result.complete);
    EXPECT_NE(result.hostText.find("cannot load"), std::string::npos) << result.hostText;

    // The source holds 12 frames; a job of 20 ends early with the receiver's internal error.
    result = Ingest({{"markout", "00:00:00:20"}});
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.code, 6);
    EXPECT_EQ(result.frames, 12);
}

// Threaded: also run under ThreadSanitizer.
class TessanIngestThreads : public TessanIngest
{
};

TEST_F(TessanIngestThreads, PauseResumeAndCancelComeFromAnotherThread)
{
    setenv("FAKE_DELAY_MS", "40", 1);
    std::unique_ptr<CIngestTransfer> transfer = MakeIngest({{"markout", "00:00:00:12"}});
    TransferResult result;
    std::thread worker([&] { result = transfer->Run(); });
    PauseResumeCancel(transfer.get());
    worker.join();
    unsetenv("FAKE_DELAY_MS");
    EXPECT_FALSE(result.complete);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.code, 2);
    EXPECT_LT(result.frames, 12);
    std::string journal = JournalText();
    EXPECT_NE(journal.find("pause\n"), std::string::npos);
    EXPECT_NE(journal.find("resume\n"), std::string::npos);
    EXPECT_TRUE(journal.ends_with("pause\ncancel\nclose\ndelete live=0\n")) << journal;
    std::string manifest = testsupport::ReadWholeFile(Out() / "manifest.xml");
    EXPECT_NE(manifest.find("complete=\"0\""), std::string::npos);
}

// A disk that fills at any point of an ingest: the ingest fails with the cause, and nothing on the disk claims a
// complete clip; or all fits, and the clip is complete with a composition that reads.
TEST_F(TessanIngest, AFullDiskNeverLeavesAClaimOfCompleteness)
{
    int failed = 0;
    for (const char* size : {"64k", "1400k", "1500k", "1560k", "1600k", "1640k", "1700k", "4m"}) {
        SCOPED_TRACE(size);
        std::filesystem::remove_all(Out());
        testsupport::SmallFolder disk(Out(), std::string("size=") + size);
        if (!disk.Mounted()) {
            if (testsupport::SmallFolder::MayBeMissing())
                GTEST_SKIP() << "cannot mount a small tmpfs at " << Out() << " (needs root): " << disk.Error();
            FAIL() << "cannot mount a small tmpfs at " << Out() << " as root: " << disk.Error();
        }
        TransferResult result = Ingest({});
        const std::string manifest = testsupport::ReadWholeFile(Out() / "manifest.xml");
        if (result.complete) {
            EXPECT_NE(manifest.find("complete=\"1\""), std::string::npos);
            EXPECT_EQ(std::system(("xmllint --noout '" + (Out() / "composition.xml").string() + "'").c_str()), 0);
            continue;
        }
        ++failed;
        EXPECT_NE(result.hostText.find("No space left on device"), std::string::npos) << result.hostText;
        EXPECT_EQ(manifest.find("complete=\"1\""), std::string::npos) << manifest;
        EXPECT_FALSE(std::filesystem::exists(Out() / "composition.xml"));
    }
    EXPECT_GE(failed, 1);
}

// The cancel reaches the receiver before its Open, which may be connecting to a silent server.
TEST_F(TessanIngest, ACancelBeforeTheReceiverOpensReachesItBeforeOpen)
{
    std::unique_ptr<CIngestTransfer> transfer = MakeIngest({});
    transfer->Cancel();
    TransferResult result = transfer->Run();
    EXPECT_TRUE(result.cancelled);
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.code, 2);
    EXPECT_EQ(result.frames, 0);
    EXPECT_TRUE(
        JournalText().ends_with("version\ncancel\nopen left=10 start=0 standard=1 tracks=0,1,2, bits=24 live=0\n"
                                "close\ndelete live=0\n"))
        << JournalText();
}

}  // namespace
