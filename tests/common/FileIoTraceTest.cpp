// Runs a small program that writes and reads a file at unaligned positions under strace, and checks
// that every pread64, preadv and pwrite64 on a descriptor opened with O_DIRECT has an aligned offset and
// length. By hand:
//   strace -f -e abbrev=none -e trace=openat,close,pread64,preadv,pwrite64
//   build/test/tests/common/file_io_trace_helper /var/tmp/t.bin 4096
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
// libstdc++ 12's std::regex trips a false maybe-uninitialized warning under the sanitizers.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#include <string>

#include "platform/File.h"
#include "tests/support/FileTestKit.h"

namespace
{

namespace fs = std::filesystem;

struct TraceCounts {
    int directReads = 0, directWrites = 0, vectoredReads = 0;
    std::vector<std::string> misaligned;
};

TraceCounts CheckTrace(const fs::path& trace, uint64_t sector)
{
    static const std::regex open(R"(openat\(.*\)\s*=\s*(\d+))");
    static const std::regex close(R"(close\((\d+)\))");
    static const std::regex io(R"((pread64|pwrite64)\((\d+), .*, (\d+), (\d+)\)\s*=\s*(-?\d+))");
    static const std::regex vectored(R"(preadv\((\d+), \[(.*)\], \d+, (\d+)\)\s*=\s*(-?\d+))");
    static const std::regex length(R"(iov_len=(\d+))");
    std::map<int, bool> direct;  // descriptor -> opened with O_DIRECT
    TraceCounts counts;
    std::ifstream in(trace);
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (std::regex_search(line, m, open)) {
            direct[std::stoi(m[1])] = line.find("O_DIRECT") != std::string::npos;
        } else if (std::regex_search(line, m, close)) {
            direct.erase(std::stoi(m[1]));
        } else if (std::regex_search(line, m, vectored) && direct[std::stoi(m[1])]) {
            // Every part of a vectored read is aligned, and so is its offset.
            counts.directReads++;
            counts.vectoredReads++;
            const std::string parts = m[2];
            bool aligned = std::stoull(m[3]) % sector == 0 && std::stoll(m[4]) >= 0;
            for (auto it = std::sregex_iterator(parts.begin(), parts.end(), length); it != std::sregex_iterator(); ++it)
                aligned = aligned && std::stoull((*it)[1]) % sector == 0;
            if (!aligned)
                counts.misaligned.push_back(line);
        } else if (std::regex_search(line, m, io) && direct[std::stoi(m[2])]) {
            uint64_t length = std::stoull(m[3]), offset = std::stoull(m[4]);
            (m[1] == "pread64" ? counts.directReads : counts.directWrites)++;
            if (length % sector != 0 || offset % sector != 0 || std::stoll(m[5]) < 0)
                counts.misaligned.push_back(line);
        }
    }
    return counts;
}

class FileIoTrace : public ::testing::TestWithParam<uint32_t>
{
};

TEST_P(FileIoTrace, DirectHandlesSeeOnlyAlignedOffsetsAndLengths)
{
    fs::path dir = testsupport::FreshDir("trace");
    if (!platform::File::IsLocalDisk(dir.string()))
        GTEST_SKIP() << "the test folder is not on a local disk, so nothing is opened with O_DIRECT";
    if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "strace is missing or ptrace is not permitted";
    fs::path trace = dir / "trace.txt";
    // LeakSanitizer cannot run under ptrace.
    std::string command =
        "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -s 0 -e abbrev=none -e trace=openat,close,pread64,preadv,pwrite64 "
        "-o " +
        trace.string() + " " + KORVO_TRACE_HELPER + " " + (dir / "traced.bin").string() + " " +
        std::to_string(GetParam()) + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    TraceCounts counts = CheckTrace(trace, GetParam());
    EXPECT_GT(counts.directReads, 5);
    EXPECT_GT(counts.directWrites, 5);
    EXPECT_GT(counts.vectoredReads, 0);
    for (const std::string& line : counts.misaligned)
        ADD_FAILURE() << "misaligned: " << line;
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, FileIoTrace, ::testing::Values(512u, 4096u),
                         [](const auto& info) { return "Sector" + std::to_string(info.param); });

}  // namespace
