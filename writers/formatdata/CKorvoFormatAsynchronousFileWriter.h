#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/CFileWriter.h"
#include "platform/PageBuffer.h"
#include "writers/formatdata/CKorvoFormatDataWriter.h"

// A file written by a thread of its own: WriteData only queues a copy. The folder part of the path may
// name alternatives separated by '|' (paths to the same storage); when a write fails the file is opened
// again in the next folder and the kept-back data is written again from its recorded position.
class CKorvoFormatAsynchronousFileWriter : public CKorvoFormatDataWriter
{
public:
    static constexpr uint32_t kDefaultMaxBackBytes = 0x1000000;
    static constexpr uint32_t kDefaultMaxBufferBytes = 0x10000000;
    static constexpr size_t kMaxFreeBuffers = 5;
    static constexpr uint32_t kBufferStep = 0x10000;

    CKorvoFormatAsynchronousFileWriter(uint32_t minTransfer, uint32_t maxTransfer);
    ~CKorvoFormatAsynchronousFileWriter() override;

    int Open(const char* path) override;
    // Waits until every queued byte is written, stops the thread and closes the file; -1 when data was lost. A
    // writer that writes nothing for the close wait is stopped after the write it is in, the rest dropped.
    int Close() override;
    // 0 with all bytes counted once queued; -1 when the writer thread has stopped. Above the queue limit the
    // caller waits for the writer to release a buffer, at most the release wait: -1 after it (the bytes stay
    // queued and counted).
    int WriteData(const void* data, uint32_t length, uint32_t* written) override;
    int SeekPos(uint32_t low, uint32_t high) override;
    bool IsOpen() override;

    // Waits of the writer: for a released buffer when the queue is full, and after a failed write (ms).
    void SetWaits(uint32_t releaseMs, uint32_t retryMs)
    {
        _nReleaseWaitMs = releaseMs;
        _nRetryWaitMs = retryMs;
    }
    // How long Close waits for a write to end before it gives up the data still queued (2500 ms).
    void SetCloseWaitMs(uint32_t ms) { _nCloseWaitMs = ms; }
    uint32_t GetMaxBackBytes() const { return _nMaxBackBytes; }
    uint32_t GetMaxBufferBytes() const { return _nMaxBufferBytes; }
    // The folder of the file being written now.
    std::string CurrentFolder() const;

protected:
    // The file writer of one open; tests hand in one that fails.
    virtual std::unique_ptr<CFileWriter> MakeFileWriter() { return std::make_unique<CFileWriter>(); }

private:
    struct Buffer {
        platform::PageBuffer memory;
        size_t nCapacity = 0;
        uint32_t nLength = 0;
        uint64_t nFilePos = 0;
        bool bPlaced = false;  // nFilePos was recorded
    };
    using BufferPtr = std::unique_ptr<Buffer>;
    enum PassResult {
        kPassOk = 0,
        kPassReopenFailed = 1,
        kPassSeekFailed = 2,
        kPassFailedTwice = 3,
        kPassNoWriter = 4,
        kPassRetry = 5,
        kPassAbandoned = 6  // Close gave up waiting: the rest is dropped
    };

    // Opens the file in the folder at index or a later one; false when none works.
    bool OpenKorvoWriter(size_t firstFolder, bool truncate);
    void WriterThread();
    PassResult WritePass();
    PassResult Reopen();
    void DropAll();
    int WaitDataWritten(int64_t timeoutMs);

    mutable std::mutex _lock;
    std::condition_variable _wake;
    bool _bDataQueued = false;
    bool _bStop = false;
    bool _bIdle = true;
    bool _bThreadAlive = false;
    bool _bFailed = false;   // data was lost; nothing more is taken
    bool _bAbandon = false;  // Close stopped waiting for the thread
    uint64_t _nWrites = 0;   // writes done, for Close to see progress
    std::deque<BufferPtr> _queue;
    std::deque<BufferPtr> _writtenBack;
    std::deque<BufferPtr> _free;
    uint64_t _nQueuedBytes = 0;
    uint64_t _nWrittenBackBytes = 0;
    uint64_t _nReleases = 0;  // counts buffers moved to the free list

    std::thread _thread;
    std::unique_ptr<CFileWriter> _writer;
    std::vector<std::string> _folders;
    std::string _szFileName;
    size_t _nFolder = 0;
    bool _bReopenNeeded = false;
    int _nFailuresInRow = 0;
    bool _bFailedBefore = false;
    uint64_t _nLastFailurePos = 0;

    uint32_t _nMaxBackBytes = kDefaultMaxBackBytes;
    uint32_t _nMaxBufferBytes = kDefaultMaxBufferBytes;
    uint32_t _nReleaseWaitMs = 1000;
    uint32_t _nRetryWaitMs = 1000;
    uint32_t _nCloseWaitMs = 2500;
};
