// The browser's transfer request through the request library's service backend, with the real pieces: the job the
// browser builds goes to "tessan ingest", which loads the real libRecalo.so as the request library finds it, and
// the status loop tells how it ended and, when it failed, why.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "browser/CAmbrelLibrary.h"
#include "browser/CTcpBlockSender.h"
#include "browser/CValdrinViewCore.h"
#include "outside/qo/Generic/HelperIF.h"
#include "outside/qo/Generic/MobIF.h"
#include "outside/tessan/CPlayoutTransfer.h"
#include "platform/Socket.h"
#include "tests/browser/BrowserTestKit.h"
#include "tests/browser/RealIngestKit.h"
#include "tests/support/TestEnv.h"

namespace fs = std::filesystem;
using namespace browsertest;

namespace
{

// A TCP block stream of the test's own: the clip file's 2 MB pieces, 100 ms apart, the first count of them; then
// the connection is closed.
class TricklingSource : public ITcpBlockSource
{
public:
    TricklingSource(size_t pieces, std::atomic<bool>& started) : _nPieces(pieces), _started(started) {}
    ~TricklingSource() override { Stop(); }
    bool Listen(std::string& address) override
    {
        if (!_listener.Listen("127.0.0.1", 0, 1))
            return false;
        address = "127.0.0.1:" + std::to_string(_listener.LocalPort());
        return true;
    }
    bool WaitForReceiver(uint32_t timeoutMs) override
    {
        _peer = _listener.Accept(timeoutMs);
        return _peer.IsValid();
    }
    bool StartSending(const std::string& path) override
    {
        _file = parvexclip::ReadFile(path);
        _thread = std::thread([this] {
            constexpr size_t kPiece = 0x200000;
            for (size_t n = 1; n <= _nPieces && !_bStop && (n + 1) * kPiece <= _file.size(); ++n) {
                if (!_peer.SendAll(_file.data() + n * kPiece, kPiece, 10000))
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            _peer.Shutdown();
        });
        _started = true;
        return true;
    }
    void Stop() override
    {
        _bStop = true;
        if (_thread.joinable())
            _thread.join();
        _peer.Close();
    }

private:
    size_t _nPieces;
    std::atomic<bool>& _started;
    std::atomic<bool> _bStop{false};
    parvexclip::Bytes _file;
    platform::Socket _listener;
    platform::Socket _peer;
    std::thread _thread;
};

class AmbrelTessanThreads : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = testsupport::TestRoot() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(dir / "clips");
        fs::create_directories(dir / "out");
        writer = std::make_unique<parvexclip::ClipWriter>(realingest::kClip);
        ASSERT_TRUE(writer->WriteAll((dir / "clips" / "news.mxf").string()));
        realingest::UseRealService(dir / "out");
        view.SetTimings(ValdrinTimings{20, 10000, 1, 1000, 2000});
        view.SetRequestLibrary(std::make_shared<CAmbrelLibrary>(KORVO_AMBREL_LIBRARY));
        view.SetFixedCopyPath((dir / "ingestdrag.xml").string());
        view.Settings()._szCurrentFolder = (dir / "clips").string() + "/";
        view.Settings()._b24BitsAudio = true;
    }
    void TearDown() override
    {
        realingest::ForgetRealService();
        setenv("KORVO_LIBRARY_DIR", (testsupport::TestRoot() / "lib").c_str(), 1);
    }

    fs::path Media(int n) const { return dir / "out" / ("ingest-" + std::to_string(n)); }

    fs::path dir;
    std::unique_ptr<parvexclip::ClipWriter> writer;
    CapturingSink sink;
    RecordingProgress progress;
    CValdrinViewCore view{sink};
};

