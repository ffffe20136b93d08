#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/CFileReader.h"
#include "common/CLogFile.h"
#include "platform/PageBuffer.h"
#include "platform/Registry.h"
#include "tests/support/FileTestKit.h"

namespace
{

using namespace testsupport;

constexpr uint64_t kFileSize = 200000;  // no multiple of either sector size

// Records every platform read, and exposes the handle to check how it was opened.
class RecordingReader : public CFileReader
{
public:
    using CFileReader::CFileReader;
    int OnReadComplete(const std::string&, uint32_t bytesRead, double) override
    {
        reads.push_back(bytesRead);
        return 1;
    }
    bool Unbuffered() const { return _file.IsUnbuffered(); }
    std::vector<uint32_t> reads;
};

class CFileReaderTest : public ::testing::TestWithParam<uint32_t>
{
protected:
    void SetUp() override
    {
        path = FreshDir("reader") / "pattern.bin";
        WriteWholeFile(path, Pattern(0, kFileSize));
    }
    uint32_t S() const { return GetParam(); }

    ForcedSectorSize forced{GetParam()};
    LogCapture log{"reader"};
    std::filesystem::path path;
};

struct ReadCase {
    const char* name;
    uint64_t position;
    uint32_t countSectors;  // whole sectors added to countBytes
    uint32_t countBytes;
    uint32_t minRead, maxRead;
    uint32_t destOffset;  // bytes past a page-aligned address
};

// Unaligned and aligned positions, lengths and destinations, with small and large read sizes,
// reads that run into the end of the file and reads beyond it.
const ReadCase kReads[] = {
    {"TenBytesInsideSecondSector", 1000, 0, 10, 0, 0, 0},
    {"OneByteAtZero", 0, 0, 1, 0, 0, 0},
    {"UnalignedAcrossManySectors", 777, 9, 1234, 0, 0, 3},
    {"AlignedDirect", 0, 40, 0, 0, 0, 0},
    {"AlignedDirectBigChunks", 8192, 30, 0, 0x2000, 0x4000, 0},
    {"AlignedCountUnalignedDest", 4096, 12, 0, 0x2000, 0x8000, 1},
    {"AlignedPlusTail", 4096, 8, 100, 0x1000, 0x3000, 0},
    {"UnalignedLargeMinimum", 12345, 3, 17, 0x10000, 0x20000, 5},
    {"SkewedAlikeWithTail", 8192 + 100, 20, 77, 0x1000, 0x8000, 100},
    {"SkewedAlikeRunsIntoEnd", 196608 + 100, 0, 10000, 0x1000, 0x4000, 100},
    {"RunsIntoEnd", kFileSize - 300, 0, 1000, 0, 0, 0},
    {"AlignedRunsIntoEnd", 0, 0, 300000, 0x1000, 0x10000, 0},
    {"StartsAtEnd", kFileSize, 0, 10, 0, 0, 0},
    {"StartsBeyondEnd", kFileSize + 5000, 0, 10, 0, 0, 0},
};

TEST_P(CFileReaderTest, ReadsAnyPositionAndLength)
{
    for (const ReadCase& c : kReads) {
        SCOPED_TRACE(c.name);
        RecordingReader reader("reader");
        reader.SetMinMaxRd(c.minRead, c.maxRead);
        ASSERT_EQ(reader.Open(path.string()), 0u);
        uint32_t count = c.countSectors * S() + c.countBytes;
        platform::PageBuffer dest = platform::MakePageBuffer(count + c.destOffset + 1);
        ASSERT_EQ(reader.Seek(c.position), 0u);
        uint32_t got = 99;
        ASSERT_EQ(reader.ReadData(dest.get() + c.destOffset, count, &got), 0u);
        uint64_t expected = c.position >= kFileSize ? 0 : std::min<uint64_t>(count, kFileSize - c.position);
        ASSERT_EQ(got, expected);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(dest.get()) + c.destOffset, got), Pattern(c.position, got));
        EXPECT_EQ(reader.GetReadPosition(), c.position + got);
        for (uint32_t n : reader.reads)
            EXPECT_LE(n, reader.GetMaxRead());
    }
}

