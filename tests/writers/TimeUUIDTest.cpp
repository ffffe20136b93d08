#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/NamedMutex.h"
#include "platform/Paths.h"
#include "tests/support/FileTestKit.h"
#include "tests/writers/WriterTestMedia.h"
#include "writers/op1a/CIMXMXFWriter.h"
#include "writers/op1a/TimeUUID.h"

namespace
{
namespace fs = std::filesystem;

std::string Key(const TimeUUID& uuid)
{
    return std::string(reinterpret_cast<const char*>(uuid.bytes), 16);
}

uint64_t Now100ns()
{
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100) +
           0x01B21DD213814000ull;
}

TEST(TimeUUID, VersionVariantAndNodeFromTheNodeFile)
{
    TimeUUID a, b;
    ASSERT_TRUE(CreateTimeUUID(&a));
    ASSERT_TRUE(CreateTimeUUID(&b));
    EXPECT_EQ(a.bytes[7] >> 4, 1);       // version 1 (time_hi_and_version little-endian)
    EXPECT_EQ(a.bytes[8] & 0xC0, 0x80);  // RFC 4122 variant
    EXPECT_GT(TimeUUIDTimestamp(b), TimeUUIDTimestamp(a));
    const uint64_t now = Now100ns();
    EXPECT_LT(now - TimeUUIDTimestamp(a), 10000000u * 60);
    const std::string node = testsupport::ReadWholeFile(platform::ToLocalPath("C:\\nodeid"));
    ASSERT_EQ(node.size(), 6u);
    EXPECT_EQ(std::memcmp(a.bytes + 10, node.data(), 6), 0);
    EXPECT_NE(a.bytes[10] & 0x80, 0);
    // The state file holds the last stamp, node and clock sequence.
    const std::string state = testsupport::ReadWholeFile(platform::ToLocalPath("C:\\state"));
    ASSERT_EQ(state.size(), 16u);
    uint64_t stamp = 0;
    for (int i = 7; i >= 0; --i)
        stamp = stamp << 8 | static_cast<uint8_t>(state[i]);
    // The stored stamp is the last one reserved, never below one handed out.
    EXPECT_GE(stamp, TimeUUIDTimestamp(b));
    EXPECT_EQ(state.substr(8, 6), node);
}

TEST(TimeUUID, StoredStampAheadOfTheClockIsContinued)
{
    // A state file left by an earlier run whose stamps lie ahead (a clock set back since).
    TimeUUID first;
    ASSERT_TRUE(CreateTimeUUID(&first));
    std::string state = testsupport::ReadWholeFile(platform::ToLocalPath("C:\\state"));
    ASSERT_EQ(state.size(), 16u);
    const uint64_t ahead = Now100ns() + 3600ull * 10000000;
    for (int i = 0; i < 8; ++i)
        state[i] = static_cast<char>(ahead >> (8 * i));
    testsupport::WriteWholeFile(platform::ToLocalPath("C:\\state"), state);
    // Stamps reserved earlier are given out for a few milliseconds at most.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    TimeUUID next;
    ASSERT_TRUE(CreateTimeUUID(&next));
    EXPECT_EQ(TimeUUIDTimestamp(next), ahead + 1);
    EXPECT_EQ(std::memcmp(next.bytes + 8, first.bytes + 8, 2), 0);  // same clock sequence
}

TEST(TimeUUIDThreads, NoneRepeatedAcrossProcessesAndThreads)
{
    constexpr int kProcesses = 4, kThreads = 4, kEach = 10000;
    const fs::path dir = testsupport::FreshDir("uuids");
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::vector<std::vector<TimeUUID>> made(kThreads, std::vector<TimeUUID>(kEach));
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t)
                threads.emplace_back([&made, t] {
                    for (TimeUUID& uuid : made[t])
                        if (!CreateTimeUUID(&uuid))
                            _exit(3);
                });
            for (auto& thread : threads)
                thread.join();
            std::string bytes;
            for (const auto& list : made)
                for (const TimeUUID& uuid : list)
                    bytes += Key(uuid);
            testsupport::WriteWholeFile(dir / std::to_string(p), bytes);
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::set<std::string> seen;
    for (int p = 0; p < kProcesses; ++p) {
        const std::string bytes = testsupport::ReadWholeFile(dir / std::to_string(p));
        ASSERT_EQ(bytes.size(), 16u * kThreads * kEach);
        for (size_t at = 0; at < bytes.size(); at += 16)
            seen.insert(bytes.substr(at, 16));
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kProcesses * kThreads * kEach));
}

TEST(TimeUUID, MutexHeldByAnotherProcessFailsInsteadOfGoingOnWithoutIt)
{
    TimeUUID before;
    ASSERT_TRUE(CreateTimeUUID(&before));
    int toParent[2], toChild[2];
    ASSERT_EQ(pipe(toParent), 0);
    ASSERT_EQ(pipe(toChild), 0);
    // Another process holds the generator's mutex (its lock file) until the parent has tried.
    const std::string script =
        "import fcntl, os, struct, sys\n"
        "fd = os.open(sys.argv[1], os.O_RDWR | os.O_CREAT, 0o666)\n"
        "fcntl.fcntl(fd, fcntl.F_OFD_SETLK, struct.pack('hhqqi4x', fcntl.F_WRLCK, 0, 0, 0, 0))\n"
        "sys.stdout.write('L'); sys.stdout.flush(); sys.stdin.read(1)\n";
    const std::string lockFile = platform::NamedMutex::LockFilePath("KorvoTimeUUIDMutex_");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(toChild[0], 0);
        dup2(toParent[1], 1);
        execl("/usr/bin/python3", "python3", "-c", script.c_str(), lockFile.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    char byte = 0;
    ASSERT_EQ(read(toParent[0], &byte, 1), 1);
    ASSERT_EQ(byte, 'L');
    SetTimeUUIDLockWait(200);
    // Stamps reserved before the lock was taken are still given out; the next block needs the mutex.
    TimeUUID blocked;
    bool failed = false;
    for (int i = 0; i < 2048 && !failed; ++i) {
        std::memset(blocked.bytes, 0xAB, sizeof blocked.bytes);
        failed = !CreateTimeUUID(&blocked);
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(Key(blocked), std::string(16, '\0'));
    // The OP1a writer refuses to begin a file whose identifiers it cannot make unique.
    {
        testsupport::LogCapture log("");
        CIMXMXFWriter writer(24, (writertest::SampleDir().string() + "/").c_str(), 0);
        ASSERT_EQ(writer.Open((testsupport::FreshDir("uuid-imx") / "clip.mxf").c_str()), 0);
        MediaWriterClipInfo info;
        info.videoBitRate = 50000000;
        EXPECT_EQ(writer.Begin(info), CIMXMXFWriter::kNoIdentifier);
        EXPECT_TRUE(log.Has("CIMXMXFWriter: FAILED to make unique identifiers (identifier lock not had) !"));
        writer.Close();
    }
    (void)!write(toChild[1], "x", 1);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]})
        close(fd);
    SetTimeUUIDLockWait(5000);
    // Once the mutex is free again the generator goes on above every stamp given out.
    TimeUUID after;
    ASSERT_TRUE(CreateTimeUUID(&after));
    EXPECT_GT(TimeUUIDTimestamp(after), TimeUUIDTimestamp(before));
}

}  // namespace