TEST_F(AmbrelTessanThreads, AClipFileIsIngestedWholeByTheRealReceiver)
{
    view.DoTransfer("news.mxf", progress);
    EXPECT_EQ(sink.Messages(), (std::vector<Message>{{"Transfer Complete !", "Success", MessageIcon::Information}}));
    EXPECT_EQ(progress.Progress().back(), 100);
    realingest::ExpectMedia(*writer, Media(1), 0, realingest::kClip.nPictures);
    EXPECT_NE(realingest::ManifestResult(Media(1)).find("complete=\"1\" frames=\"" +
                                                        std::to_string(realingest::kClip.nPictures) + "\""),
              std::string::npos);
}

TEST_F(AmbrelTessanThreads, TheReceiverIsFoundBesideTessanOrTheRequestSaysWhereItLooked)
{
    // As the README's recipe starts the browser: the library folder is libAmbrel.so's, which holds no receiver.
    unsetenv("AMBREL_RECEIVER");
    setenv("KORVO_LIBRARY_DIR", fs::path(KORVO_AMBREL_LIBRARY).parent_path().c_str(), 1);
    view.DoTransfer("news.mxf", progress);
    ASSERT_EQ(sink.Messages().size(), 1u) << ::testing::PrintToString(sink.Messages());
    const Message refused = sink.Messages()[0];
    EXPECT_EQ(refused.caption, "ERROR");
    EXPECT_TRUE(
        refused.text.starts_with("------ FAILED to Init API !!\nservice not started: libRecalo.so is in none "
                                 "of ["))
        << refused.text;
    EXPECT_NE(refused.text.find(fs::path(KORVO_AMBREL_LIBRARY).parent_path().string()), std::string::npos);
    EXPECT_NE(refused.text.find("set AMBREL_RECEIVER"), std::string::npos);

    // The service's own folder, as installed: the program and its plug-in side by side.
    const fs::path installed = dir / "installed";
    fs::create_directories(installed);
    fs::create_symlink(KORVO_TESSAN_PROGRAM, installed / "tessan");
    fs::create_symlink(KORVO_RECALO_LIBRARY, installed / "libRecalo.so");
    setenv("AMBREL_TESSAN", (installed / "tessan").c_str(), 1);
    CapturingSink second;
    CValdrinViewCore again{second};
    again.Settings() = view.Settings();
    again.SetTimings(ValdrinTimings{20, 10000, 1, 1000, 2000});
    again.SetRequestLibrary(std::make_shared<CAmbrelLibrary>(KORVO_AMBREL_LIBRARY));
    again.SetFixedCopyPath((dir / "ingestdrag.xml").string());
    again.DoTransfer("news.mxf", progress);
    EXPECT_EQ(second.Messages(), (std::vector<Message>{{"Transfer Complete !", "Success", MessageIcon::Information}}));
    realingest::ExpectMedia(*writer, Media(1), 0, realingest::kClip.nPictures);
}

TEST_F(AmbrelTessanThreads, EarlierIngestsInTheOutputFolderAreNeverOverwritten)
{
    // Another process's ingest 1 and a job 2 without media.
    fs::create_directories(Media(1));
    std::ofstream(Media(1) / "manifest.xml") << "earlier";
    std::ofstream(dir / "out" / "job-1.xml") << "earlier job";
    std::ofstream(dir / "out" / "job-2.xml") << "earlier job 2";
    view.DoTransfer("news.mxf", progress);
    EXPECT_EQ(ReadText(Media(1) / "manifest.xml"), "earlier");
    EXPECT_EQ(ReadText(dir / "out" / "job-1.xml"), "earlier job");
    EXPECT_EQ(ReadText(dir / "out" / "job-2.xml"), "earlier job 2");
    EXPECT_FALSE(fs::exists(Media(2)));
    // The third number was free: the job as the browser built it, and the media beside it.
    EXPECT_NE(ReadText(dir / "out" / "job-3.xml").find("<lookupname>news.mxf</lookupname>"), std::string::npos);
    EXPECT_TRUE(fs::exists(Media(3) / "manifest.xml"));
}

