// The browser's transfer request through the request library's service backend: the job goes to "tessan ingest",
// which drives a receiver plug-in (the fake one of the transfer service's tests, installed as libRecalo.so), and
// the status loop reports how it ended.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "browser/CAmbrelLibrary.h"
#include "browser/CValdrinViewCore.h"
#include "outside/rix/CRixSimServer.h"
#include "tests/browser/BrowserTestKit.h"
#include "tests/reading/MXFTestMedia.h"
#include "tests/support/TestEnv.h"

namespace fs = std::filesystem;
using namespace browsertest;

namespace
{

constexpr uint32_t kFakeFrameBytes = 144000;  // what the fake receiver cuts its source into

class AmbrelTessanThreads : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = testsupport::TestRoot() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(dir / "out");
        const fs::path recalo = testsupport::TestRoot() / "lib" / "libRecalo.so";
        if (!fs::exists(recalo))
            fs::create_symlink(KORVO_FAKERECEIVER_LIBRARY, recalo);
        setenv("AMBREL_TESSAN", KORVO_TESSAN_PROGRAM, 1);
        setenv("AMBREL_OUT", (dir / "out").c_str(), 1);
        setenv("FAKE_JOURNAL", (dir / "receiver.journal").c_str(), 1);
        unsetenv("AMBREL_BACKEND");
        ValdrinTimings timings;
        timings.nPollMs = 20;
        view.SetTimings(timings);
        view.SetRequestLibrary(std::make_shared<CAmbrelLibrary>(KORVO_AMBREL_LIBRARY));
        view.SetFixedCopyPath((dir / "ingestdrag.xml").string());
    }
    void TearDown() override
    {
        for (const char* name : {"AMBREL_TESSAN", "AMBREL_OUT", "FAKE_JOURNAL", "FAKE_MODE"})
            unsetenv(name);
    }

    // The media folder tessan wrote for the first request.
    fs::path Media() const { return dir / "out" / "ingest-1"; }

    fs::path dir;
    CapturingSink sink;
    RecordingProgress progress;
    CValdrinViewCore view{sink};
};

TEST_F(AmbrelTessanThreads, LocalClipFileIsIngestedToTheEnd)
{
    fs::create_directories(dir / "clips");
    fs::copy_file(mxftest::Media("imx50_625"), dir / "clips" / "news.mxf");
    view.Settings()._szCurrentFolder = (dir / "clips").string() + "/";
    setenv("FAKE_DELAY_MS", "10", 1);  // slow enough for the service's progress line to show
    view.DoTransfer("news.mxf", progress);
    unsetenv("FAKE_DELAY_MS");
    EXPECT_EQ(sink.Messages(), (std::vector<Message>{{"Transfer Complete !", "Success", MessageIcon::Information}}));
    const std::vector<int> shown = progress.Progress();
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](int p) { return p > 0 && p < 100; }));
    EXPECT_EQ(shown.back(), 100);
    // The service got the job as the browser built it, and wrote the media the receiver gave it.
    std::ifstream journal(dir / "receiver.journal");
    std::string first;
    std::getline(journal, first);
    EXPECT_EQ(first, "create");
    EXPECT_TRUE(fs::exists(Media() / "manifest.xml"));
}

TEST_F(AmbrelTessanThreads, SimulatorClipIsIngestedAndAFailingReceiverIsReported)
{
    rixsim::CRixSimServer server;
    ASSERT_TRUE(server.Start());
    // The fake receiver reads the clip from the folder the job names: the server's folder is a local one here.
    const fs::path folder = dir / "server";
    fs::create_directories(folder);
    std::ofstream(folder / "111A.CLP", std::ios::binary) << std::string(30 * kFakeFrameBytes, '\x5A');
    const std::string table =
        "<QVCLIPTABLE><VIDEOCOMPRESSIONTYPE>3</VIDEOCOMPRESSIONTYPE><VIDEOFORMAT>1</VIDEOFORMAT>"
        "<VIDEOCOMPRESSIONRATE>50</VIDEOCOMPRESSIONRATE><IN>0</IN><OUT>50</OUT><SHORTIN>-1</SHORTIN>"
        "<SHORTOUT>-1</SHORTOUT><AUDIOMODE>3</AUDIOMODE></QVCLIPTABLE>";
    server.Store().AddFile(folder.string() + "/111A.XML", rixsim::RixSimBytes(table.begin(), table.end()));
    CValdrinSettings& s = view.Settings();
    s._bUseRix = true;
    s._szCurrentFolder = folder.string();
    s._szRixAddress = "127.0.0.1";
    s._szRixPort = std::to_string(server.FtpPort());
    view.DoTransfer("111A", progress);
    EXPECT_EQ(sink.Messages(), (std::vector<Message>{{"Transfer Complete !", "Success", MessageIcon::Information}}));

    // A receiver that fails in the middle (code 6) ends the loop with the error.
    setenv("FAKE_MODE", "error-at:3", 1);
    CapturingSink failing;
    CValdrinViewCore second{failing};
    second.Settings() = s;
    second.SetTimings(ValdrinTimings{20, 1000, 1, 1000, 2000});
    second.SetRequestLibrary(std::make_shared<CAmbrelLibrary>(KORVO_AMBREL_LIBRARY));
    second.SetFixedCopyPath((dir / "ingestdrag.xml").string());
    second.DoTransfer("111A", progress);
    EXPECT_EQ(failing.Messages(), (std::vector<Message>{{"Transfer ERROR !", "ERROR", MessageIcon::Error}}));
}

TEST_F(AmbrelTessanThreads, CancelReachesTheServiceAndItsReceiver)
{
    fs::create_directories(dir / "clips");
    fs::copy_file(mxftest::Media("imx50_625"), dir / "clips" / "news.mxf");
    view.Settings()._szCurrentFolder = (dir / "clips").string() + "/";
    setenv("FAKE_DELAY_MS", "20", 1);
    // The operator cancels once the receiver delivers.
    std::thread window([&] {
        while (!(ReadText(dir / "receiver.journal").find("read 1") != std::string::npos))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        progress.Cancel();
    });
    view.DoTransfer("news.mxf", progress);
    window.join();
    unsetenv("FAKE_DELAY_MS");
    EXPECT_EQ(sink.Messages(),
              (std::vector<Message>{{"Transfer CANCELED !", "Interrupted", MessageIcon::Exclamation}}));
    // The service passed the cancel on and still closed its plug-in.
    const std::string journal = ReadText(dir / "receiver.journal");
    EXPECT_TRUE(journal.find("cancel\n") != std::string::npos);
    EXPECT_TRUE(journal.find("close\n") != std::string::npos);
}

}  // namespace
