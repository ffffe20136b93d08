#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/CLogFile.h"
#include "platform/NamedMutex.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "tests/common/LogText.h"

namespace fs = std::filesystem;
using namespace logtest;
using platform::RegHive;
using platform::Registry;

namespace
{

// Every test starts with the roll-over check at its usual second.
class CLogFileTest : public ::testing::Test
{
protected:
    void TearDown() override { CLogFile::SetRollOverCheckMs(1000); }
};

std::vector<std::string> Messages(const fs::path& path)
{
    std::vector<std::string> out;
    for (const std::string& line : Lines(ReadAll(path)))
        out.push_back(line.empty() || line == kStars ? line : Message(line));
    return out;
}

const std::vector<std::string> kOpenBanner = {"", kStars, "* LOG FILE OPENED *", kStars};

}  // namespace

TEST_F(CLogFileTest, BannerStampedLinesAndClosingLine)
{
    fs::path path = FreshDir("banner") / "Recv.log";
    {
        CLogFile log;
        EXPECT_FALSE(log.IsOpen());
        EXPECT_STREQ(log.GetFileName(), "");
        ASSERT_EQ(log.Open(path.string(), 1 << 20), 1);
        EXPECT_EQ(log.GetFileName(), path.string());
        EXPECT_TRUE(log.IsOpen());
        EXPECT_EQ(log.Log("value=%d text=%s", 42, "abc"), 1);
        EXPECT_EQ(log.Write("raw"), 1);
        EXPECT_EQ(log.NewLine(), 1);
        EXPECT_EQ(log.Close(), 1);
        EXPECT_EQ(log.Close(), 0);
        EXPECT_EQ(log.Log("after close"), 0);
    }
    auto expected = kOpenBanner;
    expected.insert(expected.end(), {"value=42 text=abc", "<no stamp>", "* LOG FILE CLOSED *"});
    EXPECT_EQ(Messages(path), expected);
    EXPECT_EQ(Lines(ReadAll(path))[5], "raw");

    // Reopening appends a new banner; destroying an open log closes it.
    {
        CLogFile log;
        ASSERT_EQ(log.Open(path.string(), 1 << 20), 1);
    }
    auto lines = Messages(path);
    ASSERT_EQ(lines.size(), expected.size() + 5);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + expected.size(), lines.end() - 1), kOpenBanner);
    EXPECT_EQ(lines.back(), "* LOG FILE CLOSED *");
}

TEST_F(CLogFileTest, StampHasTheFixedLayout)
{
    struct Case {
        platform::LocalTime time;
        const char* stamp;
    };
    const Case cases[] = {
        {{2019, 1, 2, 3, 2, 3, 55, 123}, "Wed Jan 02 02:03:55.123 "},
        {{2024, 12, 31, 2, 23, 59, 59, 7}, "Tue Dec 31 23:59:59.007 "},
        {{2023, 7, 9, 0, 0, 0, 0, 0}, "Sun Jul 09 00:00:00.000 "},
        {{2020, 2, 29, 6, 12, 30, 5, 999}, "Sat Feb 29 12:30:05.999 "},
    };
    for (const Case& c : cases) {
        char stamp[25];
        FormatLogStamp(c.time, stamp);
        EXPECT_STREQ(stamp, c.stamp);
    }

    // A written line carries the local time of its writing.
    fs::path path = FreshDir("stamp") / "s.log";
    CLogFile log;
    ASSERT_EQ(log.Open(path.string(), 1 << 20), 1);
    char before[25], after[25];
    FormatLogStamp(platform::LocalNow(), before);
    ASSERT_EQ(log.Log("now"), 1);
    FormatLogStamp(platform::LocalNow(), after);
    std::string line = Lines(ReadAll(path)).back();
    ASSERT_TRUE(IsStamp(line.substr(0, 24))) << line;
    EXPECT_GE(line.substr(11, 12), std::string(before).substr(11, 12));
    EXPECT_LE(line.substr(11, 12), std::string(after).substr(11, 12));
}

TEST_F(CLogFileTest, LongMessageIsCutToTheLine)
{
    fs::path path = FreshDir("long") / "long.log";
    CLogFile log;
    ASSERT_EQ(log.Open(path.string(), 1 << 20), 1);
    // The 1024-byte line holds the stamp, at most 997 message bytes, CR LF and the terminating zero.
    for (size_t size : {996u, 997u, 998u, 5000u})
        ASSERT_EQ(log.Log("%s", std::string(size, 'x').c_str()), 1);
    auto lines = Lines(ReadAll(path));
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(Message(lines[4]), std::string(996, 'x'));
    for (size_t i = 5; i < 8; ++i)
        EXPECT_EQ(Message(lines[i]), std::string(997, 'x'));
}

