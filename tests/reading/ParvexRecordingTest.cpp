// Clip files still being recorded: no footer, blocks found by scanning back from the end and by interpolation,
// and a clip that grows while a writer holding the write lock appends blocks in another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "platform/File.h"
#include "reading/framework/SourceReaderFactory.h"
#include "reading/parvex/CMXF_Parvex_AudioDataReader.h"
#include "reading/parvex/CParvexVideoDataReader.h"
#include "tests/reading/ParvexClipKit.h"
#include "tests/support/FileTestKit.h"

namespace
{

using namespace parvexclip;

// 2kTable blocks of 41 fields each (the table's limit with timecode records).
constexpr ClipSpec kRecording = {"Recording", KORVOMXF_FORMAT_TBL2K_2MB, 2, 3,           1,    0,
                                 1,           "mjpeg_fields.mjpeg",      0, 41 * 12 + 5, false};
constexpr uint32_t kFieldsPerBlock = 41;
constexpr uint64_t kBlockSize = 0x200000;

std::unique_ptr<CSourceReader> Source(const std::string& path)
{
    return CreateSourceReader(path.c_str(), 0, 0, "");
}

class ParvexRecordingFile : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_FALSE(MediaDir().empty());
        _dir = testsupport::FreshDir("parvex-recording");
        // A copy taken while the writer still has the file open holds 12 whole blocks and no footer.
        ClipWriter writer(kRecording);
        const std::string final = (_dir / "final.mxf").string();
        ASSERT_TRUE(writer.Open(final, kRecording.nPictures));
        for (uint32_t i = 0; i < kRecording.nPictures; ++i)
            ASSERT_TRUE(writer.Add(i));
        fs::copy_file(final, _dir / "recording.mxf");
        ASSERT_TRUE(writer.Close());
        ASSERT_EQ(fs::file_size(_dir / "recording.mxf"), 0x200000 + 12 * kBlockSize);
    }
    static void TearDownTestSuite() { fs::remove_all(_dir); }

    // A fresh copy of the recording, cut to a number of blocks.
    std::string Copy(const std::string& name, uint32_t blocks)
    {
        const fs::path path = _dir / name;
        fs::copy_file(_dir / "recording.mxf", path, fs::copy_options::overwrite_existing);
        fs::resize_file(path, 0x200000 + blocks * kBlockSize);
        return path.string();
    }

    static fs::path _dir;
};

fs::path ParvexRecordingFile::_dir;

TEST_F(ParvexRecordingFile, LastBlockScanKeepsOffTheBlockBeingWritten)
{
    const std::string path = Copy("scan.mxf", 12);
    // Without a footer the last whole block may be unfinished, whether or not the writer's lock is seen (a
    // writer on another host): the scan starts one before. Interlaced clips end on a whole frame.
    {
        CParvexDataReader reader("");
        ASSERT_EQ(reader.AttachSourceReader(Source(path), 1), 0);
        EXPECT_FALSE(reader.IsIndexed());
        EXPECT_EQ(reader.GetBlockCount(), 11u);
        int32_t in = 0, out = 0;
        ASSERT_EQ(reader.GetInOut(&in, &out, nullptr), 0);
        EXPECT_EQ(in, static_cast<int32_t>(kFirstField));
        EXPECT_EQ(out, static_cast<int32_t>(kFirstField + 11 * kFieldsPerBlock - 1));
        testsupport::LogCapture log("default");
        ASSERT_EQ(reader.GetInOut(&in, &out, nullptr), 0);
        EXPECT_TRUE(log.Has("-> UNCHANGED FILE END !!"));
    }
    platform::File writer;
    ASSERT_TRUE(writer.Open(path, platform::File::Access::ReadWrite, platform::File::Disposition::OpenExisting));
    ASSERT_TRUE(writer.LockForWriting());
    {
        CParvexDataReader reader("");
        ASSERT_EQ(reader.AttachSourceReader(Source(path), 1), 0);
        EXPECT_EQ(reader.GetBlockCount(), 11u);
    }
    // Blocks whose tables are not there yet are stepped over.
    std::vector<uint8_t> zeros(2048, 0);
    for (uint32_t b : {9u, 10u})
        ASSERT_EQ(writer.WriteAt(zeros.data(), zeros.size(), 0x200000 + (b + 1) * kBlockSize - 2048), 2048);
    {
        CParvexDataReader reader("");
        ASSERT_EQ(reader.AttachSourceReader(Source(path), 1), 0);
        EXPECT_EQ(reader.GetBlockCount(), 9u);
    }
    // One whole block while writing: nothing can be trusted yet.
    ASSERT_TRUE(writer.Truncate(0x200000 + kBlockSize));
    CParvexDataReader reader("");
    EXPECT_EQ(reader.AttachSourceReader(Source(path), 1), CParvexDataReader::kOpenNoLastBlock);
    EXPECT_FALSE(reader.IsOpen());
}

