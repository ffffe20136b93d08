#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "outside/qo/Generic/CompositionMobIF.h"
#include "outside/qo/Generic/FileMobIF.h"
#include "outside/qo/Generic/HelperIF.h"
#include "outside/qo/Generic/Playlist.h"
#include "outside/tessan/CIngestTransfer.h"
#include "outside/tessan/CPlayoutTransfer.h"
#include "tests/outside/TessanTestKit.h"
#include "tests/support/FileTestKit.h"

using namespace Qo::Generic;
using tessan::CPlayoutTransfer;
using tessan::TransferResult;

namespace
{

struct CompositionSpec {
    int32_t duration = 10;
    int32_t standard = kVideoStandard25Hz;
    int32_t rate = 25;
    int32_t soundWidth = 24;
    std::vector<int32_t> tracks{0, 1, 2};
    bool withComposition = true;
};

class TessanPlayout : public tessantest::FakeRun
{
protected:
    void SetUp() override
    {
        FakeRun::SetUp();
        // The media folder comes from an ingest of ten frames with two 24-bit audio tracks.
        tessan::CIngestJob job;
        ASSERT_TRUE(job.Parse(tessantest::JobText({{"directory", Source().parent_path().string()},
                                                   {"lookupname", Source().filename().string()},
                                                   {"markin", "00:00:00:00"},
                                                   {"markout", "00:00:00:10"},
                                                   {"KorvoDataType", "DVCPro"}})));
        tessan::CIngestTransfer ingest(std::move(job), Out().string());
        ingest.SetPlugin(KORVO_FAKERECEIVER_LIBRARY);
        ASSERT_TRUE(ingest.Run().complete);
        ClearJournal();
        std::filesystem::create_directories(Target());
    }

    std::filesystem::path Target() const { return _dir / "target"; }

    std::string WriteComposition(const CompositionSpec& layout)
    {
        std::string path = (_dir / "composition.xml").string();
        HelperIF* helper = CreateHelper(kContainerAAF);
        ContainerBuffer* buffer = helper->NewContainerBuffer(0, 0);
        ContainerIF* container = helper->OpenNewContainer(buffer, 0, 3);
        Playlist playlist;
        for (int32_t track : layout.tracks) {
            auto* file = dynamic_cast<FileMobIF*>(container->CreateMob(kFileMob));
            if (track > 0)
                file->SetSampleWidth(layout.soundWidth);
            playlist.AddTrack(track).AddSegment(Segment(file->GetMobID(), layout.duration));
            container->ReleaseMob(file);
        }
        if (layout.withComposition) {
            auto* composition = dynamic_cast<CompositionMobIF*>(container->CreateMob(kCompositionMob));
            composition->SetDuration(layout.duration);
            composition->SetVideoStandard(layout.standard);
            composition->SetStartTimeCode(TimeCode(layout.rate, layout.rate == 30, 10, 0, 0, 0));
            composition->AddCompressorName("Mirel::DVCPRO::50");
            composition->SetAttribute("_USER", "TGT-Address", Target().c_str());
            composition->SetPlaylist(playlist);
            container->ReleaseMob(composition);
        }
        helper->ReturnContainer(container);
        buffer->WriteToFile(path.c_str());
        DeleteHelper(helper);
        return path;
    }

    std::unique_ptr<CPlayoutTransfer> MakePlayout(const CompositionSpec& layout, const char* mode = "")
    {
        SetMode(mode);
        auto transfer = std::make_unique<CPlayoutTransfer>(WriteComposition(layout), Out().string());
        transfer->SetPlugin(KORVO_FAKESENDER_LIBRARY);
        return transfer;
    }

    TransferResult Playout(const CompositionSpec& layout, const char* mode = "")
    {
        return MakePlayout(layout, mode)->Run();
    }

