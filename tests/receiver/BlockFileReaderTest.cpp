#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/File.h"
#include "receiver/CKorvoBlockFileReader.h"
#include "receiver/ReceiverClips.h"
#include "support/FileTestKit.h"

namespace
{

using parvexclip::Bytes;
using parvexclip::MediaDir;
using namespace receivertest;
namespace fs = std::filesystem;

class BlockFileReader : public ::testing::TestWithParam<ClipSpec>
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(MediaDir().empty());
        _dir = testsupport::FreshDir(std::string("receiver-file-") + GetParam().pszName);
        _path = (_dir / "clip.mxf").string();
        _writer = std::make_unique<ClipWriter>(GetParam());
        ASSERT_TRUE(_writer->WriteAll(_path));
        _file = parvexclip::ReadFile(_path);
    }

    // Reads every block from the start; each must equal the file's bytes at its place.
    uint32_t ReadAll(CKorvoBlockFileReader& reader)
    {
        const uint32_t blockSize = BlockSizeOf(GetParam());
        uint32_t blocks = 0;
        uint32_t perField = 0;
        int rc = 0;
        while ((rc = reader.ReadNextBlock(&perField)) == 0) {
            EXPECT_EQ(perField, 1u);
            const uint64_t at = kHeaderArea + uint64_t{blocks} * blockSize;
            EXPECT_LE(at + blockSize, _file.size());
            EXPECT_EQ(0, std::memcmp(reader.GetBlockBuffer(), _file.data() + at, blockSize)) << blocks;
            ExpectBlockPictures(reader, *_writer, "forward");
            ++blocks;
        }
        EXPECT_EQ(rc, CKorvoBlockFileReader::kReadEnd);
        return blocks;
    }

    fs::path _dir;
    std::string _path;
    std::unique_ptr<ClipWriter> _writer;
    Bytes _file;
};

TEST_P(BlockFileReader, ReadsEveryBlockOfAnIndexedFile)
{
    CKorvoBlockFileReader reader;
    ASSERT_EQ(reader.Open(_path), 0);
    EXPECT_TRUE(reader.IsIndexed());
    EXPECT_EQ(reader.GetBlockSize(), BlockSizeOf(GetParam()));
    const uint32_t blocks = ReadAll(reader);
    EXPECT_GT(blocks, 1u);
    // The last block read is the clip's end; the footer is no block.
    EXPECT_EQ(reader.GetBlockData()->GetEndField(), kFirstField + GetParam().nPictures);
    EXPECT_EQ(reader.Close(), 0);
}

// Fields are found in both directions, in an indexed file and in the same file without its footer.
TEST_P(BlockFileReader, FindsFieldsInBothDirections)
{
    const fs::path plain = _dir / "plain.mxf";
    uint64_t essenceEnd = 0;
    {
        CKorvoBlockFileReader reader;
        ASSERT_EQ(reader.Open(_path), 0);
        essenceEnd = reader.GetDataEnd();
    }
    parvexclip::WriteFile(plain, _file.data(), essenceEnd);
    const uint32_t last = kFirstField + GetParam().nPictures - 1;
    const uint32_t fields[] = {last, kFirstField, kFirstField + GetParam().nPictures / 2, kFirstField + 1, last - 1};
    for (const std::string& path : {_path, plain.string()}) {
        CKorvoBlockFileReader reader;
        ASSERT_EQ(reader.Open(path), 0);
        EXPECT_EQ(reader.IsIndexed(), path == _path);
        for (const uint32_t field : fields) {
            uint32_t perField = 0;
            const int32_t element = reader.SetFirstField(field, &perField);
            ASSERT_TRUE(reader.IsFieldInBlock(element)) << path << " " << field;
            EXPECT_EQ(perField, 1u);
            int32_t size = 0;
            const uint8_t* video = reader.GetVideo(element, &size);
            const Bytes& expected = _writer->Stored()[field - kFirstField];
            ASSERT_NE(video, nullptr);
            EXPECT_EQ(0, std::memcmp(video, expected.data(), expected.size())) << path << " " << field;
        }
        // Before the clip: a negative element, which no block holds.
        uint32_t perField = 0;
        reader.SetFirstField(kFirstField, &perField);
        // Interlaced: the parity follows the server field.
        EXPECT_EQ(reader.FieldParity(0), static_cast<int>(kFirstField & 1));
        EXPECT_EQ(reader.FieldParity(1), static_cast<int>((kFirstField + 1) & 1));
        EXPECT_EQ(reader.StartFieldOffset(2, &perField), 2);
        EXPECT_FALSE(reader.IsFieldInBlock(-1));
    }
}