TEST_P(CFileReaderTest, SequentialReadsOfOddSizesCoverTheFile)
{
    RecordingReader reader("reader");
    reader.SetMinMaxRd(3 * S(), 7 * S());
    ASSERT_EQ(reader.Open(path.string()), 0u);
    std::string all;
    std::vector<char> piece(5000);
    for (uint32_t size = 1;; size = size * 3 % 4999 + 1) {
        uint32_t got = 0;
        ASSERT_EQ(reader.ReadData(piece.data(), size, &got), 0u);
        all.append(piece.data(), got);
        if (got < size)
            break;
    }
    EXPECT_EQ(all, Pattern(0, kFileSize));
}

TEST_P(CFileReaderTest, SmallReadIsServedFromTheBufferAfterwards)
{
    RecordingReader reader("reader");
    ASSERT_EQ(reader.Open(path.string()), 0u);
    char bytes[10];
    uint32_t got = 0;
    ASSERT_EQ(reader.Seek(1000), 0u);
    ASSERT_EQ(reader.ReadData(bytes, 10, &got), 0u);
    EXPECT_EQ(reader.reads, std::vector<uint32_t>{S()});
    ASSERT_EQ(reader.ReadData(bytes, 10, &got), 0u);
    EXPECT_EQ(std::string(bytes, 10), Pattern(1010, 10));
    // Seeking back into the buffered range costs no platform read either.
    ASSERT_EQ(reader.Seek(900), 0u);
    ASSERT_EQ(reader.ReadData(bytes, 10, &got), 0u);
    EXPECT_EQ(std::string(bytes, 10), Pattern(900, 10));
    EXPECT_EQ(reader.reads.size(), 1u);
}

TEST_P(CFileReaderTest, AlignedRequestGoesStraightIntoTheCallersMemoryInMaximumChunks)
{
    RecordingReader reader("reader");
    reader.SetMinMaxRd(S(), 4 * S());
    ASSERT_EQ(reader.Open(path.string()), 0u);
    platform::PageBuffer dest = platform::MakePageBuffer(10 * S());
    uint32_t got = 0;
    ASSERT_EQ(reader.ReadData(dest.get(), 10 * S(), &got), 0u);
    EXPECT_EQ(reader.reads, (std::vector<uint32_t>{4 * S(), 4 * S(), 2 * S()}));
    uint32_t offset = 0, available = 0;
    EXPECT_FALSE(reader.FindInBuffer(0, &offset, &available));
}

TEST_P(CFileReaderTest, MemorySkewedLikeThePositionGetsItsMiddleStraightAndOnlyTheEdgesCopied)
{
    RecordingReader reader("reader");
    reader.SetMinMaxRd(S(), 4 * S());
    ASSERT_EQ(reader.Open(path.string()), 0u);
    platform::PageBuffer dest = platform::MakePageBuffer(11 * S());
    ASSERT_EQ(reader.Seek(100), 0u);
    uint32_t got = 0;
    // The head sector and the tail sector through the buffer, the nine sectors between straight in; the tail sector
    // comes in the same request as the last of them.
    ASSERT_EQ(reader.ReadData(dest.get() + 100, 10 * S(), &got), 0u);
    ASSERT_EQ(got, 10 * S());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(dest.get()) + 100, got), Pattern(100, got));
    EXPECT_EQ(reader.reads, (std::vector<uint32_t>{S(), 4 * S(), 4 * S(), S() + S()}));
    // The next request finds its head in the buffered tail sector.
    reader.reads.clear();
    ASSERT_EQ(reader.ReadData(dest.get() + 100, 10 * S(), &got), 0u);
    ASSERT_EQ(got, 10 * S());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(dest.get()) + 100, got), Pattern(100 + 10 * S(), got));
    EXPECT_EQ(reader.reads, (std::vector<uint32_t>{4 * S(), 4 * S(), S() + S()}));
}

TEST_P(CFileReaderTest, LocalDiskFilesAreReadUnbuffered)
{
    if (!platform::File::IsLocalDisk(path.string()))
        GTEST_SKIP() << "the test folder is not on a local disk";
    RecordingReader reader("reader");
    ASSERT_EQ(reader.Open(path.string()), 0u);
    EXPECT_TRUE(reader.Unbuffered());
}