TEST_F(AmbrelTessanThreads, AFailedIngestSaysWhyOnASecondLine)
{
    // The browser's stream ends after the first quarter of the clip's 8 MB block.
    std::atomic<bool> started{false};
    view.Settings()._bTcpTransfer = true;
    view.SetTcpSourceFactory([&started] { return std::make_unique<TricklingSource>(1, started); });
    view.DoTransfer("news.mxf", progress);
    ASSERT_EQ(sink.Messages().size(), 1u) << ::testing::PrintToString(sink.Messages());
    const Message failed = sink.Messages()[0];
    EXPECT_EQ(failed.caption, "ERROR");
    EXPECT_TRUE(failed.text.starts_with("Transfer ERROR !\ningest failed: 0 of ")) << failed.text;
    EXPECT_NE(failed.text.find(" frames, code 6, plug-in: KorvoReceiver: End Of Data"), std::string::npos)
        << failed.text;
}

TEST_F(AmbrelTessanThreads, ACancelReachesTheReceiverAndTheMessageSaysTheClipIsNotWhole)
{
    std::atomic<bool> started{false};
    view.Settings()._bTcpTransfer = true;
    view.SetTcpSourceFactory([&started] { return std::make_unique<TricklingSource>(4, started); });
    std::atomic<bool> ended{false};
    std::thread window([&] {
        // The operator cancels as soon as the clip starts to flow (or at once, should the transfer end first).
        while (!started && !ended)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        progress.Cancel();
    });
    view.DoTransfer("news.mxf", progress);
    ended = true;
    window.join();
    ASSERT_EQ(sink.Messages().size(), 1u) << ::testing::PrintToString(sink.Messages());
    const Message cancelled = sink.Messages()[0];
    EXPECT_EQ(cancelled.caption, "Interrupted");
    EXPECT_TRUE(cancelled.text.starts_with("Transfer CANCELED !\nThe clip did not come in whole: ingest cancelled: "))
        << cancelled.text;
    EXPECT_NE(realingest::ManifestResult(Media(1)).find("complete=\"0\""), std::string::npos);
}

TEST_F(AmbrelTessanThreads, ACancelAfterTheLastFrameReportsTheWholeClip)
{
    // The cancel is pressed once the service has recorded the clip complete, before or after it has ended.
    // However slow the ingest, the window waits for the manifest's claim (or for the transfer's end, which fails
    // the test below), never for a fixed time.
    std::atomic<bool> ended{false};
    std::thread window([&] {
        while (!ended && realingest::ManifestResult(Media(1)).find("complete=\"1\"") == std::string::npos)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        progress.Cancel();
    });
    view.DoTransfer("news.mxf", progress);
    ended = true;
    window.join();
    EXPECT_EQ(sink.Messages(),
              (std::vector<Message>{{"Transfer Complete !\nThe cancel came after the last frame: the whole clip was "
                                     "ingested.",
                                     "Success", MessageIcon::Information}}));
    realingest::ExpectMedia(*writer, Media(1), 0, realingest::kClip.nPictures);
}

