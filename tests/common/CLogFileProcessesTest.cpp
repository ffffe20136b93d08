// Several processes, each with several threads, append to one log file through a roll-over.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/CLogFile.h"
#include "tests/common/LogText.h"

namespace fs = std::filesystem;
using namespace logtest;

namespace
{

constexpr int kProcesses = 3;
constexpr int kThreads = 3;
constexpr int kLinesPerThread = 300;
// About 66 bytes a line, 2700 lines: between one and two caps, so exactly one roll-over happens
// and the backup keeps everything written before it.
constexpr uint32_t kCap = 128 * 1024;

// One writer process: waits for the start signal, then appends from several threads.
[[noreturn]] void RunWriter(const fs::path& path, int process, int startFd)
{
    CLogFile log;
    char go = 0;
    bool ok = log.Open(path.string(), kCap) == 1 && read(startFd, &go, 1) == 1;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; ok && t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLinesPerThread; ++i)
                failures[t] += log.Log("p%d t%d n%04d ........................", process, t, i) == 1 ? 0 : 1;
        });
    for (auto& th : threads)
        th.join();
    int failed = 0;
    for (int f : failures)
        failed += f;
    log.Close();
    _exit(ok && failed == 0 ? 0 : 1);
}

}  // namespace

TEST(CLogFileProcesses, EveryLineWholeAndNoneLostAcrossARollOver)
{
    fs::path dir = FreshDir("processes");
    fs::path path = dir / "Shared.log";
    CLogFile::SetRollOverCheckMs(0);
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(start[1]);
            RunWriter(path, p, start[0]);
        }
        children.push_back(pid);
    }
    close(start[0]);
    // Let all of them run at once.
    ASSERT_EQ(write(start[1], std::string(kProcesses, 'g').data(), kProcesses), kProcesses);
    close(start[1]);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    CLogFile::SetRollOverCheckMs(1000);

    ASSERT_TRUE(fs::exists(dir / "Shared.lo~"));
    EXPECT_LE(fs::file_size(dir / "Shared.lo~"), kCap + 1024);
    EXPECT_LE(fs::file_size(path), kCap);
    // Backup then current file: every line whole, each thread's lines all there and in order.
    std::map<std::pair<int, int>, int> next;
    int opened = 0, closed = 0;
    for (const fs::path& file : {dir / "Shared.lo~", path}) {
        for (const std::string& line : Lines(ReadAll(file))) {
            if (line.empty() || line == kStars)
                continue;
            std::string msg = Message(line);
            if (msg == "* LOG FILE OPENED *" || msg == "* LOG FILE CLOSED *") {
                (msg[11] == 'O' ? opened : closed)++;
                continue;
            }
            int p = -1, t = -1, n = -1;
            char tail[64] = {};
            ASSERT_EQ(std::sscanf(msg.c_str(), "p%d t%d n%d %63s", &p, &t, &n, tail), 4) << line;
            ASSERT_EQ(std::string(tail), std::string(24, '.')) << line;
            ASSERT_EQ(n, next[std::make_pair(p, t)]++) << line;
        }
    }
    EXPECT_EQ(opened, kProcesses);
    EXPECT_EQ(closed, kProcesses);
    ASSERT_EQ(next.size(), size_t{kProcesses * kThreads});
    for (const auto& [who, count] : next)
        EXPECT_EQ(count, kLinesPerThread) << who.first << "/" << who.second;
}