// An index entry at offset 0 names no block: the file's header is never read as one.
TEST_P(BlockFileReader, IndexOffsetZeroIsNoBlock)
{
    CKorvoBlockFileReader reader;
    ASSERT_EQ(reader.Open(_path), 0);
    ASSERT_TRUE(reader.IsIndexed());
    uint32_t first = 0;
    uint64_t offset = 0;
    ASSERT_EQ(reader.GetClipInfo().GetBlockInfo(1, &first, &offset), 0);
    ASSERT_EQ(reader.GetClipInfo().Index_Add_Block(1, first, first + 1, 0), 1);
    uint32_t perField = 0;
    EXPECT_EQ(reader.SetFirstField(first, &perField), 0);
    ASSERT_NE(reader.GetBlockData(), nullptr);
    EXPECT_EQ(reader.GetBlockData()->GetFirstField(), kFirstField);
    EXPECT_EQ(0, std::memcmp(reader.GetBlockBuffer(), _file.data() + kHeaderArea, 4096));
}

INSTANTIATE_TEST_SUITE_P(Layouts, BlockFileReader, ::testing::ValuesIn(kClipFiles), ClipName);

// The next block is read on another thread while the current one is used: a jump back waits for that read and
// takes the block it asked for, and reading on from there gives every block in order.
using BlockFileReaderThreads = BlockFileReader;

TEST_P(BlockFileReaderThreads, AReadAheadGivesWayToAJumpBack)
{
    CKorvoBlockFileReader reader;
    ASSERT_EQ(reader.Open(_path), 0);
    uint32_t perField = 0;
    ASSERT_EQ(reader.ReadNextBlock(&perField), CKorvoBlockFileReader::kReadOk);
    ASSERT_EQ(reader.ReadNextBlock(&perField), CKorvoBlockFileReader::kReadOk);
    const int32_t element = reader.SetFirstField(kFirstField + 1, &perField);
    ASSERT_TRUE(reader.IsFieldInBlock(element));
    EXPECT_EQ(reader.GetBlockData()->GetFirstField(), kFirstField);
    EXPECT_EQ(0, std::memcmp(reader.GetBlockBuffer(), _file.data() + kHeaderArea, BlockSizeOf(GetParam())));
    const uint32_t blockSize = BlockSizeOf(GetParam());
    uint32_t next = 1;
    while (reader.ReadNextBlock(&perField) == CKorvoBlockFileReader::kReadOk) {
        const uint64_t at = kHeaderArea + uint64_t{next} * blockSize;
        ASSERT_LE(at + blockSize, _file.size());
        EXPECT_EQ(0, std::memcmp(reader.GetBlockBuffer(), _file.data() + at, blockSize)) << next;
        ++next;
    }
    EXPECT_EQ(next, (reader.GetDataEnd() - kHeaderArea) / blockSize);
}

// Holds every read of a file that a thread other than the one that made the holder makes, as a stalled disk or share
// would: the kernel goes on with such a read only once it is answered.
class ReadHolder
{
public:
    explicit ReadHolder(const std::string& path) : _owner(static_cast<pid_t>(syscall(SYS_gettid)))
    {
        _fd = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_REPORT_TID, O_RDONLY | O_LARGEFILE);
        if (_fd >= 0 && fanotify_mark(_fd, FAN_MARK_ADD, FAN_ACCESS_PERM, AT_FDCWD, path.c_str()) == 0)
            _thread = std::thread([this] { Serve(); });
    }
    ~ReadHolder()
    {
        _bStop = true;
        if (_thread.joinable())
            _thread.join();
        Release();
        if (_fd >= 0)
            close(_fd);
    }
    bool Works() const { return _thread.joinable(); }
    // Waits until a read is held.
    bool WaitHeld(std::chrono::milliseconds limit)
    {
        std::unique_lock hold(_lock);
        return _changed.wait_for(hold, limit, [&] { return !_held.empty(); });
    }
    // Lets the held reads and every later one go on.
    void Release()
    {
        std::lock_guard hold(_lock);
        _bReleased = true;
        for (int event : _held)
            Answer(event);
        _held.clear();
    }