TEST_P(CFileReaderTest, EffectiveSizesFollowTheSector)
{
    struct {
        uint32_t min, max, sectors;  // asked sizes and the sectors both give when min == max is expected
    } const cases[] = {{0, 0, 1}, {1, 1, 1}};
    for (auto c : cases) {
        CFileReader reader("reader");
        reader.SetMinMaxRd(c.min, c.max);
        ASSERT_EQ(reader.Open(path.string()), 0u);
        EXPECT_EQ(reader.GetMinRead(), c.sectors * S());
        EXPECT_EQ(reader.GetMaxRead(), c.sectors * S());
    }
    CFileReader reader("reader");
    reader.SetMinMaxRd(0x200000, 0x100000);
    ASSERT_EQ(reader.Open(path.string()), 0u);
    EXPECT_EQ(reader.GetMinRead(), 0x200000u);
    EXPECT_EQ(reader.GetMaxRead(), 0x200000u);
    reader.SetMinMaxRd(1000, 100000);
    ASSERT_EQ(reader.Open(path.string()), 0u);
    EXPECT_EQ(reader.GetMinRead(), (1000 + S() - 1) / S() * S());
    EXPECT_EQ(reader.GetMaxRead(), 100000 / S() * S());
    EXPECT_TRUE(log.Has("CFileReader (CFileReader::SetMinMaxRd) 0x3E8 - 0x186A0"));
}

TEST_P(CFileReaderTest, ShortReadAtTheEndLogsIncompleteRead)
{
    CFileReader reader("reader");
    ASSERT_EQ(reader.Open(path.string()), 0u);
    ASSERT_EQ(reader.Seek(kFileSize - 5), 0u);
    char bytes[20];
    uint32_t got = 0;
    ASSERT_EQ(reader.ReadData(bytes, 20, &got), 0u);
    EXPECT_EQ(got, 5u);
    EXPECT_TRUE(
        log.Has("CFileReader (CFileReader::ReadData) Incomplete read: *pdwNbBytesRead(5), dwNbBytesToRead(15) left"));
    // Reading on from an end that is no sector boundary stays aligned and finds nothing.
    ASSERT_EQ(reader.ReadData(bytes, 20, &got), 0u);
    EXPECT_EQ(got, 0u);
}

TEST_P(CFileReaderTest, OpenAndCloseAreLogged)
{
    CFileReader reader("reader");
    reader.SetMinMaxRd(0x200000, 0x800000);
    ASSERT_EQ(reader.Open(path.string()), 0u);
    EXPECT_EQ(reader.Close(), 0u);
    EXPECT_TRUE(
        log.Has("CFileReader (CFileReader::Open) file=" + path.string() + " minrd=0x200000 maxrd=0x800000 result=0"));
    EXPECT_TRUE(log.Has("CFileReader (CFileReader::Close) result=0  filename=" + path.string()));
}

struct OpenCase {
    const char* path;
    uint32_t result;
};

TEST_P(CFileReaderTest, OpenFailuresLeaveTheReaderClosed)
{
    const OpenCase cases[] = {
        {"/no/such/folder/file.bin", CFileReader::kOpenFailed},
        {"C:\\missing.mxf", CFileReader::kOpenFailed},
        {"\\\\srv", CFileReader::kOpenNoDrive},
        {"\\\\srv\\share", CFileReader::kOpenNoDrive},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.path);
        CFileReader reader("reader");
        EXPECT_EQ(reader.Open(c.path), c.result);
        EXPECT_FALSE(reader.IsOpen());
        EXPECT_TRUE(log.Has(std::string("file=") + c.path + " minrd=0x0 maxrd=0x0 result=" + std::to_string(c.result)));
    }
}

TEST_P(CFileReaderTest, DrivePathsMapUnderTheDriveRoot)
{
    std::filesystem::path local = TestRoot() / "drives" / "D" / "clips" / "a.bin";
    std::filesystem::create_directories(local.parent_path());
    WriteWholeFile(local, Pattern(0, 3000));
    CFileReader reader("reader");
    ASSERT_EQ(reader.Open("D:\\clips\\a.bin"), 0u);
    char bytes[100];
    uint32_t got = 0;
    ASSERT_EQ(reader.Seek(2950), 0u);
    ASSERT_EQ(reader.ReadData(bytes, 100, &got), 0u);
    EXPECT_EQ(std::string(bytes, got), Pattern(2950, 50));
}