// The writer's last block has its size on disk but not yet its bytes (its table already there), and no lock
// is seen: no picture handed out is made of unwritten bytes, whether the file ends with that block or goes on
// past it; the out point ends on a whole frame as the finished file's does.
TEST_F(ParvexRecordingFile, UnwrittenLastBlockIsNeverHandedOut)
{
    for (const uint64_t beyond : {uint64_t{0}, uint64_t{4096}}) {
        SCOPED_TRACE(beyond);
        const std::string path = Copy("unwritten.mxf", 12);
        {
            platform::File file;
            ASSERT_TRUE(file.Open(path, platform::File::Access::ReadWrite, platform::File::Disposition::OpenExisting));
            std::vector<uint8_t> zeros(kBlockSize - 2048, 0);
            ASSERT_EQ(file.WriteAt(zeros.data(), zeros.size(), 0x200000 + 11 * kBlockSize),
                      static_cast<int64_t>(zeros.size()));
            if (beyond != 0)
                ASSERT_TRUE(file.Truncate(0x200000 + 12 * kBlockSize + beyond));
        }
        ClipWriter media(kRecording);
        CParvexVideoDataReader video("", true, true);
        ASSERT_EQ(video.AttachSourceReader(Source(path), 1), 0);
        uint32_t count = 0;
        uint8_t* data = nullptr;
        uint32_t size = 0;
        for (; video.GetNextData(&data, 0, &size, nullptr) == 0; data = nullptr, ++count) {
            ASSERT_LT(count, kRecording.nPictures);
            ASSERT_EQ(0, std::memcmp(data, media.MediaPicture(count).data(), media.MediaPicture(count).size()))
                << count;
        }
        EXPECT_EQ(count, 11 * kFieldsPerBlock);
        int32_t in = 0, out = 0;
        ASSERT_EQ(video.GetInOut(&in, &out, nullptr), 0);
        EXPECT_EQ(out, static_cast<int32_t>(kFirstField + 11 * kFieldsPerBlock - 1));
    }
    // Once the writer has gone past a block, that block counts.
    const std::string path = Copy("movedon.mxf", 12);
    ASSERT_TRUE(fs::exists(path));
    fs::resize_file(path, 0x200000 + 12 * kBlockSize + 4096);
    CParvexDataReader reader("");
    ASSERT_EQ(reader.AttachSourceReader(Source(path), 1), 0);
    EXPECT_EQ(reader.GetBlockCount(), 12u);

    // The finished file's out point ends on a whole frame the same way.
    CParvexVideoDataReader finished("", true, true);
    ASSERT_EQ(finished.AttachSourceReader(Source((_dir / "final.mxf").string()), 1), 0);
    int32_t in = 0, out = 0;
    ASSERT_EQ(finished.GetInOut(&in, &out, nullptr), 0);
    EXPECT_EQ(out, static_cast<int32_t>(kFirstField + kRecording.nPictures - 1));
}

TEST_F(ParvexRecordingFile, FieldSearchInterpolatesBetweenKnownBlocks)
{
    // The thirteenth block is still being written.
    const std::string path = Copy("search.mxf", 13);
    CParvexDataReader reader("");
    ASSERT_EQ(reader.AttachSourceReader(Source(path), 1), 0);
    for (uint32_t field : {200u, 0u, 491u, 41u, 40u, 300u, 123u, 450u}) {
        SCOPED_TRACE(field);
        ASSERT_EQ(reader.GoToFieldOffset(field), 0);
        EXPECT_EQ(reader.GetCurrentBlock(), static_cast<int32_t>(field / kFieldsPerBlock));
    }
    EXPECT_EQ(reader.GoToFieldOffset(12 * kFieldsPerBlock), CParvexDataReader::kBeyondEnd);
    EXPECT_EQ(reader.GetCurrentBlock(), -1);

    // The video reader walks the same file to its end and back.
    CParvexVideoDataReader video("", true, true);
    ASSERT_EQ(video.AttachSourceReader(Source(path), 1), 0);
    ClipWriter media(kRecording);
    ASSERT_EQ(video.GoToFieldOffset(300), 0);
    uint8_t* data = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(video.GetNextData(&data, 0, &size, nullptr), 0);
    EXPECT_EQ(0, std::memcmp(data, media.MediaPicture(300).data(), media.MediaPicture(300).size()));
    uint32_t count = 301;
    for (data = nullptr; video.GetNextData(&data, 0, &size, nullptr) == 0; data = nullptr)
        ++count;
    EXPECT_EQ(count, 12 * kFieldsPerBlock);
    EXPECT_EQ(video.GoToDataEnd(), 0);
    data = nullptr;
    ASSERT_EQ(video.GetPrevData(&data, 0, &size, nullptr), 0);
    EXPECT_EQ(0, std::memcmp(data, media.MediaPicture(count - 1).data(), media.MediaPicture(count - 1).size()));
}

