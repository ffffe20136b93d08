#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "ftp/CKorvoFtpClient.h"
#include "platform/PageBuffer.h"

// An FTP client whose writes only queue the data: a write thread sends the queue in order, keeps the
// most recent buffers, and after a broken connection reconnects, asks the server how much of the file
// it holds and sends again from there.
class AsyncFTP : public CKorvoFtpClient
{
public:
    // Codes of OnAsyncEvent.
    static constexpr int kReopened = 0;
    static constexpr int kWriteFailed = 1;
    static constexpr int kReopenFailed = 2;
    static constexpr int kReconnectFailed = 3;
    static constexpr int kCloseWaiting = 4;

    static constexpr size_t kMaxSentBuffers = 20;
    // Bytes of sent buffers kept beyond the newest: more than the socket buffers on both sides may hold unsent,
    // and with large writes few enough that later writes reuse the buffers instead of mapping new memory.
    static constexpr uint64_t kMaxSentBytes = 32u << 20;
    static constexpr size_t kMaxFreeBuffers = 5;
    static constexpr uint32_t kDefaultQueueLimit = 0x10000000;

    AsyncFTP();
    ~AsyncFTP() override;

    int FtpOpenFile(int type, int64_t offset, int seekMode) override;
    int FtpCloseFile(bool abort) override;
    int FtpWriteFile(const void* data, uint32_t length) override;
    // Also ends when the write thread has stopped or gives up.
    void WaitForBacklog(uint64_t bytes) override;

    // Bytes waiting to be sent and the limit above which writes ask the caller to slow down.
    void GetBufferUsage(uint64_t* pQueued, uint32_t* pLimit);
    // Records that got new memory since the transfer opened; the others reused a record's.
    uint32_t GetRecordsAllocated() const { return _nRecordsAllocated; }
    // The write thread's wait after a failed pass; tests shorten it.
    void SetRetryWaitMs(uint32_t ms) { _nRetryWaitMs = ms; }

    // Bytes of memory a record gets for a write of this length.
    static size_t RecordCapacity(size_t length) { return (length / 65536) * 65536 + 65536; }

protected:
    virtual void OnAsyncEvent(int code) { (void)code; }

private:
    struct Record {
        platform::PageBuffer memory;
        size_t nCapacity = 0;
        size_t nLength = 0;
        int64_t nFilePos = -1;  // set once, when first taken from the queue
    };
    using RecordPtr = std::unique_ptr<Record>;

    void WriteThread();
    int DrainQueue();
    int WriteRecord(RecordPtr& record);
    int Reopen(RecordPtr& record, size_t* pDone);
    void PushFront(RecordPtr record);
    void StopWriteThread();
    int ResendLostTail(int closeResult);

    std::thread _writeThread;
    std::mutex _listLock;  // the three lists, the byte count and the thread's wake-up flags
    std::condition_variable _wake;
    bool _bDataQueued = false;
    bool _bStop = false;
    bool _bThreadDone = false;
    bool _bRetrying = false;  // the write thread waits after a failed pass
    std::atomic<bool> _bAbort{false};
    std::atomic<bool> _bReconnectNeeded{false};
    std::deque<RecordPtr> _queue;
    std::deque<RecordPtr> _sent;
    std::deque<RecordPtr> _free;
    uint64_t _nQueuedBytes = 0;
    uint32_t _nQueueLimit = kDefaultQueueLimit;
    uint32_t _nRetryWaitMs = 1000;
    uint32_t _nRecordsAllocated = 0;  // counted by FtpWriteFile
};