private:
    void Answer(int event)
    {
        fanotify_response response{event, FAN_ALLOW};
        EXPECT_EQ(write(_fd, &response, sizeof response), static_cast<ssize_t>(sizeof response));
        close(event);
    }
    void Serve()
    {
        alignas(fanotify_event_metadata) char buffer[4096];
        while (!_bStop) {
            pollfd ready{_fd, POLLIN, 0};
            if (poll(&ready, 1, 20) <= 0)
                continue;
            const ssize_t length = read(_fd, buffer, sizeof buffer);
            auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
            for (ssize_t left = length; FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left)) {
                std::lock_guard hold(_lock);
                if (event->pid == _owner || _bReleased) {
                    Answer(event->fd);
                } else {
                    _held.push_back(event->fd);
                    _changed.notify_all();
                }
            }
        }
    }

    const pid_t _owner;
    int _fd = -1;
    std::atomic<bool> _bStop{false};
    bool _bReleased = false;
    std::vector<int> _held;
    std::mutex _lock;
    std::condition_variable _changed;
    std::thread _thread;
};

// The read-ahead of the next block is stuck in the kernel: Close waits for it no longer than its bound, and the read
// ends on its own once the file answers again.
TEST_P(BlockFileReaderThreads, CloseDoesNotWaitForAStalledReadAhead)
{
    ReadHolder holder(_path);
    ASSERT_TRUE(holder.Works()) << "fanotify: " << std::strerror(errno);
    auto reader = std::make_unique<CKorvoBlockFileReader>();
    reader->SetCloseWaitMs(200);
    ASSERT_EQ(reader->Open(_path), 0);
    uint32_t perField = 0;
    ASSERT_EQ(reader->ReadNextBlock(&perField), CKorvoBlockFileReader::kReadOk);
    ASSERT_TRUE(holder.WaitHeld(std::chrono::seconds(5))) << "no read-ahead";
    auto closing = std::async(std::launch::async, [&] { return reader->Close(); });
    const bool closed = closing.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
    holder.Release();
    EXPECT_EQ(closing.get(), 0);
    EXPECT_TRUE(closed) << "Close waited for the stalled read";
    // The reader opens again and reads from the start.
    ASSERT_EQ(reader->Open(_path), 0);
    ASSERT_EQ(reader->ReadNextBlock(&perField), CKorvoBlockFileReader::kReadOk);
    EXPECT_EQ(0, std::memcmp(reader->GetBlockBuffer(), _file.data() + kHeaderArea, BlockSizeOf(GetParam())));
}

INSTANTIATE_TEST_SUITE_P(Layouts, BlockFileReaderThreads, ::testing::ValuesIn(kClipFiles), ClipName);

TEST(BlockFileReaderErrors, RefusesWhatIsNoClip)
{
    const fs::path dir = testsupport::FreshDir("receiver-file-errors");
    CKorvoBlockFileReader reader;
    EXPECT_EQ(reader.Open((dir / "missing.mxf").string()), 1);
    const Bytes junk(0x300000, 0x5A);
    parvexclip::WriteFile(dir / "junk.mxf", junk.data(), junk.size());
    EXPECT_NE(reader.Open((dir / "junk.mxf").string()), 0);
    uint32_t perField = 7;
    EXPECT_EQ(reader.ReadNextBlock(&perField), CKorvoBlockFileReader::kReadNotOpen);
    EXPECT_EQ(perField, 0u);
}