TEST_F(CLogFileTest, FileOverItsCapIsRolledOverAtOpen)
{
    fs::path dir = FreshDir("oversized");
    std::string old(5000, 'o');
    std::ofstream(dir / "Recv.log", std::ios::binary) << old;
    std::ofstream(dir / "Recv.lo~", std::ios::binary) << "older backup";
    CLogFile log;
    ASSERT_EQ(log.Open((dir / "Recv.log").string(), 1000), 1);
    EXPECT_EQ(ReadAll(dir / "Recv.lo~"), old);
    EXPECT_EQ(Messages(dir / "Recv.log"), kOpenBanner);

    // A file at its cap is used as it is.
    fs::path exact = dir / "exact.log";
    std::ofstream(exact, std::ios::binary) << std::string(1000, 'e');
    CLogFile atCap;
    ASSERT_EQ(atCap.Open(exact.string(), 1000), 1);
    EXPECT_FALSE(fs::exists(dir / "exact.lo~"));
}

TEST_F(CLogFileTest, CapIsPassedWithinTheCheckIntervalThenRolledOver)
{
    fs::path dir = FreshDir("cap");
    fs::path path = dir / "cap.log";
    CLogFile log;
    ASSERT_EQ(log.Open(path.string(), 300), 1);
    // Within a second of opening the file grows past its cap.
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(log.Log("line %d", i), 1);
    EXPECT_GT(fs::file_size(path), 300u);
    EXPECT_FALSE(fs::exists(dir / "cap.lo~"));

    CLogFile::SetRollOverCheckMs(0);
    std::string before = ReadAll(path);
    ASSERT_EQ(log.Log("after roll-over"), 1);
    EXPECT_EQ(ReadAll(dir / "cap.lo~"), before);
    EXPECT_EQ(Messages(path), std::vector<std::string>{"after roll-over"});
}

TEST_F(CLogFileTest, ZeroCapKeepsOnlyTheLatestWrite)
{
    fs::path dir = FreshDir("zero");
    CLogFile log;
    ASSERT_EQ(log.Open((dir / "z.log").string(), 0), 1);
    EXPECT_EQ(Messages(dir / "z.log"), kOpenBanner);
    CLogFile::SetRollOverCheckMs(0);
    ASSERT_EQ(log.Log("one"), 1);
    ASSERT_EQ(log.Log("two"), 1);
    EXPECT_EQ(Messages(dir / "z.lo~"), std::vector<std::string>{"one"});
    EXPECT_EQ(Messages(dir / "z.log"), std::vector<std::string>{"two"});
}

TEST_F(CLogFileTest, FailedRenameGrowsTheOldFileToAQuarterPastItsCap)
{
    fs::path dir = FreshDir("renamefail");
    // A non-empty folder under the backup name makes the rename fail.
    fs::create_directories(dir / "r.lo~" / "in");
    CLogFile log;
    ASSERT_EQ(log.Open((dir / "r.log").string(), 400), 1);
    CLogFile::SetRollOverCheckMs(0);
    int written = 0;
    while (written < 100 && log.Log("message number %03d with some padding text", written) == 1)
        ++written;
    EXPECT_LT(written, 100);
    uint64_t size = fs::file_size(dir / "r.log");
    EXPECT_GT(size, 400u);
    EXPECT_LE(size, 500u + 80u);
    auto lines = Messages(dir / "r.log");
    EXPECT_GE(std::count(lines.begin(), lines.end(), "<no stamp>"), 1);
    EXPECT_NE(ReadAll(dir / "r.log").find("(CLogFile) [reset/rename failed]\r\n"), std::string::npos);
    // Half open: the file is given up until the log is opened again.
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(log.Log("lost"), 0);
    EXPECT_EQ(log.Close(), 1);
    EXPECT_FALSE(log.IsOpen());
}

