// The transfer request and its status loop, with the request library stand-in loaded as the browser loads it and
// a script telling how each transfer goes.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "browser/CAmbrelLibrary.h"
#include "browser/CValdrinViewCore.h"
#include "platform/Paths.h"
#include "tests/browser/BrowserTestKit.h"

using namespace browsertest;

namespace
{

constexpr const char* kJob = "<?xml>\n<ingestdrag><printname>A & B</printname></ingestdrag>\n";

// The view with a fixed job, so the loop is tested apart from the clip descriptions.
class TestView : public CValdrinViewCore
{
public:
    using CValdrinViewCore::CValdrinViewCore;
    int nJobResult = 0;
    std::string szAddress;
    int nBuilds = 0;

protected:
    int BuildJob(const std::string&, const std::string& tcpAddress, std::string& job) override
    {
        ++nBuilds;
        szAddress = tcpAddress;
        if (nJobResult == 0)
            job = kJob;
        return nJobResult;
    }
};

class FakeTcpSource : public ITcpBlockSource
{
public:
    bool bListens = true;
    bool bConnects = true;
    std::vector<std::string>* pCalls = nullptr;

    bool Listen(std::string& address) override
    {
        pCalls->push_back("Listen");
        address = "127.0.0.1:4321";
        return bListens;
    }
    bool WaitForReceiver(uint32_t timeoutMs) override
    {
        pCalls->push_back("Wait " + std::to_string(timeoutMs));
        return bConnects;
    }
    bool StartSending(const std::string& path) override
    {
        pCalls->push_back("Send " + path);
        return true;
    }
    void Stop() override { pCalls->push_back("Stop"); }
};

class TransferLoopTest : public ::testing::Test
{
protected:
    TransferLoopTest() : ambrel(::testing::UnitTest::GetInstance()->current_test_info()->name())
    {
        ValdrinTimings timings;
        timings.nPollMs = 5;
        timings.nTcpConnectMs = 20;
        view.SetTimings(timings);
        view.SetRequestLibrary(std::make_shared<CAmbrelLibrary>(KORVO_AMBREL_LIBRARY));
        view.SetFixedCopyPath((testsupport::TestRoot() / "ingestdrag.xml").string());
        view.Settings()._szCurrentFolder = "/clips/";
    }

    // A further view on the same library, for a second transfer within one test.
    std::unique_ptr<TestView> MakeView(IMessageSink& otherSink, ValdrinTimings timings = ValdrinTimings{1, 20, 1, 1, 1})
    {
        auto other = std::make_unique<TestView>(otherSink);
        other->SetTimings(timings);
        other->SetRequestLibrary(std::make_shared<CAmbrelLibrary>(KORVO_AMBREL_LIBRARY));
        other->SetFixedCopyPath((testsupport::TestRoot() / "ingestdrag.xml").string());
        return other;
    }

    std::unique_ptr<ITcpBlockSource> MakeSource(std::vector<std::string>& calls, bool connects)
    {
        auto source = std::make_unique<FakeTcpSource>();
        source->pCalls = &calls;
        source->bConnects = connects;
        return source;
    }

    std::vector<Message> Run()
    {
        view.DoTransfer("clip.mxf", progress);
        return sink.Messages();
    }

    size_t Count(const std::string& prefix) const
    {
        auto lines = ambrel.Journal();
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }

