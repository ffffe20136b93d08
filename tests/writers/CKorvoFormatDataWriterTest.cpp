#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "outside/rix/CRixSimServer.h"
#include "platform/Registry.h"
#include "tests/support/FileTestKit.h"
#include "tests/support/PyFtpServer.h"
#include "writers/formatdata/CKorvoFormatAsynchronousFileWriter.h"
#include "writers/formatdata/CKorvoFormatDataWriter.h"
#include "writers/formatdata/CKorvoFormatFTPWriter.h"
#include "writers/formatdata/CKorvoFormatFileWriter.h"
#include "writers/formatdata/CKorvoFormatMultipleWriter.h"
#include "writers/formatdata/factory/FormatDataWriterFactory.h"

namespace
{
namespace fs = std::filesystem;
using testsupport::FreshDir;
using testsupport::Pattern;
using testsupport::ReadWholeFile;

constexpr uint32_t kTransfer = 0x10000;

// Writes the bytes in pieces of uneven sizes; true when every piece was taken whole.
bool WriteInPieces(CKorvoFormatDataWriter& writer, const std::string& bytes)
{
    size_t at = 0;
    for (size_t piece = 1000; at < bytes.size(); piece = piece * 3 % 200000 + 777) {
        const uint32_t n = static_cast<uint32_t>(std::min(piece, bytes.size() - at));
        uint32_t written = 0;
        if (writer.WriteData(bytes.data() + at, n, &written) != 0 || written != n)
            return false;
        at += n;
    }
    return true;
}

TEST(SplitWriterPaths, FolderPartSplitsAtStars)
{
    struct Case {
        const char* path;
        std::vector<std::string> paths;
    } cases[] = {
        {"C:\\a\\*D:\\b\\clip.mxf", {"C:\\a\\clip.mxf", "D:\\b\\clip.mxf"}},
        {"C:\\out\\clip.mov", {"C:\\out\\clip.mov"}},
        {"/x/*/y/clip.mov", {"/x/clip.mov", "/y/clip.mov"}},
        {"clip.mov", {"clip.mov"}},
        {"async:C:\\a|E:\\a\\clip.mxf", {"async:C:\\a|E:\\a\\clip.mxf"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> paths;
        SplitWriterPaths(c.path, &paths);
        EXPECT_EQ(paths, c.paths) << c.path;
    }
}

TEST(CreateDataWriter, PrefixChoosesTheClass)
{
    const fs::path dir = FreshDir("choose");
    const std::string folder = dir.string() + "/";
    std::unique_ptr<CKorvoFormatDataWriter> plain(CreateDataWriter((folder + "a.mov").c_str(), kTransfer));
    EXPECT_TRUE(dynamic_cast<CKorvoFormatFileWriter*>(plain.get()));
    std::unique_ptr<CKorvoFormatDataWriter> korvo(CreateDataWriter(("korvo:" + folder + "b.mov").c_str(), kTransfer));
    EXPECT_TRUE(dynamic_cast<CKorvoFormatFileWriter*>(korvo.get()));
    std::unique_ptr<CKorvoFormatDataWriter> async(CreateDataWriter(("async:" + folder + "c.mov").c_str(), kTransfer));
    EXPECT_TRUE(dynamic_cast<CKorvoFormatAsynchronousFileWriter*>(async.get()));
    std::unique_ptr<CKorvoFormatDataWriter> flagged(
        CreateDataWriterEx((folder + "d.mov").c_str(), true, kTransfer, kTransfer));
    EXPECT_TRUE(dynamic_cast<CKorvoFormatAsynchronousFileWriter*>(flagged.get()));

    // Two folders: a multiple writer with a file writer each; a folder that cannot hold the file is left out.
    fs::create_directories(dir / "m1");
    fs::create_directories(dir / "m2");
    std::unique_ptr<CKorvoFormatDataWriter> multi(
        CreateDataWriter((folder + "m1/*" + folder + "m2/clip.mov").c_str(), kTransfer));
    auto* both = dynamic_cast<CKorvoFormatMultipleWriter*>(multi.get());
    ASSERT_TRUE(both);
    EXPECT_EQ(both->WriterCount(), 2u);
    testsupport::WriteWholeFile(dir / "not-a-folder", "x");
    std::unique_ptr<CKorvoFormatDataWriter> one(
        CreateDataWriter((folder + "m1/*" + folder + "not-a-folder/clip2.mov").c_str(), kTransfer));
    auto* single = dynamic_cast<CKorvoFormatMultipleWriter*>(one.get());
    ASSERT_TRUE(single);
    EXPECT_EQ(single->WriterCount(), 1u);
    EXPECT_EQ(CreateDataWriter((folder + "not-a-folder/clip3.mov").c_str(), kTransfer), nullptr);
}

TEST(MultipleWriterThreads, EveryTargetGetsTheSameBytes)
{
    const fs::path dir = FreshDir("multi");
    for (const char* sub : {"a", "b", "c"})
        fs::create_directories(dir / sub);
    const std::string folder = dir.string() + "/";
    std::unique_ptr<CKorvoFormatDataWriter> writer(
        CreateDataWriter((folder + "a/*" + folder + "b/*async:" + folder + "c/clip.mxf").c_str(), kTransfer));
    ASSERT_TRUE(writer);
    const std::string bytes = Pattern(0, 3000000);
    ASSERT_TRUE(WriteInPieces(*writer, bytes));
    // The header is rewritten at the end, as the file-format writers do.
    ASSERT_EQ(writer->SeekPos64(100), 0);
    uint32_t written = 0;
    ASSERT_EQ(writer->WriteData("HEADER", 6, &written), 0);
    ASSERT_EQ(writer->Close(), 0);
    std::string expected = bytes;
    expected.replace(100, 6, "HEADER");
    for (const char* sub : {"a", "b", "c"})
        EXPECT_TRUE(ReadWholeFile(dir / sub / "clip.mxf") == expected) << sub;
}

TEST(CKorvoFormatDataWriter, ZeroBytesDoNothing)
{
    const fs::path dir = FreshDir("zero");
    for (const std::string prefix : {"", "async:"}) {
        std::unique_ptr<CKorvoFormatDataWriter> writer(
            CreateDataWriter((prefix + (dir / "z.bin").string()).c_str(), kTransfer));
        ASSERT_TRUE(writer);
        uint32_t written = 1;
        EXPECT_EQ(writer->WriteData("x", 0, &written), 0);
        EXPECT_EQ(written, 0u);
        EXPECT_EQ(writer->Close(), 0);
        EXPECT_EQ(fs::file_size(dir / "z.bin"), 0u);
    }
}

// A file writer whose disk writes fail once a number of bytes went to a file in a folder named "bad...".
class FailingFileWriter : public CFileWriter
{
public:
    explicit FailingFileWriter(uint64_t failAfter) : _failAfter(failAfter) {}
    int OnWriteDone(uint32_t bytesWritten, double) override
    {
        if (_szFileName.find("bad") == std::string::npos)
            return 1;
        _total += bytesWritten;
        return _total <= _failAfter ? 1 : 0;
    }

private:
    uint64_t _failAfter;
    uint64_t _total = 0;
};

class FailingAsyncWriter : public CKorvoFormatAsynchronousFileWriter
{
public:
    explicit FailingAsyncWriter(uint64_t failAfter)
        : CKorvoFormatAsynchronousFileWriter(kTransfer, kTransfer), _failAfter(failAfter)
    {
        SetWaits(200, 10);
    }

protected:
    std::unique_ptr<CFileWriter> MakeFileWriter() override { return std::make_unique<FailingFileWriter>(_failAfter); }

private:
    uint64_t _failAfter;
};

TEST(AsyncFileWriterThreads, FolderThatFailsMidWriteMovesOnAndLosesNothing)
{
    // Two folders that reach the same storage, as two paths to one share do; the first fails mid-write.
    const fs::path dir = FreshDir("async-move");
    fs::create_directories(dir / "store");
    fs::create_directory_symlink(dir / "store", dir / "bad-path");
    FailingAsyncWriter writer(1 << 20);
    const std::string path = (dir / "bad-path").string() + "|" + (dir / "store").string() + "/clip.mxf";
    ASSERT_EQ(writer.Open(("async:" + path).c_str()), 0);
    const std::string bytes = Pattern(0, 5000000);
    ASSERT_TRUE(WriteInPieces(writer, bytes));
    EXPECT_EQ(writer.SeekPos64(0), 0);
    uint32_t written = 0;
    EXPECT_EQ(writer.WriteData("HEAD", 4, &written), 0);
    EXPECT_EQ(writer.Close(), 0);
    std::string expected = bytes;
    expected.replace(0, 4, "HEAD");
    EXPECT_TRUE(ReadWholeFile(dir / "store" / "clip.mxf") == expected);
}

TEST(AsyncFileWriterThreads, SecondFailureStopsTheThreadAndCloseReportsTheLoss)
{
    const fs::path dir = FreshDir("async-fail");
    fs::create_directories(dir / "bad1");
    fs::create_directories(dir / "bad2");
    FailingAsyncWriter writer(100000);
    const std::string path = (dir / "bad1").string() + "|" + (dir / "bad2").string() + "/clip.mxf";
    ASSERT_EQ(writer.Open(path.c_str()), 0);
    const std::string bytes = Pattern(0, 1000000);
    uint32_t written = 0;
    ASSERT_EQ(writer.WriteData(bytes.data(), static_cast<uint32_t>(bytes.size()), &written), 0);
    // Once the thread has given up, data is refused instead of queued for nobody.
    int result = 0;
    for (int i = 0; i < 500 && result == 0; ++i) {
        result = writer.WriteData(bytes.data(), 1000, &written);
        usleep(10000);
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(writer.Close(), -1);
}

TEST(AsyncFileWriterThreads, CloseWritesEverythingQueued)
{
    const fs::path dir = FreshDir("async-drain");
    std::unique_ptr<CKorvoFormatDataWriter> writer(
        CreateDataWriter(("async:" + (dir / "clip.mxf").string()).c_str(), kTransfer));
    ASSERT_TRUE(writer);
    const std::string bytes = Pattern(7, 12000000);
    ASSERT_TRUE(WriteInPieces(*writer, bytes));
    EXPECT_EQ(writer->Close(), 0);
    EXPECT_TRUE(ReadWholeFile(dir / "clip.mxf") == bytes);
}

class FtpWriterThreads : public ::testing::TestWithParam<bool>
{
};

TEST_P(FtpWriterThreads, UploadToPyftpdlib)
{
    const bool asynchronous = GetParam();
    const fs::path root = FreshDir(asynchronous ? "ftp-async" : "ftp-plain");
    testsupport::PyFtpServer server(root);
    ASSERT_TRUE(server.IsRunning());
    const std::string url = "ftp://" + server.Address() + "/media/clip.mxf";
    std::unique_ptr<CKorvoFormatDataWriter> writer(CreateDataWriterEx(url.c_str(), asynchronous, kTransfer, kTransfer));
    ASSERT_TRUE(writer);
    EXPECT_EQ(asynchronous, dynamic_cast<CKorvoFormatAsynchronousFTPWriter*>(writer.get()) != nullptr);
    const std::string bytes = Pattern(3, 3000000);
    ASSERT_TRUE(WriteInPieces(*writer, bytes));
    EXPECT_EQ(writer->Close(), 0);
    EXPECT_TRUE(ReadWholeFile(root / "media" / "clip.mxf") == bytes);
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpWriterThreads, ::testing::Values(false, true));

TEST(CKorvoFormatFTPWriter, UploadToTheVideoServerSimulator)
{
    rixsim::CRixSimServer server;
    ASSERT_TRUE(server.Start());
    const std::string url = "ftp://127.0.0.1:" + std::to_string(server.FtpPort()) + "/media/clip.mxf";
    std::unique_ptr<CKorvoFormatDataWriter> writer(CreateDataWriter(url.c_str(), kTransfer));
    ASSERT_TRUE(writer);
    const std::string bytes = Pattern(5, 2500000);
    ASSERT_TRUE(WriteInPieces(*writer, bytes));
    EXPECT_EQ(writer->Close(), 0);
    const auto stored = server.Store().FileData("/media/clip.mxf");
    EXPECT_TRUE(std::string(stored.begin(), stored.end()) == bytes) << stored.size();
}

}  // namespace

namespace
{
TEST(AsyncFileWriterThreads, LimitsComeFromTheRegistry)
{
    using platform::RegHive;
    using platform::Registry;
    const char key[] = "SOFTWARE\\Brennhall\\Common";
    {
        CKorvoFormatAsynchronousFileWriter writer(kTransfer, kTransfer);
        EXPECT_EQ(writer.GetMaxBackBytes(), 0x1000000u);
        EXPECT_EQ(writer.GetMaxBufferBytes(), 0x10000000u);
    }
    Registry::SetDword(RegHive::LocalMachine, key, "Async Max Back Bytes", 0x20000);
    Registry::SetDword(RegHive::LocalMachine, key, "Async Max Buffer Bytes", 0x40000);
    CKorvoFormatAsynchronousFileWriter writer(kTransfer, kTransfer);
    EXPECT_EQ(writer.GetMaxBackBytes(), 0x20000u);
    EXPECT_EQ(writer.GetMaxBufferBytes(), 0x40000u);
    // With a small queue the caller waits for the writer now and then; nothing is lost.
    const fs::path dir = FreshDir("async-small");
    ASSERT_EQ(writer.Open((dir / "clip.mxf").c_str()), 0);
    const std::string bytes = Pattern(11, 3000000);
    ASSERT_TRUE(WriteInPieces(writer, bytes));
    EXPECT_EQ(writer.Close(), 0);
    EXPECT_TRUE(ReadWholeFile(dir / "clip.mxf") == bytes);
    Registry::DeleteValue(RegHive::LocalMachine, key, "Async Max Back Bytes");
    Registry::DeleteValue(RegHive::LocalMachine, key, "Async Max Buffer Bytes");
}
}  // namespace

namespace
{
// A disk that hangs: every write waits until the test lets it go.
class BlockingFileWriter : public CFileWriter
{
public:
    explicit BlockingFileWriter(std::shared_future<void> release) : _release(std::move(release)) {}
    int OnWriteDone(uint32_t, double) override
    {
        _release.wait();
        return 1;
    }

private:
    std::shared_future<void> _release;
};

class HungDiskAsyncWriter : public CKorvoFormatAsynchronousFileWriter
{
public:
    explicit HungDiskAsyncWriter(std::shared_future<void> release)
        : CKorvoFormatAsynchronousFileWriter(kTransfer, kTransfer), _release(std::move(release))
    {
        SetWaits(100, 10);
    }

protected:
    std::unique_ptr<CFileWriter> MakeFileWriter() override { return std::make_unique<BlockingFileWriter>(_release); }

private:
    std::shared_future<void> _release;
};

TEST(AsyncFileWriterThreads, FullQueueOverAHungDiskFailsAfterTheReleaseWaitAndKeepsTheData)
{
    using platform::RegHive;
    using platform::Registry;
    const char key[] = "SOFTWARE\\Brennhall\\Common";
    Registry::SetDword(RegHive::LocalMachine, key, "Async Max Buffer Bytes", 0x40000);
    std::promise<void> release;
    HungDiskAsyncWriter writer(release.get_future().share());
    Registry::DeleteValue(RegHive::LocalMachine, key, "Async Max Buffer Bytes");
    const fs::path dir = FreshDir("async-hung");
    ASSERT_EQ(writer.Open((dir / "clip.mxf").c_str()), 0);
    const std::string bytes = Pattern(13, 0x100000);
    // The first piece reaches the disk and hangs there; the queue fills up behind it.
    int result = 0;
    size_t at = 0;
    for (; at < bytes.size() && result == 0; at += 0x10000) {
        uint32_t written = 0;
        result = writer.WriteData(bytes.data() + at, 0x10000, &written);
        EXPECT_EQ(written, 0x10000u);
    }
    EXPECT_EQ(result, -1);
    EXPECT_LT(at, bytes.size());
    // The disk comes back: what was queued, the refused piece included, reaches the file.
    release.set_value();
    for (; at < bytes.size(); at += 0x10000) {
        uint32_t written = 0;
        ASSERT_EQ(writer.WriteData(bytes.data() + at, 0x10000, &written), 0);
    }
    EXPECT_EQ(writer.Close(), 0);
    EXPECT_TRUE(ReadWholeFile(dir / "clip.mxf") == bytes);
}

// The disk hangs with data queued: Close stops waiting after its wait, the writer stops after the write it is in, and
// the loss is reported.
TEST(AsyncFileWriterThreads, CloseOverAHungDiskGivesUpAfterItsWaitAndReportsTheLoss)
{
    testsupport::LogCapture log("");
    std::promise<void> release;
    HungDiskAsyncWriter writer(release.get_future().share());
    writer.SetCloseWaitMs(200);
    const fs::path dir = FreshDir("async-hung-close");
    ASSERT_EQ(writer.Open((dir / "clip.mxf").c_str()), 0);
    const std::string bytes = Pattern(17, 0x40000);
    for (size_t at = 0; at < bytes.size(); at += 0x10000) {
        uint32_t written = 0;
        ASSERT_EQ(writer.WriteData(bytes.data() + at, 0x10000, &written), 0);
    }
    auto closing = std::async(std::launch::async, [&] { return writer.Close(); });
    bool gaveUp = false;
    for (int i = 0; i < 1000 && !gaveUp; ++i) {
        gaveUp = log.Has("no write ended within 200 ms");
        if (!gaveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    release.set_value();  // the write in progress ends; nothing is written after it
    EXPECT_TRUE(gaveUp) << log.Text();
    EXPECT_EQ(closing.get(), -1);
    EXPECT_LT(ReadWholeFile(dir / "clip.mxf").size(), bytes.size());
}
}  // namespace