// The settings of the README's recipe for the browser, taken from the README itself with its build tree mapped to
// this one: the request library they give finds the receiver and the clip is ingested.
TEST_F(AmbrelTessanThreads, TheReadmeRecipesSettingsIngestAClip)
{
    const std::string readme = ReadText(fs::path(KORVO_SOURCE_DIR) / "README.md");
    const size_t section = readme.find("## Valdrin against the simulator");
    ASSERT_NE(section, std::string::npos);
    const size_t block = readme.find("```sh\n", section);
    const size_t end = readme.find("```", block + 6);
    ASSERT_LT(end, readme.find("\n## ", section + 3));
    std::string recipe = readme.substr(block + 6, end - block - 6);
    for (size_t at; (at = recipe.find("\\\n")) != std::string::npos;)
        recipe.replace(at, 2, " ");
    // The browser's command line: its settings, then the program.
    const size_t valdrin = recipe.find("browser/ui/Valdrin");
    ASSERT_NE(valdrin, std::string::npos);
    const size_t lineStart = recipe.rfind('\n', valdrin) == std::string::npos ? 0 : recipe.rfind('\n', valdrin) + 1;
    const size_t line = recipe.find("KORVO_LIBRARY_DIR=", lineStart);
    ASSERT_LT(line, valdrin);
    std::istringstream words(recipe.substr(line, recipe.find('\n', line) - line));
    const fs::path build = fs::path(KORVO_AMBREL_LIBRARY).parent_path().parent_path().parent_path();
    std::vector<std::string> set;
    std::string program;
    for (std::string word; words >> word;) {
        const size_t equals = word.find('=');
        std::string value = equals == std::string::npos ? word : word.substr(equals + 1);
        if (value.starts_with("build/main/") || value.starts_with("build/test/"))
            value = (build / value.substr(11)).string();
        if (equals == std::string::npos) {
            program = value;
            break;
        }
        set.push_back(word.substr(0, equals));
        setenv(set.back().c_str(), value.c_str(), 1);
    }
    EXPECT_EQ(program, (build / "browser" / "ui" / "Valdrin").string());
    EXPECT_EQ(set, (std::vector<std::string>{"KORVO_LIBRARY_DIR", "AMBREL_TESSAN", "AMBREL_RECEIVER"}));
    // The browser loads the request library by its bare name, from that folder.
    view.SetRequestLibrary(std::make_shared<CAmbrelLibrary>());
    view.DoTransfer("news.mxf", progress);
    EXPECT_EQ(sink.Messages(), (std::vector<Message>{{"Transfer Complete !", "Success", MessageIcon::Information}}));
    realingest::ExpectMedia(*writer, Media(1), 0, realingest::kClip.nPictures);
}