TEST_F(CLogFileTest, WindowsPathsLiveUnderTheDriveRootAndNameTheMutex)
{
    fs::create_directories(platform::DriveRoot() / "D" / "logs");
    CLogFile log;
    ASSERT_EQ(log.Open("D:\\logs\\Recv.log", 1 << 20), 1);
    EXPECT_STREQ(log.GetFileName(), "D:\\logs\\Recv.log");
    EXPECT_EQ(Messages(platform::DriveRoot() / "D" / "logs" / "Recv.log"), kOpenBanner);
    EXPECT_TRUE(fs::exists(platform::NamedMutex::LockFilePath("LogMutex_qdz&@_Recv")));
    ASSERT_EQ(log.Reset(), 1);
    EXPECT_TRUE(fs::exists(platform::DriveRoot() / "D" / "logs" / "Recv.lo~"));
}

TEST_F(CLogFileTest, OpenFailsCleanly)
{
    CLogFile log;
    EXPECT_EQ(log.Close(), 0);
    EXPECT_EQ(log.Open((FreshDir("fail") / "missing" / "a.log").string(), 100), 0);
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(log.Log("x"), 0);
    EXPECT_EQ(log.Close(), 0);
    EXPECT_EQ(log.Open(std::string(300, 'p'), 100), 0);
}

TEST(LogSettings, MaxLogSizeFromTheRegistry)
{
    const char* key = "SOFTWARE\\Brennhall\\Ostrel";
    const char* value = "Max Log Size In Mb";
    Registry::DeleteKey(RegHive::LocalMachine, key);
    EXPECT_EQ(GetMaxLogSize(), 4194304u);
    EXPECT_FALSE(Registry::KeyExists(RegHive::LocalMachine, key));

    ASSERT_TRUE(Registry::CreateKey(RegHive::LocalMachine, key));
    EXPECT_EQ(GetMaxLogSize(), 4194304u);
    EXPECT_EQ(Registry::GetDword(RegHive::LocalMachine, key, value), 4u);

    struct Case {
        uint32_t mb;
        uint32_t bytes;
    };
    const Case cases[] = {
        {1, 1u << 20},
        {4, 4u << 20},
        {4095, 0xFFF00000u},  // the largest a 32-bit cap holds
        {4096, 0xFFF00000u},  // not shifted out to 0
        {0xFFFFFFFFu, 0xFFF00000u},
        {0, 4194304u},  // no cap of 0
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Registry::SetDword(RegHive::LocalMachine, key, value, c.mb));
        EXPECT_EQ(GetMaxLogSize(), c.bytes) << c.mb;
    }
    Registry::DeleteKey(RegHive::LocalMachine, key);
}

TEST(LogSettings, LogFilePathFromTheRegistry)
{
    const char* key = "SOFTWARE\\Brennhall\\Common";
    Registry::DeleteKey(RegHive::LocalMachine, key);
    EXPECT_EQ(GetLogFilePath("Sub", "a.log"), "C:\\a.log");
    ASSERT_TRUE(Registry::CreateKey(RegHive::LocalMachine, key));
    EXPECT_EQ(GetLogFilePath("Sub", "a.log"), "C:\\a.log");

    fs::path drive = platform::DriveRoot() / "E";
    fs::remove_all(drive);
    fs::create_directories(drive);
    std::ofstream(drive / "Blocked") << "a file, not a folder";
    struct Case {
        const char* logsPath;
        const char* sub;
        const char* result;
        const char* createdFolder;  // under the drive root
    };
    const Case cases[] = {
        {"E:\\Logs\\", "Sub", "E:\\Logs\\Sub\\a.log", "E/Logs/Sub"},
        {"E:\\Logs\\", "Sub", "E:\\Logs\\Sub\\a.log", "E/Logs/Sub"},  // now it exists
        {"E:\\Logs\\", "", "E:\\Logs\\a.log", "E/Logs"},
        {"E:\\Deep\\", "One\\Two\\", "E:\\Deep\\One\\Two\\a.log", "E/Deep/One/Two"},
        {"E:\\Blocked\\", "Sub", "C:\\a.log", nullptr},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Registry::SetString(RegHive::LocalMachine, key, "Logs Path", c.logsPath));
        EXPECT_EQ(GetLogFilePath(c.sub, "a.log"), c.result) << c.logsPath << c.sub;
        if (c.createdFolder) {
            EXPECT_TRUE(fs::is_directory(platform::DriveRoot() / c.createdFolder)) << c.createdFolder;
        }
    }
    Registry::DeleteKey(RegHive::LocalMachine, key);
}