    ScriptedAmbrel ambrel;
    CapturingSink sink;
    RecordingProgress progress;
    TestView view{sink};
};

TEST_F(TransferLoopTest, CompleteTransferShowsProgressAndSuccessAndReleasesTheHandle)
{
    ambrel.Script("status run:10 run:55.9 unavailable run:80 complete\n");
    EXPECT_EQ(Run(), (std::vector<Message>{{"Transfer Complete !", "Success", MessageIcon::Information}}));
    EXPECT_EQ(progress.Captions(), std::vector<std::string>{"Transfer Running ..."});
    EXPECT_EQ(progress.Progress(), (std::vector<int>{10, 55, 80, 100}));
    const auto journal = ambrel.Journal();
    ASSERT_FALSE(journal.empty());
    // The job goes out as built; the flag is 1 for MXF/AAF (OMF off).
    EXPECT_EQ(journal[0], "RequestTransferXML host=Mirel mxf=1 bytes=" + std::to_string(std::string(kJob).size()));
    EXPECT_EQ(Count("ReleaseHandle"), 1u);
    // The copy on disk has the full declaration and keeps the bare ampersand.
    EXPECT_EQ(ReadText(testsupport::TestRoot() / "ingestdrag.xml"),
              "<?xml version=\"1.0\"?>\n<ingestdrag><printname>A & B</printname></ingestdrag>\n");
}

TEST_F(TransferLoopTest, CopyGoesToTheFixedFileByDefault)
{
    CapturingSink other;
    TestView fresh{other};
    fresh.SetTimings(ValdrinTimings{1, 1, 1, 1, 1});
    fresh.SetRequestLibrary(std::make_shared<CAmbrelLibrary>(KORVO_AMBREL_LIBRARY));
    ambrel.Script("status complete\n");
    fresh.DoTransfer("clip.mxf", progress);
    EXPECT_EQ(ReadText(platform::ToLocalPath("C:\\KorvoLogs\\KorvoMirel\\ingestdrag.xml")),
              "<?xml version=\"1.0\"?>\n<ingestdrag><printname>A & B</printname></ingestdrag>\n");
}

TEST_F(TransferLoopTest, OmfSettingSendsFlagZeroAndTheTargetHost)
{
    view.Settings()._bOmf = true;
    view.Settings()._szTargetHost = "Ingest7";
    ambrel.Script("status complete\n");
    Run();
    EXPECT_EQ(ambrel.Journal()[0].rfind("RequestTransferXML host=Ingest7 mxf=0 ", 0), 0u);
}

TEST_F(TransferLoopTest, FinalStatusWords)
{
    struct Case {
        const char* status;
        Message message;
    };
    const Case cases[] = {
        {"cancelled", {"Transfer CANCELED !", "Interrupted", MessageIcon::Exclamation}},
        {"error", {"Transfer ERROR !", "ERROR", MessageIcon::Error}},
        {"0x80000007", {"Transfer Error code -2147483641 [0x80000007]", "ERROR", MessageIcon::Error}},
        {"-5", {"Transfer Error code -5 [0xfffffffb]", "ERROR", MessageIcon::Error}},
    };
    for (const Case& c : cases) {
        CapturingSink caseSink;
        auto caseView = MakeView(caseSink);
        ambrel.Script(std::string("status run:1 ") + c.status + "\n");
        caseView->DoTransfer("clip.mxf", progress);
        EXPECT_EQ(caseSink.Messages(), std::vector<Message>{c.message}) << c.status;
    }
}

TEST_F(TransferLoopTest, FourUnavailableStatusesKeepGoingTheFifthEndsTheLoop)
{
    ambrel.Script("status unavailable unavailable unavailable unavailable run:50 complete\n");
    EXPECT_EQ(Run(), (std::vector<Message>{{"Transfer Complete !", "Success", MessageIcon::Information}}));

    ambrel.Script("status unavailable\n");
    CapturingSink other;
    MakeView(other)->DoTransfer("clip.mxf", progress);
    EXPECT_EQ(other.Messages(), (std::vector<Message>{{"ERROR getting Status !", "ERROR", MessageIcon::Error}}));
    EXPECT_EQ(Count("TransferStatus"), 6u + 5u);
    EXPECT_EQ(Count("ReleaseHandle"), 2u);
}

TEST_F(TransferLoopTest, RequestErrors)
{
    struct Case {
        const char* script;
        std::string text;
        bool released;
    };
    const Case cases[] = {
        {"request 0 1", "------ FAILED to Get HOST !!", false},
        {"request 0 2", "------ FAILED to Init API !!", false},
        {"request 0 3", "- FAILED to request Transfer", false},
        {"request 0 4", "FAILED To create Transaction !", false},
        {"request 0 17", "Request Error code 17 [0x0011]", false},
        // A handle with an error: the number is printed whole, and the handle still goes back.
        {"request 1 7", "Error in Request Transfer ! - 7", true},
        {"request 1 12", "Error in Request Transfer ! - 12", true},
    };
    for (const Case& c : cases) {
        CapturingSink caseSink;
        const size_t releasedBefore = Count("ReleaseHandle");
        ambrel.Script(std::string(c.script) + "\nstatus complete\n");
        MakeView(caseSink)->DoTransfer("clip.mxf", progress);
        EXPECT_EQ(caseSink.Messages(), (std::vector<Message>{{c.text, "ERROR", MessageIcon::Error}})) << c.script;
        EXPECT_EQ(Count("ReleaseHandle") - releasedBefore, c.released ? 1u : 0u) << c.script;
        EXPECT_EQ(Count("TransferStatus"), 0u) << c.script;
    }
}

TEST_F(TransferLoopTest, CancelIsPassedOnOnceAndTheLoopEndsOnTheFinalStatus)
{
    // Two presses before the next poll count once. The status stays unavailable after the cancel for a while: the
    // loop goes on until the final word.
    ambrel.Script("status run:5\ncancel unavailable unavailable cancelled\n");
    progress.Cancel();
    progress.Cancel();
    EXPECT_EQ(Run(), (std::vector<Message>{{"Transfer CANCELED !", "Interrupted", MessageIcon::Exclamation}}));
    EXPECT_EQ(Count("CancelTransfer"), 1u);
    EXPECT_EQ(Count("TransferStatus"), 3u);
    EXPECT_EQ(Count("ReleaseHandle"), 1u);
}

using TransferLoopThreads = TransferLoopTest;

TEST_F(TransferLoopThreads, CancelFromTheWindowThreadWhileTheWorkerPolls)
{
    ambrel.Script("status run:5\ncancel run:90 cancelled\n");
    std::thread worker([&] { view.DoTransfer("clip.mxf", progress); });
    while (Count("TransferStatus") < 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    progress.Cancel();
    worker.join();
    EXPECT_EQ(sink.Messages(),
              (std::vector<Message>{{"Transfer CANCELED !", "Interrupted", MessageIcon::Exclamation}}));
    EXPECT_EQ(Count("CancelTransfer"), 1u);
    EXPECT_EQ(Count("ReleaseHandle"), 1u);
}

TEST_F(TransferLoopTest, CancelOfATransferThatStaysInProgressKeepsPolling)
{
    // Without a cancel answer the service goes on; the operator's cancel does not end the loop by itself.
    ambrel.Script("status run:1 run:2 run:3 run:4 run:5 run:6 run:7 run:8 complete\n");
    progress.Cancel();
    // The clip came in whole all the same, and the box says so.
    EXPECT_EQ(Run(),
              (std::vector<Message>{{"Transfer Complete !\nThe cancel came after the last frame: the whole clip was "
                                     "ingested.",
                                     "Success", MessageIcon::Information}}));
    EXPECT_EQ(Count("CancelTransfer"), 1u);
    EXPECT_EQ(Count("TransferStatus"), 9u);
}

TEST_F(TransferLoopTest, JobFailureShowsTheMessageAndRequestsNothing)
{
    view.nJobResult = -2;
    ambrel.Script("status complete\n");
    EXPECT_EQ(Run(),
              (std::vector<Message>{{"Failed to get File's information", "Transfer Error", MessageIcon::Error}}));
    EXPECT_TRUE(ambrel.Journal().empty());
}

TEST_F(TransferLoopTest, LibraryThatFailsToLoad)
{
    const std::string missing = (testsupport::TestRoot() / "libMissing.so").string();
    view.SetRequestLibrary(std::make_shared<CAmbrelLibrary>(missing));
    // The second line names the library tried and what the loader said.
    EXPECT_EQ(Run(), (std::vector<Message>{{"Transfer request library NOT loaded !\n" + missing +
                                                ": cannot open shared object file: No such file or directory",
                                            "ERROR", MessageIcon::Error}}));
    // The copy is made before the request, so it exists for a request that could not be made.
    EXPECT_TRUE(std::filesystem::exists(testsupport::TestRoot() / "ingestdrag.xml"));
}

TEST_F(TransferLoopTest, TcpTransferServesTheLocalClipAndStopsTheServer)
{
    std::vector<std::string> calls;
    view.SetTcpSourceFactory([&] { return MakeSource(calls, true); });
    view.Settings()._bTcpTransfer = true;
    ambrel.Script("status run:50 complete\n");
    Run();
    EXPECT_EQ(view.szAddress, "127.0.0.1:4321");
    EXPECT_EQ(calls, (std::vector<std::string>{"Listen", "Wait 20", "Send /clips/clip.mxf", "Stop"}));

    // No receiver: the message, the server stopped, the handle released.
    calls.clear();
    CapturingSink other;
    auto second = MakeView(other);
    second->SetTcpSourceFactory([&] { return MakeSource(calls, false); });
    second->Settings()._bTcpTransfer = true;
    second->DoTransfer("clip.mxf", progress);
    EXPECT_EQ(other.Messages(),
              (std::vector<Message>{{"TCP Transfer Connection NOT established !", "ERROR", MessageIcon::Error}}));
    EXPECT_EQ(calls, (std::vector<std::string>{"Listen", "Wait 20", "Stop"}));
    EXPECT_EQ(Count("ReleaseHandle"), 2u);
}

TEST_F(TransferLoopTest, ServerClipNeverUsesTheTcpServer)
{
    int made = 0;
    view.SetTcpSourceFactory([&] {
        ++made;
        return std::unique_ptr<ITcpBlockSource>();
    });
    view.Settings()._bTcpTransfer = true;
    view.Settings()._bUseRix = true;
    ambrel.Script("status complete\n");
    Run();
    EXPECT_EQ(made, 0);
    EXPECT_EQ(view.szAddress, "");
}

}  // namespace
