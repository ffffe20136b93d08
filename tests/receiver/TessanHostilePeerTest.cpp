// The transfer service with the real receiver against FTP peers that never let an ingest start: SIGTERM ends
// each within seconds, with a non-zero status, the cancel reported and no claim of a complete clip.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/outside/TessanTestKit.h"
#include "tests/support/FileTestKit.h"
#include "tests/support/ScriptedFtpServer.h"

namespace
{
namespace fs = std::filesystem;
using testsupport::ScriptedFtpServer;
using Clock = std::chrono::steady_clock;

// The exit status, or -1 when the process did not end within the wait (it is then killed).
int WaitExit(pid_t pid, std::chrono::milliseconds wait)
{
    const auto end = Clock::now() + wait;
    int status = 0;
    while (Clock::now() < end) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

TEST(TessanHostilePeer, SigtermEndsAnIngestThatCannotStart)
{
    const auto& cases = testsupport::kHostileFtpPeers;
    const fs::path dir = testsupport::FreshDir("TessanHostilePeer");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedFtpServer server(c.welcome, nullptr);
        server.SetManner(c.manner, 2000);
        const fs::path job = dir / "job.xml";
        const fs::path out = dir / "out";
        fs::remove_all(out);
        testsupport::WriteWholeFile(job, tessantest::JobText({{"KorvoFileType", "RixFTP"},
                                                              {"KorvoRixServer", server.Address()},
                                                              {"directory", "/clips/"},
                                                              {"lookupname", "004512A_news.CLP"},
                                                              {"KorvoDataType", "IMX"}}));
        const std::string stdoutPath = (dir / "stdout.txt").string();
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
            execl(KORVO_TESSAN_PROGRAM, KORVO_TESSAN_PROGRAM, "ingest", job.c_str(), "--out", out.c_str(), "--plugin",
                  KORVO_RECALO_LIBRARY, static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_GT(pid, 0);
        // Once the receiver has reached the peer, and a moment on.
        for (const auto until = Clock::now() + std::chrono::seconds(60);
             server.Connections() == 0 && Clock::now() < until;)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        kill(pid, SIGTERM);
        const auto start = Clock::now();
        EXPECT_EQ(WaitExit(pid, std::chrono::seconds(10)), 1);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
        const std::string said = testsupport::ReadWholeFile(stdoutPath);
        EXPECT_NE(said.find("tessan: ingest cancelled"), std::string::npos) << said;
        EXPECT_NE(said.find("code 7, plug-in: Cancelled"), std::string::npos) << said;
        EXPECT_EQ(testsupport::ReadWholeFile(out / "manifest.xml").find("complete=\"1\""), std::string::npos);
        EXPECT_GE(server.Connections(), 1);
    }
}

}  // namespace