// A block whose bytes were damaged on disk is reported, not read.
TEST(BlockFileReaderErrors, DamagedBlockIsReported)
{
    ASSERT_FALSE(MediaDir().empty());
    const ClipSpec clipSpec = kClipFiles[0];
    const fs::path dir = testsupport::FreshDir("receiver-file-damaged");
    const std::string path = (dir / "clip.mxf").string();
    ClipWriter writer(clipSpec);
    ASSERT_TRUE(writer.WriteAll(path));
    Bytes file = parvexclip::ReadFile(path);
    // Second block: its table claims 200 fields.
    file[kHeaderArea + 0x200000 + 0x1FF800 + 4] = 0xFF;
    file[kHeaderArea + 0x200000 + 0x1FF800 + 5] = 0xFF;
    parvexclip::WriteFile(path, file.data(), file.size());
    CKorvoBlockFileReader reader;
    ASSERT_EQ(reader.Open(path), 0);
    uint32_t perField = 0;
    EXPECT_EQ(reader.ReadNextBlock(&perField), CKorvoBlockFileReader::kReadOk);
    EXPECT_EQ(reader.ReadNextBlock(&perField), CKorvoBlockFileReader::kReadDamaged);
    EXPECT_FALSE(reader.IsFieldInBlock(0));
}

// A writer thread appends pictures under its write lock while the reader follows the file to its true end.
TEST(BlockFileReaderThreads, FollowsAGrowingFileToItsEnd)
{
    ASSERT_FALSE(MediaDir().empty());
    const ClipSpec clipSpec = {"Growing", KORVOMXF_FORMAT_BAVD_2MB, 2, 3, 1, 0, 1, "mjpeg_fields.mjpeg", 0, 500, false};
    const fs::path dir = testsupport::FreshDir("receiver-file-growing");
    const std::string path = (dir / "clip.mxf").string();
    const uint64_t opening = kHeaderArea + 2 * 0x200000;  // the reader opens once the file holds two blocks
    std::atomic<bool> done{false}, failed{false}, opened{false};
    std::thread writerThread([&] {
        ClipWriter writer(clipSpec);
        bool ok = writer.Open(path, clipSpec.nPictures);
        for (uint32_t i = 0; ok && i < clipSpec.nPictures; ++i) {
            // The rest comes only after the reader has opened the file.
            for (int wait = 0; !opened && wait < 10000 && platform::File::SizeOf(path).value_or(0) >= opening; ++wait)
                platform::SleepMs(1);
            ok = writer.Add(i);
            if (i % 16 == 0)
                platform::SleepMs(1);
        }
        failed = !(writer.Close() && ok);
        done = true;
    });
    struct Joiner {
        std::thread& t;
        ~Joiner()
        {
            if (t.joinable())
                t.join();
        }
    } joiner{writerThread};
    while (!done && platform::File::SizeOf(path).value_or(0) < opening)
        platform::SleepMs(1);
    CKorvoBlockFileReader reader;
    reader.SetGrowWaitMs(2000);  // a loaded machine may pause the writer a while; its close ends the wait
    ASSERT_EQ(reader.Open(path), 0);
    const bool startedEarly = !done;
    // The writer holds its write lock: the reader keeps clear of the blocks it may still be writing.
    const bool lockedAtOpen = platform::File::IsLockedForWriting(path);
    const uint64_t endAtOpen = reader.GetDataEnd();
    opened = true;
    EXPECT_FALSE(reader.IsIndexed());
    std::vector<Bytes> blocks;
    uint32_t perField = 0;
    int rc = 0;
    while ((rc = reader.ReadNextBlock(&perField)) == 0)
        blocks.emplace_back(reader.GetBlockBuffer(), reader.GetBlockBuffer() + 0x200000);
    EXPECT_EQ(rc, CKorvoBlockFileReader::kReadEnd);
    writerThread.join();
    EXPECT_FALSE(failed);
    EXPECT_TRUE(startedEarly);
    EXPECT_TRUE(lockedAtOpen);
    EXPECT_LE(endAtOpen, kHeaderArea + 0x200000);
    // Every block of the finished file, in order, and nothing of its footer.
    const Bytes file = parvexclip::ReadFile(path);
    CKorvoBlockFileReader finished;
    ASSERT_EQ(finished.Open(path), 0);
    const uint64_t count = (finished.GetDataEnd() - kHeaderArea) / 0x200000;
    ASSERT_EQ(blocks.size(), count);
    for (size_t k = 0; k < blocks.size(); ++k)
        EXPECT_EQ(0, std::memcmp(blocks[k].data(), file.data() + kHeaderArea + k * 0x200000, 0x200000)) << k;
    EXPECT_EQ(CKorvo8MBlockData().SetBlockData(blocks.back().data(), 0x200000), kBlockDataOk);
}

}  // namespace