TEST_P(CFileReaderTest, NullDeviceIsADistantReadOfNothing)
{
    CFileReader reader("reader");
    ASSERT_EQ(reader.Open("\\\\.\\NUL"), 0u);
    EXPECT_EQ(reader.GetSectorSize(), S());
    char bytes[10];
    uint32_t got = 7;
    EXPECT_EQ(reader.ReadData(bytes, 10, &got), 0u);
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(log.Has("NOT reading from fixed drive !!! --> using DistantReadFlags = 0x80 (Buffering)"));
}

TEST_P(CFileReaderTest, RegistrySwitchAddsNoBufferingForDistantReads)
{
    const char* key = "SOFTWARE\\Brennhall\\Common";
    ASSERT_TRUE(platform::Registry::SetDword(platform::RegHive::LocalMachine, key, "FileReader NoBuffering", 1));
    {
        CFileReader reader("reader");
        EXPECT_TRUE(log.Has("CFileReader: NO_BUFFERING enabled !"));
        EXPECT_EQ(reader.Open("\\\\.\\nul"), 0u);
        EXPECT_TRUE(log.Has("NOT reading from fixed drive !!! --> using DistantReadFlags = 0x20000080 (NO Buffering)"));
    }
    platform::Registry::DeleteValue(platform::RegHive::LocalMachine, key, "FileReader NoBuffering");
}

TEST_P(CFileReaderTest, SlowCallsGoToBothLogs)
{
    CLogFile second;
    std::filesystem::path secondPath = TestRoot() / "reader-second.log";
    std::filesystem::remove(secondPath);
    ASSERT_EQ(second.Open(secondPath.string(), 1 << 20), 1);
    {
        CFileReader reader("reader");
        reader.SetSecondLog(&second);
        reader.SetSlowLimits(-1.0, -1.0);  // every call counts as slow
        ASSERT_EQ(reader.Open(path.string()), 0u);
        char bytes[10];
        uint32_t got = 0;
        ASSERT_EQ(reader.ReadData(bytes, 10, &got), 0u);
        reader.Close();
    }
    for (const std::string& text : {log.Text(), ReadWholeFile(secondPath)}) {
        EXPECT_NE(text.find("CFileReader (CFileReader::Open)  CreateFile  SLOW ("), std::string::npos);
        EXPECT_NE(text.find("sec)  filename=" + path.string()), std::string::npos);
        EXPECT_NE(text.find("CFileReader (CFileReader::ReadFileT) ReadFile SLOW ("), std::string::npos);
        std::string counts = "\r\n" + std::string(24, ' ') + "| " + std::to_string(S()) + " (0x" +
                             (S() == 512 ? "200" : "1000") + ") bytes to read - " + std::to_string(S()) + " (0x" +
                             (S() == 512 ? "200" : "1000") + ") bytes read";
        EXPECT_NE(text.find(counts), std::string::npos);
        EXPECT_NE(text.find("CFileReader (CFileReader::Close) CloseHandle SLOW ("), std::string::npos);
    }
}

TEST_P(CFileReaderTest, BufferIsKeptAcrossOpensOfTheSameSize)
{
    RecordingReader reader("reader");
    ASSERT_EQ(reader.Open(path.string()), 0u);
    char bytes[4];
    uint32_t got = 0;
    ASSERT_EQ(reader.ReadData(bytes, 4, &got), 0u);
    ASSERT_EQ(reader.Open(path.string()), 0u);
    ASSERT_EQ(reader.Seek(2), 0u);
    ASSERT_EQ(reader.ReadData(bytes, 4, &got), 0u);
    EXPECT_EQ(std::string(bytes, 4), Pattern(2, 4));
    EXPECT_EQ(reader.reads.size(), 2u);  // the reopened file is read again, not served from stale bytes
}

TEST_P(CFileReaderTest, ClosedReaderRefusesToRead)
{
    CFileReader reader("reader");
    char bytes[4];
    uint32_t got = 5;
    EXPECT_EQ(reader.ReadData(bytes, 4, &got), 1u);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(reader.Seek(10), 1u);
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, CFileReaderTest, ::testing::Values(512u, 4096u),
                         [](const auto& info) { return "Sector" + std::to_string(info.param); });

}  // namespace