    // The journal's lines that begin with a text.
    std::vector<std::string> JournalLines(const std::string& prefix) const
    {
        std::vector<std::string> lines;
        std::istringstream in(JournalText());
        for (std::string line; std::getline(in, line);)
            if (line.rfind(prefix, 0) == 0)
                lines.push_back(line);
        return lines;
    }
};

TEST_F(TessanPlayout, PlaysAnIngestedClipOutFrameByFrame)
{
    TransferResult result = Playout({});
    EXPECT_TRUE(result.complete) << result.hostText;
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.frames, 10);
    std::string journal = JournalText();
    EXPECT_TRUE(journal.starts_with(
        "version\ncreate\nopen duration=10 standard=1 tracks=0,1,2, width=24 "
        "compressors=Mirel::DVCPRO::50, target=" +
        Target().string() + "\nsend 0 0 144000 1\nsend 1 0 5760 1920\nsend 2 0 5760 1920\nsend 0 1 144000 1\n"))
        << journal;
    EXPECT_TRUE(journal.ends_with("send 2 9 5760 1920\nclose\ndelete\n")) << journal;
    // What the sender got is what the ingest wrote.
    EXPECT_EQ(testsupport::ReadWholeFile(Target() / "sent0.bin"), testsupport::ReadWholeFile(Out() / "video.dv"));
    for (int track : {1, 2})
        EXPECT_EQ(testsupport::ReadWholeFile(Target() / ("sent" + std::to_string(track) + ".bin")),
                  testsupport::ReadWholeFile(Out() / ("audio" + std::to_string(track) + ".wav")).substr(44));
}

TEST_F(TessanPlayout, SendsNullFramesForATrackWithoutMedia)
{
    CompositionSpec layout;
    layout.tracks = {0, 1, 3};
    TransferResult result = Playout(layout);
    EXPECT_TRUE(result.complete) << result.hostText;
    EXPECT_EQ(result.frames, 10);
    EXPECT_EQ(JournalLines("null 0").size(), 0u);
    EXPECT_EQ(JournalLines("null 1").size(), 0u);
    EXPECT_EQ(JournalLines("null 3").size(), 10u);  // no media for track 3
}

