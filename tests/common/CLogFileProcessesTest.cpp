// Several processes, each with several threads, append to one log file through a roll-over.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
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

// Forks count processes that each run body (process index, a call that waits for the common start)
// and end with its result; all start at once. Checks that each one succeeded.
void RunTogether(int count, const std::function<bool(int, const std::function<bool()>&)>& body)
{
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < count; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(start[1]);
            _exit(body(p,
                       [&] {
                           char go = 0;
                           return read(start[0], &go, 1) == 1;
                       })
                      ? 0
                      : 1);
        }
        children.push_back(pid);
    }
    close(start[0]);
    ASSERT_EQ(write(start[1], std::string(count, 'g').data(), count), count);
    close(start[1]);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

// One writer process: opens the log, waits for the start, then appends from several threads.
bool RunWriter(const fs::path& path, int process, const std::function<bool()>& awaitStart)
{
    CLogFile log;
    bool ok = log.Open(path.string(), kCap) == 1 && awaitStart();
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
    return ok && failed == 0;
}

}  // namespace

TEST(CLogFileProcesses, EveryLineWholeAndNoneLostAcrossARollOver)
{
    fs::path dir = FreshDir("processes");
    fs::path path = dir / "Shared.log";
    CLogFile::SetRollOverCheckMs(0);
    RunTogether(kProcesses,
                [&](int p, const std::function<bool()>& awaitStart) { return RunWriter(path, p, awaitStart); });
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

TEST(CLogFileProcesses, ProcessesOpeningAFullFileAtOnceRollItOverOnce)
{
    constexpr int kOpeners = 4;
    constexpr uint32_t kSmallCap = 4096;
    const std::string old = std::string(kSmallCap, 'o') + "\r\n";
    // Each round has its own chance to interleave the openers badly.
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        fs::path dir = FreshDir("openers");
        fs::path path = dir / "Full.log";
        {
            std::ofstream out(path, std::ios::binary);
            out << old;
        }
        RunTogether(kOpeners, [&](int, const std::function<bool()>& awaitStart) {
            CLogFile log;
            return awaitStart() && log.Open(path.string(), kSmallCap) == 1;
        });
        EXPECT_EQ(ReadAll(dir / "Full.lo~"), old);
        // The new file holds every opener's lines and nothing of the old content.
        std::string current = ReadAll(path);
        EXPECT_EQ(current.find('o' + std::string(8, 'o')), std::string::npos);
        int opened = 0;
        for (const std::string& line : Lines(current))
            opened += Message(line) == "* LOG FILE OPENED *";
        EXPECT_EQ(opened, kOpeners);
    }
}
