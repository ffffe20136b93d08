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

#include "platform/Paths.h"
#include "tests/support/FileTestKit.h"
#include "writers/TimeUUID.h"

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
    CreateTimeUUID(&a);
    CreateTimeUUID(&b);
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
    CreateTimeUUID(&first);
    std::string state = testsupport::ReadWholeFile(platform::ToLocalPath("C:\\state"));
    ASSERT_EQ(state.size(), 16u);
    const uint64_t ahead = Now100ns() + 3600ull * 10000000;
    for (int i = 0; i < 8; ++i)
        state[i] = static_cast<char>(ahead >> (8 * i));
    testsupport::WriteWholeFile(platform::ToLocalPath("C:\\state"), state);
    // Stamps reserved earlier are given out for a few milliseconds at most.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    TimeUUID next;
    CreateTimeUUID(&next);
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
                        CreateTimeUUID(&uuid);
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

}  // namespace