// Waits for a condition polled every 5 ms, at most 20 s.
bool WaitFor(const std::function<bool()>& done)
{
    for (int i = 0; i < 4000; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

// The composition an ingest wrote, with the target a playout needs: a copy beside it.
fs::path CompositionWithTarget(const fs::path& media, const fs::path& target)
{
    const std::string path = (media.parent_path() / (media.filename().string() + "-composition.xml")).string();
    fs::copy_file(media / "composition.xml", path, fs::copy_options::overwrite_existing);
    Qo::Generic::HelperIF* helper = Qo::Generic::CreateHelper(path.c_str());
    Qo::Generic::ContainerBuffer* buffer = helper->BufferFromFile(path.c_str());
    Qo::Generic::ContainerIF* container = helper->OpenContainer(buffer, Qo::Generic::kOpenReadWrite);
    if (container) {
        Qo::Generic::MobIF* mob = container->OpenMob(container->GetCompositionMobIDs(true).at(0));
        mob->SetAttribute("_USER", "TGT-Address", target.c_str());
        container->ReleaseMob(mob);
        helper->ReturnContainer(container);
        buffer->WriteToFile(path.c_str());
    }
    Qo::Generic::DeleteHelper(helper);
    return path;
}

// A second ingest of the clip into the folder of a complete one, ended by a signal at several moments of its
// stream: the folder never keeps the earlier ingest's claim over media the second one has begun to replace, and a
// playout of it with the earlier composition is whole or refused before a frame goes.
// Processes, not threads, meet here: the thread checker's run is spared these eight ingests.
class AmbrelTessanReingest : public AmbrelTessanThreads
{
};

TEST_F(AmbrelTessanReingest, AReingestEndedMidwayLeavesNoClaimOverTheMediaItReplaced)
{
    // The browser's ingest over a TCP block stream: a complete ingest, and the job the browser wrote.
    std::atomic<bool> started{false};
    view.Settings()._bTcpTransfer = true;
    view.SetTcpSourceFactory([&started] { return std::make_unique<TricklingSource>(100, started); });
    view.DoTransfer("news.mxf", progress);
    ASSERT_EQ(sink.Messages(), (std::vector<Message>{{"Transfer Complete !", "Success", MessageIcon::Information}}));
    const fs::path earlier = Media(1);
    const std::string job = ReadText(dir / "out" / "job-1.xml");
    const size_t port = job.find("<KorvoTCPPort>");
    ASSERT_NE(port, std::string::npos) << job;
    const size_t portEnd = job.find("</KorvoTCPPort>", port);
    const std::string earlierPictures = ReadText(earlier / "video.m2v");
    fs::create_directories(dir / "target");
    const fs::path composition = CompositionWithTarget(earlier, dir / "target");
    const parvexclip::Bytes clip = parvexclip::ReadFile(dir / "clips" / "news.mxf");
    const size_t pieces = (clip.size() - TCPBlockSender::kStreamStart) / TCPBlockSender::kPieceSize;
    ASSERT_GE(pieces, 8u);

    struct Case {
        const char* name;
        int signal;
        size_t pieces;  // sent before the signal; the stream then holds still
    };
    const Case cases[] = {
        {"killed once connected", SIGKILL, 0},
        {"killed after the first block", SIGKILL, 4},
        {"killed before the last piece", SIGKILL, 7},
        {"terminated after the first block", SIGTERM, 4},
        {"terminated before the last piece", SIGTERM, 7},
        {"cancelled once connected", SIGINT, 0},
        {"cancelled after the first block", SIGINT, 4},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path media = dir / "again" / std::to_string(++n);
        fs::create_directories(media.parent_path());
        fs::copy(earlier, media, fs::copy_options::recursive);
        platform::Socket listener;
        ASSERT_TRUE(listener.Listen("127.0.0.1", 0, 1));
        std::string text = job;
        text.replace(port, portEnd - port, "<KorvoTCPPort>127.0.0.1:" + std::to_string(listener.LocalPort()));
        const fs::path jobFile = media.parent_path() / (std::to_string(n) + ".xml");
        std::ofstream(jobFile) << text;
        const fs::path said = media.parent_path() / (std::to_string(n) + ".out");
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            dup2(STDOUT_FILENO, STDERR_FILENO);
            execl(KORVO_TESSAN_PROGRAM, KORVO_TESSAN_PROGRAM, "ingest", jobFile.c_str(), "--out", media.c_str(),
                  "--plugin", KORVO_RECALO_LIBRARY, static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_GT(pid, 0);
        platform::Socket peer = listener.Accept(20000);
        bool sent = peer.IsValid();
        for (size_t i = 0; sent && i < c.pieces; ++i)
            sent = peer.SendAll(clip.data() + TCPBlockSender::kStreamStart + i * TCPBlockSender::kPieceSize,
                                TCPBlockSender::kPieceSize, 20000);
        EXPECT_TRUE(sent);
        // Once frames flow, the earlier ingest is being replaced.
        if (c.pieces > 0)
            EXPECT_TRUE(WaitFor([&] { return !fs::exists(media / "manifest.xml"); }));
        kill(pid, c.signal);
        int status = 0;
        const bool ended = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; });
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        EXPECT_TRUE(ended) << ReadText(said);
        peer.Close();

        const std::string manifest = realingest::ManifestResult(media);
        const bool claim = manifest.find("complete=\"1\"") != std::string::npos;
        if (claim) {
            // Ended before the media were touched: the earlier ingest stands whole.
            EXPECT_EQ(c.pieces, 0u);
            EXPECT_TRUE(ReadText(media / "video.m2v") == earlierPictures);
            EXPECT_TRUE(fs::exists(media / "composition.xml"));
        } else {
            EXPECT_FALSE(fs::exists(media / "composition.xml"));
            if (c.signal != SIGKILL)
                EXPECT_NE(manifest.find("complete=\"0\""), std::string::npos) << manifest;
        }
        if (c.signal != SIGKILL)
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << ReadText(said);
        tessan::CPlayoutTransfer playout(composition.string(), media.string());
        playout.SetPlugin(KORVO_FAKESENDER_LIBRARY);
        const tessan::TransferResult played = playout.Run();
        EXPECT_EQ(played.complete, claim) << played.hostText;
        if (!claim)
            EXPECT_EQ(played.frames, 0) << played.hostText;
    }
}

}  // namespace
