#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <vector>

#include "common/CFileReader.h"
#include "common/CFileWriter.h"
#include "common/CLogFile.h"
#include "platform/Clock.h"
#include "platform/PageBuffer.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "tests/support/FileTestKit.h"

namespace
{

using namespace testsupport;
namespace fs = std::filesystem;

const char* const kKey = "Software\\Brennhall\\Common";

// Records every platform write and failure, and exposes how the handle was opened.
class RecordingWriter : public CFileWriter
{
public:
    int OnWriteDone(uint32_t bytes, double) override
    {
        writes.push_back(bytes);
        return 1;
    }
    void OnWriteFailed(const std::string& name, uint32_t toWrite, uint32_t written) override
    {
        failed.push_back(name + " " + std::to_string(toWrite) + " " + std::to_string(written));
    }
    bool Unbuffered() const { return _file.IsUnbuffered(); }
    std::vector<uint32_t> writes;
    std::vector<std::string> failed;
};

// Sets a registry value of the writer for the life of the object.
class RegistryValue
{
public:
    RegistryValue(const char* name, uint32_t value) : _name(name)
    {
        platform::Registry::SetDword(platform::RegHive::LocalMachine, kKey, name, value);
    }
    ~RegistryValue() { platform::Registry::DeleteValue(platform::RegHive::LocalMachine, kKey, _name); }

private:
    const char* _name;
};

class CFileWriterTest : public ::testing::TestWithParam<uint32_t>
{
protected:
    uint32_t S() const { return GetParam(); }
    fs::path dir = FreshDir("writer");
    ForcedSectorSize forced{GetParam()};
    LogCapture log{""};  // the writer logs to "default"
};

TEST_P(CFileWriterTest, EffectiveSizes)
{
    struct {
        uint32_t min, max, effMin, effMax;
    } const cases[] = {
        {0, 0, S(), S()},
        {1000, 100000, (1000 + S() - 1) / S() * S(), 100000 / S() * S()},
        {0x200000, 0x100000, 0x200000, 0x200000},
        {0x80000, 0x800000, 0x80000, 0x800000},
    };
    for (auto c : cases) {
        CFileWriter writer;
        writer.SetMinMaxWr(c.min, c.max);
        ASSERT_EQ(writer.Open((dir / "sizes.bin").string()), 0u);
        EXPECT_EQ(writer.GetMinWrite(), c.effMin);
        EXPECT_EQ(writer.GetMaxWrite(), c.effMax);
    }
    EXPECT_TRUE(log.Has("CFileWriter (CFileWriter::SetMinMaxWr) 0x3E8 - 0x186A0"));
}

TEST_P(CFileWriterTest, TenBytesLeaveATenByteFile)
{
    fs::path path = dir / "ten.bin";
    CFileWriter writer;
    ASSERT_EQ(writer.Open(path.string()), 0u);
    uint32_t taken = 0;
    ASSERT_EQ(writer.WriteData(Pattern(0, 10).data(), 10, &taken), 0u);
    EXPECT_EQ(taken, 10u);
    EXPECT_EQ(writer.GetCurrentPos(), 10u);
    EXPECT_EQ(writer.Close(), 0u);
    EXPECT_EQ(ReadWholeFile(path), Pattern(0, 10));
    EXPECT_TRUE(log.Has("CFileWriter (CFileWriter::Close) file=" + path.string() + " - Setting size to 0xa bytes"));
    EXPECT_TRUE(log.Has("CFileWriter (CFileWriter::Open) file=" + path.string() + " minwr=0x" +
                        (S() == 512 ? "200" : "1000") + " maxwr=0x" + (S() == 512 ? "200" : "1000") + " result=0"));
}

TEST_P(CFileWriterTest, LocalDiskFilesAreWrittenUnbuffered)
{
    if (!platform::File::IsLocalDisk(dir.string()))
        GTEST_SKIP() << "the test folder is not on a local disk";
    RegistryValue writeOnly("FileWriter Mode", 1);  // local disks ignore the mode
    RecordingWriter writer;
    ASSERT_EQ(writer.Open((dir / "local.bin").string()), 0u);
    EXPECT_TRUE(writer.Unbuffered());
    EXPECT_EQ(writer.GetOpenMode(), CFileWriter::kModeDefault);
    EXPECT_TRUE(log.Has("GetDriveType --> 3\r\n"));
    EXPECT_TRUE(log.Has("GetDriveType --> DRIVE_FIXED"));
    EXPECT_TRUE(log.Has("writing on FIXED drive !!! --> no buffering"));
}

TEST_P(CFileWriterTest, FlushKeepsTheRestOfTheLastSector)
{
    fs::path path = dir / "existing.bin";
    WriteWholeFile(path, Pattern(1000000, 2048));
    CFileWriter writer;
    ASSERT_EQ(writer.Open(path.string()), 0u);
    EXPECT_EQ(writer.GetSizeAtOpen(), 2048u);
    uint32_t taken = 0;
    ASSERT_EQ(writer.WriteData(Pattern(0, 100).data(), 100, &taken), 0u);
    ASSERT_EQ(writer.FlushBuffer(), 0u);
    // Until Close cuts it, the file may hold the padding of the last sector.
    EXPECT_TRUE(ReadWholeFile(path).substr(0, 2048) == Pattern(0, 100) + Pattern(1000000 + 100, 2048 - 100));
    EXPECT_EQ(writer.Close(false), 0u);
    EXPECT_EQ(ReadWholeFile(path), Pattern(0, 100));  // the file ends where writing ended
}

TEST_P(CFileWriterTest, AlignedDataGoesDirectlyInMaximumRuns)
{
    RecordingWriter writer;
    writer.SetMinMaxWr(S(), 4 * S());
    fs::path path = dir / "direct.bin";
    ASSERT_EQ(writer.Open(path.string()), 0u);
    std::string bytes = Pattern(0, 10 * S() + 7);
    platform::PageBuffer data = platform::MakePageBuffer(bytes.size());
    std::copy(bytes.begin(), bytes.end(), data.get());
    uint32_t taken = 0;
    ASSERT_EQ(writer.WriteData(data.get(), static_cast<uint32_t>(bytes.size()), &taken), 0u);
    EXPECT_EQ(taken, bytes.size());
    EXPECT_EQ(writer.writes, (std::vector<uint32_t>{4 * S(), 4 * S(), 2 * S()}));  // 7 bytes wait in the buffer
    ASSERT_EQ(writer.Close(), 0u);
    EXPECT_EQ(ReadWholeFile(path), bytes);
}

// A model of the file: what every write and reposition must leave, compared after Close.
struct FileModel {
    std::string bytes;
    uint64_t pos = 0, high = 0;
    void Write(const std::string& data)
    {
        if (bytes.size() < pos + data.size())
            bytes.resize(pos + data.size(), '\0');
        bytes.replace(pos, data.size(), data);
        pos += data.size();
        high = std::max(high, pos);
    }
    void Seek(uint64_t p)
    {
        pos = p;
        high = std::max(high, p);
    }
    std::string Final() const
    {
        std::string out = bytes;
        out.resize(high, '\0');
        return out;
    }
};

struct ScriptCase {
    const char* name;
    uint32_t minWrite, maxWrite;
    size_t existing;  // bytes already in the file
};

// Random writes of every size from any source alignment, mixed with repositioning, over new and
// existing files; whatever the buffer and sector state, the file must end as the model says.
TEST_P(CFileWriterTest, RandomWritesAndRepositionsMatchTheModel)
{
    const ScriptCase cases[] = {
        {"OneSector", 0, 0, 0},
        {"SmallRuns", 2 * S(), 8 * S(), 0},
        {"LargeRuns", 0x10000, 0x40000, 0},
        {"OverExistingFile", 3 * S(), 5 * S(), 100000},
    };
    for (const ScriptCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::path path = dir / (std::string(c.name) + ".bin");
        FileModel model;
        model.bytes = Pattern(5000000, c.existing);
        WriteWholeFile(path, model.bytes);
        CFileWriter writer;
        writer.SetMinMaxWr(c.minWrite, c.maxWrite);
        ASSERT_EQ(writer.Open(path.string()), 0u);
        std::mt19937 random(GetParam() + c.existing);
        platform::PageBuffer source = platform::MakePageBuffer(0x100000);
        for (int step = 0; step < 150; ++step) {
            if (random() % 5 == 0) {
                uint64_t target = random() % (model.high + 3 * S() + 1);
                ASSERT_EQ(writer.SetFilePos(target), 0u);
                model.Seek(target);
            } else {
                uint32_t length = random() % 3 == 0 ? random() % (3 * writer.GetMaxWrite()) : random() % 700;
                length = std::min<uint32_t>(length, 0x100000 - 8);
                uint32_t skew = random() % 2 == 0 ? 0 : 1 + random() % 7;
                std::string data = Pattern(step * 7777, length);
                std::copy(data.begin(), data.end(), source.get() + skew);
                uint32_t taken = 0;
                ASSERT_EQ(writer.WriteData(source.get() + skew, length, &taken), 0u);
                ASSERT_EQ(taken, length);
                model.Write(data);
            }
            ASSERT_EQ(writer.GetCurrentPos(), model.pos);
        }
        ASSERT_EQ(writer.Close(), 0u);
        std::string expected = model.Final();
        std::string actual = ReadWholeFile(path);
        ASSERT_EQ(actual.size(), expected.size());
        EXPECT_TRUE(actual == expected);
    }
}

TEST_P(CFileWriterTest, SetSizeFixesTheSizeAtClose)
{
    fs::path path = dir / "setsize.bin";
    CFileWriter writer;
    ASSERT_EQ(writer.Open(path.string()), 0u);
    uint32_t taken = 0;
    ASSERT_EQ(writer.WriteData(Pattern(0, 5000).data(), 5000, &taken), 0u);
    ASSERT_EQ(writer.SetSize(1234), 0u);
    EXPECT_EQ(writer.GetCurrentPos(), 0u);
    EXPECT_EQ(*platform::File::SizeOf(path.string()) % S(), 0u);
    ASSERT_EQ(writer.Close(), 0u);
    EXPECT_EQ(ReadWholeFile(path), Pattern(0, 1234));

    // The way the format writers start a file: open an old one, size 0, write.
    ASSERT_EQ(writer.Open(path.string()), 0u);
    ASSERT_EQ(writer.SetSize(0), 0u);
    ASSERT_EQ(writer.WriteData("abc", 3, &taken), 0u);
    ASSERT_EQ(writer.Close(), 0u);
    EXPECT_EQ(ReadWholeFile(path), "abc");
}

TEST_P(CFileWriterTest, GrowthAfterSetSizeReadsAsIfWrittenWithOrdinaryCalls)
{
    // Each case cuts a written file, then grows it again; the same steps through ordinary file calls
    // on a second file give the bytes expected: what lay beyond the cut never comes back.
    struct Case {
        const char* name;
        uint64_t cut;
        uint64_t growTo;  // by SetSize when writeAt is 0
        uint64_t writeAt;
    } const cases[] = {
        {"SetSizeInsideASector", 100, 3 * S() + 7, 0},
        {"SetSizeOnABoundary", S(), 2 * S() + 1, 0},
        {"WriteBeyondTheCut", S() + 100, 0, 2 * S() + 5},
        {"WriteInTheCutSector", 10, 0, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::path path = dir / "grow.bin";
        fs::path plain = dir / "plain.bin";
        const std::string first = Pattern(77, 3 * S());
        WriteWholeFile(plain, first);
        fs::resize_file(plain, c.cut);

        CFileWriter writer;
        ASSERT_EQ(writer.Open(path.string()), 0u);
        uint32_t taken = 0;
        ASSERT_EQ(writer.WriteData(first.data(), static_cast<uint32_t>(first.size()), &taken), 0u);
        ASSERT_EQ(writer.SetSize(c.cut), 0u);
        if (c.writeAt == 0) {
            ASSERT_EQ(writer.SetSize(c.growTo), 0u);
            fs::resize_file(plain, c.growTo);
        } else {
            ASSERT_EQ(writer.SetFilePos(c.writeAt), 0u);
            ASSERT_EQ(writer.WriteData("xyz", 3, &taken), 0u);
            std::fstream out(plain, std::ios::in | std::ios::out | std::ios::binary);
            out.seekp(static_cast<std::streamoff>(c.writeAt));
            out.write("xyz", 3);
        }
        ASSERT_EQ(writer.Close(), 0u);
        EXPECT_TRUE(ReadWholeFile(path) == ReadWholeFile(plain));
    }
}

TEST_P(CFileWriterTest, NullDeviceIsBufferedDefaultMode)
{
    CFileWriter writer;
    ASSERT_EQ(writer.Open("\\\\.\\nul"), 0u);
    EXPECT_TRUE(writer.IsHandleValid());
    uint32_t taken = 0;
    EXPECT_EQ(writer.WriteData("0123456789", 10, &taken), 0u);
    EXPECT_EQ(writer.Close(), 0u);
    EXPECT_FALSE(writer.IsHandleValid());
    for (const char* line :
         {"GetDriveType --> 0\r\n", "GetDriveType --> DRIVE_UNKNOWN", "NOT writing on fixed drive !!! --> buffering",
          "Default Mode [0], Read/Write + Buffering"})
        EXPECT_TRUE(log.Has(line)) << line;
}

TEST_P(CFileWriterTest, RegistryNoBufferingForOtherDrives)
{
    RegistryValue noBuffering("FileWriter NoBuffering", 1);
    CFileWriter writer;
    ASSERT_EQ(writer.Open("\\\\.\\nul"), 0u);
    EXPECT_TRUE(log.Has("Default Mode [0], Read/Write + NO BUFFERING flag activated"));
    uint32_t taken = 0;
    EXPECT_EQ(writer.WriteData("0123456789", 10, &taken), 0u);
}

// The write-only mode needs a drive that is not a local disk: tmpfs serves as one.
TEST_P(CFileWriterTest, WriteOnlyModeReadsBackThroughASecondHandle)
{
    fs::path shm = fs::path("/dev/shm") / ("korvo-writer-" + std::to_string(platform::ProcessId()));
    std::error_code ec;
    fs::create_directories(shm, ec);
    if (ec || platform::File::IsLocalDisk(shm.string()))
        GTEST_SKIP() << "no tmpfs at /dev/shm";
    platform::File probe;
    if (!probe.Open((shm / "probe").string(), platform::File::Access::Write, platform::File::Disposition::OpenAlways,
                    true)) {
        fs::remove_all(shm, ec);
        GTEST_SKIP() << "tmpfs refuses O_DIRECT on this kernel";
    }
    probe.Close();
    fs::path path = shm / "clip.bin";
    WriteWholeFile(path, Pattern(0, 3 * S() + 100));
    {
        RegistryValue writeOnly("FileWriter Mode", 1);
        RecordingWriter writer;
        ASSERT_EQ(writer.Open(path.string()), 0u);
        EXPECT_EQ(writer.GetOpenMode(), CFileWriter::kModeWriteOnly);
        EXPECT_TRUE(writer.Unbuffered());
        uint32_t taken = 0;
        ASSERT_EQ(writer.SetFilePos(S() + 10), 0u);  // reads the sector's head back
        ASSERT_EQ(writer.WriteData("XYZ", 3, &taken), 0u);
        ASSERT_EQ(writer.SetFilePos(3 * S() + 100), 0u);  // flush reads the sector's tail back
        ASSERT_EQ(writer.Close(), 0u);
    }
    std::string expected = Pattern(0, 3 * S() + 100);
    expected.replace(S() + 10, 3, "XYZ");
    EXPECT_TRUE(ReadWholeFile(path) == expected);
    EXPECT_TRUE(log.Has("SEACHANGE Mode [1], Write Only + NO BUFFERING"));
    EXPECT_TRUE(log.Has("SeaChange Mode - Creating Reader"));
    fs::remove_all(shm, ec);
}

TEST_P(CFileWriterTest, RateLimitPacesTheWrites)
{
    RecordingWriter writer;
    writer.SetMinMaxWr(0x10000, 0x10000);
    ASSERT_EQ(writer.Open((dir / "paced.bin").string()), 0u);
    const double secondsPerByte = 1.0 / (2 << 20);  // 2 MiB/s: 31 ms per 64 KiB
    writer.SetRateLimit(secondsPerByte);
    platform::PageBuffer data = platform::MakePageBuffer(0x10000);
    double start = platform::PerfSeconds();
    uint32_t taken = 0;
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(writer.WriteData(data.get(), 0x10000, &taken), 0u);
    double elapsed = platform::PerfSeconds() - start;
    ASSERT_EQ(writer.writes.size(), 5u);
    // Each write waits for the time the one before should have taken.
    EXPECT_GE(elapsed, 4 * 0x10000 * secondsPerByte * 0.95);
    EXPECT_LT(elapsed, 2.0);
}

TEST_P(CFileWriterTest, SlowCallsGoToTheExtraLogToo)
{
    fs::path path = dir / "slow.bin";
    WriteWholeFile(path, Pattern(0, 3000));
    CLogFile extra;
    fs::path extraPath = dir / "extra.log";
    ASSERT_EQ(extra.Open(extraPath.string(), 1 << 20), 1);
    {
        CFileWriter writer;
        writer.SetExtraLog(&extra);
        writer.SetSlowLimits(-1.0, -1.0);  // every call counts as slow
        ASSERT_EQ(writer.Open(path.string()), 0u);
        ASSERT_EQ(writer.SetFilePos(700), 0u);
        uint32_t taken = 0;
        ASSERT_EQ(writer.WriteData("abc", 3, &taken), 0u);
        ASSERT_EQ(writer.Close(), 0u);
    }
    std::string counts = "\r\n" + std::string(24, ' ') + "| " + std::to_string(S()) + " (0x" +
                         (S() == 512 ? "200" : "1000") + ") bytes to write - " + std::to_string(S()) + " (0x" +
                         (S() == 512 ? "200" : "1000") + ") bytes written";
    for (const std::string& text : {log.Text(), ReadWholeFile(extraPath)}) {
        for (const char* line : {"CFileWriter (CFileWriter::Open)  CreateFile  SLOW (",
                                 "CFileWriter (CFileWriter::ReadFileT) ReadFile SLOW (",
                                 "CFileWriter (CFileWriter::WriteFileT) WriteFile SLOW (",
                                 "CFileWriter (CFileWriter::Close) CloseHandle SLOW ("})
            EXPECT_NE(text.find(line), std::string::npos) << line;
        EXPECT_NE(text.find(counts), std::string::npos);
    }
}

TEST_P(CFileWriterTest, FailedWriteIsReportedAndLogged)
{
    RecordingWriter writer;
    ASSERT_EQ(writer.Open("/dev/full"), 0u);
    uint32_t taken = 0;
    platform::PageBuffer data = platform::MakePageBuffer(S());
    EXPECT_EQ(writer.WriteData(data.get(), S(), &taken), 1u);
    EXPECT_EQ(taken, 0u);
    EXPECT_EQ(writer.failed, std::vector<std::string>{"/dev/full " + std::to_string(S()) + " 0"});
    EXPECT_TRUE(log.Has("CFileWriter (CFileWriter::WriteFileT) WriteFile FAILED No space left on device"));
    EXPECT_EQ(writer.WriteData(data.get(), 10, &taken), 0u);  // gathered
    EXPECT_EQ(writer.Close(), 2u);                            // the final flush fails
}

TEST_P(CFileWriterTest, SecondWriterOnTheSameFileIsRefused)
{
    fs::path path = dir / "busy.bin";
    CFileWriter first, second;
    ASSERT_EQ(first.Open(path.string()), 0u);
    EXPECT_TRUE(platform::File::IsLockedForWriting(path.string()));
    EXPECT_EQ(second.Open(path.string()), CFileWriter::kOpenFailed);
    EXPECT_FALSE(second.IsHandleValid());
}

TEST_P(CFileWriterTest, OpenFailures)
{
    struct {
        const char* path;
        uint32_t result;
    } const cases[] = {
        {"/no/such/folder/x.bin", CFileWriter::kOpenFailed},
        {"\\\\srv", CFileWriter::kOpenNoRoot},
    };
    for (auto c : cases) {
        CFileWriter writer;
        EXPECT_EQ(writer.Open(c.path), c.result) << c.path;
        EXPECT_FALSE(writer.IsHandleValid());
        EXPECT_TRUE(log.Has(std::string("file=") + c.path + " minwr=0x0 maxwr=0x0 result=" + std::to_string(c.result)));
    }
}

// Sparse files past 4 GiB: a write across the 2^32 boundary, read back at unaligned positions.
TEST_P(CFileWriterTest, FilesBeyondFourGiB)
{
    const uint64_t fourGiB = uint64_t{1} << 32;
    fs::path path = dir / "big.bin";
    {
        CFileWriter writer;
        writer.SetMinMaxWr(0x10000, 0x40000);
        ASSERT_EQ(writer.Open(path.string()), 0u);
        ASSERT_EQ(writer.SetFilePos(fourGiB - 3001), 0u);
        std::string data = Pattern(fourGiB - 3001, 10000);
        uint32_t taken = 0;
        ASSERT_EQ(writer.WriteData(data.data(), 10000, &taken), 0u);
        EXPECT_EQ(writer.GetCurrentPos(), fourGiB + 6999);
        ASSERT_EQ(writer.Close(), 0u);
    }
    EXPECT_EQ(platform::File::SizeOf(path.string()), fourGiB + 6999);

    struct {
        uint64_t position;
        uint32_t count, expected;
    } const reads[] = {
        {fourGiB - 3001, 10000, 10000},
        {fourGiB - 1, 2, 2},
        {fourGiB + 6990, 100, 9},
        {fourGiB + 7000, 10, 0},
    };
    CFileReader reader("");
    reader.SetMinMaxRd(0x10000, 0x40000);
    ASSERT_EQ(reader.Open(path.string()), 0u);
    for (auto r : reads) {
        std::vector<char> bytes(r.count);
        uint32_t got = 0;
        ASSERT_EQ(reader.Seek(r.position), 0u);
        ASSERT_EQ(reader.ReadData(bytes.data(), r.count, &got), 0u);
        ASSERT_EQ(got, r.expected);
        EXPECT_TRUE(std::string(bytes.data(), got) == Pattern(r.position, got)) << r.position;
    }
    // The hole before the written range reads as zeros.
    std::vector<char> hole(100, 'x');
    uint32_t got = 0;
    ASSERT_EQ(reader.Seek(fourGiB - 5000), 0u);
    ASSERT_EQ(reader.ReadData(hole.data(), 100, &got), 0u);
    EXPECT_EQ(std::count(hole.begin(), hole.end(), '\0'), 100);
    reader.Close();
    fs::remove(path);
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, CFileWriterTest, ::testing::Values(512u, 4096u),
                         [](const auto& info) { return "Sector" + std::to_string(info.param); });

}  // namespace