// Media that cannot play the composition whole are refused before the sender opens: a track shorter than the
// composition is never padded, and a folder whose transfer did not complete is no clip.
TEST_F(TessanPlayout, RefusesMediaThatAreNotWhole)
{
    CompositionSpec longer;
    longer.duration = 12;
    struct Case {
        const char* name;
        CompositionSpec layout;
        std::function<void()> spoil;
        const char* hostText;
    };
    const Case cases[] = {
        {"pictures short", longer, [] {}, "the media hold 10 pictures, the composition 12"},
        {"sound short",
         [] {
             CompositionSpec layout;
             layout.tracks = {1, 2};
             layout.duration = 11;
             return layout;
         }(),
         [] {}, "audio track 1 holds 19200 samples, the composition needs 21120"},
        {"transfer incomplete",
         {},
         [this] {
             const std::string manifest = testsupport::ReadWholeFile(Out() / "manifest.xml");
             std::string changed = manifest;
             changed.replace(changed.find("complete=\"1\""), 12, "complete=\"0\"");
             testsupport::WriteWholeFile(Out() / "manifest.xml", changed);
         },
         "records no complete transfer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearJournal();
        c.spoil();
        TransferResult result = Playout(c.layout);
        EXPECT_FALSE(result.complete);
        EXPECT_EQ(result.frames, 0);
        EXPECT_NE(result.hostText.find(c.hostText), std::string::npos) << result.hostText;
        EXPECT_EQ(JournalText().find("open "), std::string::npos) << JournalText();
    }
}

TEST_F(TessanPlayout, SendsTheAudioOfEachFrameByTheCadence)
{
    CompositionSpec layout;
    layout.standard = kVideoStandard2997Hz;
    layout.rate = 30;
    layout.tracks = {0, 1};
    ASSERT_TRUE(Playout(layout).complete);
    std::vector<std::string> audio = JournalLines("send 1 ");
    ASSERT_EQ(audio.size(), 10u);
    const uint32_t cadence[] = {1602, 1601, 1602, 1601, 1602};
    for (size_t i = 0; i < audio.size(); ++i)
        EXPECT_EQ(audio[i], "send 1 " + std::to_string(i) + " " + std::to_string(cadence[i % 5] * 3) + " " +
                                std::to_string(cadence[i % 5]));
    EXPECT_EQ(tessan::CPlayoutTransfer::CadenceSamples(kVideoStandard25Hz, 50, 3), 960u);
    EXPECT_EQ(tessan::CPlayoutTransfer::CadenceSamples(kVideoStandard2997Hz, 60, 4), 800u);
}

TEST_F(TessanPlayout, ASenderThatFailsIsReportedAndStillClosedAndDeleted)
{
    struct Case {
        const char* mode;
        const char* version;
        int32_t code;
        const char* hostText;
        const char* pluginText;
        const char* journalEnd;
    };
    const Case cases[] = {
        {"fail-open", "2", 5, "the sender did not open", "fake sender: no target", "create\ndelete\n"},
        {"throw-open", "2", -1, "the plug-in threw in Open: fake sender: Open throws", "", "create\ndelete\n"},
        {"error-at:3", "2", 5, "", "fake sender: Write FAILED", "send 2 2 5760 1920\nclose\ndelete\n"},
        {"throw-at:3", "2", 0, "the plug-in threw in Send: fake sender: Send throws", "",
         "send 2 2 5760 1920\nclose\ndelete\n"},
        {"", "3", -1, "incompatible sender: interface version 3", "", "version\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        ClearJournal();
        setenv("FAKE_VERSION", c.version, 1);
        TransferResult result = Playout({}, c.mode);
        EXPECT_FALSE(result.complete);
        EXPECT_EQ(result.code, c.code);
        EXPECT_NE(result.hostText.find(c.hostText), std::string::npos) << result.hostText;
        EXPECT_EQ(result.pluginText, c.pluginText);
        EXPECT_TRUE(JournalText().ends_with(c.journalEnd)) << JournalText();
    }
}

TEST_F(TessanPlayout, ABadCompositionOrMediaFailsClearly)
{
    CompositionSpec layout;
    layout.soundWidth = 16;
    TransferResult result = Playout(layout);
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.hostText, "audio track 1 holds 24-bit samples, the composition 16-bit");
    EXPECT_TRUE(JournalText().ends_with("close\ndelete\n"));

    layout.withComposition = false;
    result = Playout(layout);
    EXPECT_NE(result.hostText.find("holds no composition mob"), std::string::npos) << result.hostText;

    testsupport::WriteWholeFile(_dir / "broken.xml", "<tolvenc kind=");
    CPlayoutTransfer broken((_dir / "broken.xml").string(), Out().string());
    result = broken.Run();
    EXPECT_NE(result.hostText.find("broken.xml: not XML"), std::string::npos) << result.hostText;

    std::filesystem::remove(Out() / "manifest.xml");
    CPlayoutTransfer noMedia(WriteComposition({}), Out().string());
    result = noMedia.Run();
    EXPECT_NE(result.hostText.find("cannot read the manifest"), std::string::npos) << result.hostText;
}

// Threaded: also run under ThreadSanitizer.
class TessanPlayoutThreads : public TessanPlayout
{
};

TEST_F(TessanPlayoutThreads, PauseResumeAndCancelComeFromAnotherThread)
{
    setenv("FAKE_DELAY_MS", "20", 1);
    CompositionSpec layout;
    layout.tracks = {0, 1, 2, 3, 4, 5, 6, 7, 8};  // null frames of the tracks without media make each frame last
    std::unique_ptr<CPlayoutTransfer> transfer = MakePlayout(layout);
    TransferResult result;
    std::thread worker([&] { result = transfer->Run(); });
    PauseResumeCancel(transfer.get());
    worker.join();
    EXPECT_FALSE(result.complete);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.code, 2);
    EXPECT_LT(result.frames, 10);
    std::string journal = JournalText();
    EXPECT_NE(journal.find("pause\n"), std::string::npos);
    EXPECT_NE(journal.find("resume\n"), std::string::npos);
    // A send already under way when the cancel came may still complete; nothing after it.
    const size_t cancel = journal.rfind("cancel\n");
    ASSERT_NE(cancel, std::string::npos) << journal;
    std::string tail = journal.substr(cancel + 7);
    if (tail.starts_with("send ")) {
        tail.erase(0, tail.find('\n') + 1);
    }
    EXPECT_EQ(tail, "close\ndelete\n") << journal;
}

}  // namespace