// A writer thread appends pictures while the readers follow the file to its end.
TEST(ParvexGrowingClipThreads, ReadersFollowTheClipToItsEnd)
{
    ASSERT_FALSE(MediaDir().empty());
    const ClipSpec clipSpec = {"Growing", KORVOMXF_FORMAT_TBL2K_2MB, 2, 3,   1,    0,
                               1,         "mjpeg_fields.mjpeg",      0, 400, false};
    const fs::path dir = testsupport::FreshDir("parvex-growing");
    const std::string path = (dir / "clip.mxf").string();
    ClipWriter media(clipSpec);  // the readers' reference; the writer thread has its own
    std::atomic<bool> done{false};
    std::atomic<bool> failed{false};
    std::atomic<bool> opened{false};
    std::thread writerThread([&] {
        ClipWriter writer(clipSpec);
        bool ok = writer.Open(path, clipSpec.nPictures);
        for (uint32_t i = 0; ok && i < clipSpec.nPictures; ++i) {
            // Three blocks out: the readers open before the rest comes.
            for (int wait = 0; i == 3 * kFieldsPerBlock + 1 && !opened && wait < 10000; ++wait)
                platform::SleepMs(1);
            ok = writer.Add(i);
            if (i % 8 == 0)
                platform::SleepMs(1);
        }
        failed = !(writer.Close() && ok);
        done = true;
    });

    // A failed assertion below still waits for the writer.
    struct Joiner {
        std::thread& t;
        ~Joiner()
        {
            if (t.joinable())
                t.join();
        }
    } joiner{writerThread};
    CParvexVideoDataReader video("", true, true);
    CMXF_Parvex_AudioDataReader audio("");
    // The readers open once the writer has put out the header and two blocks.
    while (!done && platform::File::SizeOf(path).value_or(0) < 0x200000 + 2 * kBlockSize)
        platform::SleepMs(1);
    ASSERT_EQ(video.AttachSourceReader(Source(path), 1), 0);
    ASSERT_EQ(audio.AttachSourceReader(Source(path), 1), 0);
    const bool startedEarly = !done;
    opened = true;

    uint32_t pictures = 0;
    Bytes samples;
    Bytes buffer(0x200000);
    bool videoEnded = false, audioEnded = false;
    for (bool writerWasDone = false; !(videoEnded && audioEnded);) {
        writerWasDone = done;
        bool progressed = false;
        uint8_t* data = nullptr;
        uint32_t size = 0;
        int32_t rc = 0;
        while (!videoEnded && (rc = video.GetNextData(&data, 0, &size, nullptr)) == 0) {
            const Bytes& expected = media.MediaPicture(pictures);
            ASSERT_GE(size, expected.size());
            ASSERT_EQ(0, std::memcmp(data, expected.data(), expected.size())) << pictures;
            ++pictures;
            progressed = true;
            data = nullptr;
        }
        ASSERT_EQ(rc, videoEnded ? 0 : 100);
        data = buffer.data();
        while (!audioEnded &&
               (rc = audio.GetNextData(&data, static_cast<uint32_t>(buffer.size()), &size, nullptr)) == 0) {
            samples.insert(samples.end(), data, data + size);
            progressed = true;
        }
        ASSERT_EQ(rc, audioEnded ? 0 : 100);
        // Once the writer had finished before a pass, a pass that found nothing more is the end.
        if (writerWasDone && !progressed)
            videoEnded = audioEnded = true;
        else if (!progressed)
            platform::SleepMs(1);
    }
    writerThread.join();
    EXPECT_FALSE(failed);
    EXPECT_TRUE(startedEarly);
    EXPECT_EQ(pictures, clipSpec.nPictures);
    Bytes expected;
    for (uint32_t f = 0; f < clipSpec.nPictures; ++f) {
        const Bytes field = FieldSamples(clipSpec, kFirstField + f);
        expected.insert(expected.end(), field.begin(), field.end());
    }
    EXPECT_TRUE(samples == expected);
    int32_t in = 0, out = 0;
    ASSERT_EQ(video.GetInOut(&in, &out, nullptr), 0);
    EXPECT_EQ(out, static_cast<int32_t>(kFirstField + clipSpec.nPictures));
    fs::remove_all(dir);
}

}  // namespace
