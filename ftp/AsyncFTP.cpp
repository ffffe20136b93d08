#include "ftp/AsyncFTP.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstring>
#include <new>

#include "common/CLogManager.h"
#include "platform/Registry.h"

AsyncFTP::AsyncFTP() : CKorvoFtpClient("")
{
    auto limit = platform::Registry::GetDword(platform::RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Common",
                                              "Async Max Buffer Bytes");
    _nQueueLimit = limit ? *limit : kDefaultQueueLimit;
}

AsyncFTP::~AsyncFTP()
{
    // The thread calls the virtual hooks: it must end while this object is whole.
    if (_writeThread.joinable())
        AsyncFTP::FtpCloseFile(false);
}

void AsyncFTP::GetBufferUsage(uint64_t* pQueued, uint32_t* pLimit)
{
    std::lock_guard lock(_listLock);
    if (pQueued)
        *pQueued = _nQueuedBytes;
    if (pLimit)
        *pLimit = _nQueueLimit;
}

int AsyncFTP::FtpOpenFile(int type, int64_t offset, int seekMode)
{
    if (_writeThread.joinable())
        FtpCloseFile(false);
    int result = CKorvoFtpClient::FtpOpenFile(type, offset, seekMode);
    if (result != 0)
        return result;
    {
        std::lock_guard lock(_listLock);
        _nQueuedBytes = 0;
        _nRecordsAllocated = 0;
        _bDataQueued = false;
        _bStop = false;
        _bThreadDone = false;
    }
    if (type != kStore && type != kAppend && type != kStoreAt)
        return 1;
    _bAbort = false;
    _bReconnectNeeded = false;
    _writeThread = std::thread(&AsyncFTP::WriteThread, this);
    return 0;
}

int AsyncFTP::FtpWriteFile(const void* data, uint32_t length)
{
    if (length == 0)
        return 0;
    if (!data)
        return 2;
    if (!_writeThread.joinable()) {
        // Nothing would ever send it.
        theLogManager.LogTo(_szLogName, "AsyncFTP::FtpWriteFile - no transfer open !");
        return -1;
    }
    RecordPtr record;
    {
        std::lock_guard lock(_listLock);
        if (!_free.empty()) {
            record = std::move(_free.back());
            _free.pop_back();
        }
    }
    if (!record) {
        record.reset(new (std::nothrow) Record);
        if (!record)
            return 1;
    }
    if (record->nCapacity < length) {
        record->memory.reset();
        record->nCapacity = 0;
        size_t capacity = RecordCapacity(length);
        record->memory = platform::MakePageBuffer(capacity);
        if (!record->memory)
            return 1;
        record->nCapacity = capacity;
        ++_nRecordsAllocated;
    }
    std::memcpy(record->memory.get(), data, length);
    record->nLength = length;
    record->nFilePos = -1;

    std::lock_guard lock(_listLock);
    _queue.push_back(std::move(record));
    _nQueuedBytes += length;
    _bDataQueued = true;
    _wake.notify_all();
    return _nQueuedBytes >= _nQueueLimit ? 2 : 0;
}

void AsyncFTP::WaitForBacklog(uint64_t bytes)
{
    std::unique_lock lock(_listLock);
    // A write thread waiting to retry after a failure sends nothing for a while: the caller is not held then.
    _wake.wait(lock, [&] { return _nQueuedBytes <= bytes || _bThreadDone || _bRetrying || _bAbort; });
}

int AsyncFTP::FtpCloseFile(bool abort)
{
    // Reached from the write thread through a reconnect: only the data connection ends there.
    if (std::this_thread::get_id() == _writeThread.get_id())
        return CKorvoFtpClient::FtpCloseFile(abort);
    const bool writing = _writeThread.joinable();
    StopWriteThread();
    uint64_t unsent = 0;
    {
        std::lock_guard lock(_listLock);
        for (const RecordPtr& record : _queue)
            unsent += record->nLength;
    }
    int result = CKorvoFtpClient::FtpCloseFile(abort);
    if (writing && unsent == 0 && !abort)
        result = ResendLostTail(result);
    {
        std::lock_guard lock(_listLock);
        _queue.clear();
        _sent.clear();
        _free.clear();
        _nQueuedBytes = 0;
    }
    if (unsent > 0) {
        theLogManager.LogTo(_szLogName, "*** AsyncFTP::FtpCloseFile - %" PRIu64 " Bytes NOT SENT !!", unsent);
        return -1;
    }
    return result;
}

int AsyncFTP::ResendLostTail(int closeResult)
{
    // Bytes the socket took just before a break are lost without a failed send: only the server's
    // size tells. The buffers kept still hold them.
    for (int attempt = 0;; ++attempt) {
        int64_t size = 0;
        if (GetFileSize(_szCurrentDir + _szFileName, &size) != 0 || size >= _nTransferPos)
            return closeResult;
        theLogManager.LogTo(_szLogName,
                            "AsyncFTP::FtpCloseFile - server holds %" PRId64 " of %" PRId64 " Bytes, resending ...",
                            size, _nTransferPos);
        RecordPtr last;
        {
            std::lock_guard lock(_listLock);
            if (attempt == 3 || _sent.empty())
                break;
            last = std::move(_sent.back());
            _sent.pop_back();
        }
        PushFront(std::move(last));
        _bReconnectNeeded = true;
        if (DrainQueue() != 0)
            break;
        closeResult = CKorvoFtpClient::FtpCloseFile(false);
    }
    theLogManager.LogTo(_szLogName, "*** AsyncFTP::FtpCloseFile - file INCOMPLETE on the server !!");
    return -1;
}

void AsyncFTP::StopWriteThread()
{
    if (!_writeThread.joinable())
        return;
    std::unique_lock lock(_listLock);
    _bStop = true;
    _wake.notify_all();
    while (!_wake.wait_for(lock, std::chrono::milliseconds(_nRetryWaitMs), [this] { return _bThreadDone; })) {
        lock.unlock();
        if (_bReconnectNeeded) {
            if (!_bAbort.exchange(true))
                theLogManager.LogTo(_szLogName, "AsyncFTP::FtpCloseFile - TERMINATING Write Thread !!");
            // Ends a send blocked on a dead connection; the thread sees the abort at its next step.
            _dataSocket.Shutdown();
        } else {
            OnAsyncEvent(kCloseWaiting);
            theLogManager.LogTo(_szLogName, "AsyncFTP::FtpCloseFile - still waiting write thread end ...");
        }
        lock.lock();
    }
    lock.unlock();
    _writeThread.join();
}

void AsyncFTP::WriteThread()
{
    for (;;) {
        bool stopping = false;
        {
            std::unique_lock lock(_listLock);
            _wake.wait(lock, [this] { return _bDataQueued || _bStop; });
            if (_bStop && !_bDataQueued)
                break;
            stopping = _bStop;
        }
        int result = DrainQueue();
        if (stopping || _bAbort)
            break;
        if (result != 0) {
            std::unique_lock lock(_listLock);
            _bRetrying = true;
            _wake.notify_all();
            bool stop = _wake.wait_for(lock, std::chrono::milliseconds(_nRetryWaitMs), [this] { return _bStop; });
            _bRetrying = false;
            if (stop)
                break;
        }
    }
    std::lock_guard lock(_listLock);
    _bThreadDone = true;
    _wake.notify_all();
}

int AsyncFTP::DrainQueue()
{
    for (;;) {
        RecordPtr record;
        {
            std::lock_guard lock(_listLock);
            if (_queue.empty()) {
                _bDataQueued = false;
                return 0;
            }
            record = std::move(_queue.front());
            _queue.pop_front();
            _nQueuedBytes -= record->nLength;
            _wake.notify_all();
        }
        if (record->nFilePos < 0)
            record->nFilePos = _nTransferPos;
        else if (record->nFilePos != _nTransferPos)
            _bReconnectNeeded = true;  // taken again after a failure: the file must be reopened at its position
        int result = WriteRecord(record);
        if (result != 0)
            return result;
        std::lock_guard lock(_listLock);
        _sent.push_back(std::move(record));
        uint64_t sentBytes = 0;
        for (const RecordPtr& sent : _sent)
            sentBytes += sent->nLength;
        while (_sent.size() > kMaxSentBuffers || (_sent.size() > 1 && sentBytes > kMaxSentBytes)) {
            RecordPtr oldest = std::move(_sent.front());
            _sent.pop_front();
            sentBytes -= oldest->nLength;
            if (_free.size() < kMaxFreeBuffers)
                _free.push_back(std::move(oldest));
        }
    }
}

int AsyncFTP::WriteRecord(RecordPtr& record)
{
    size_t done = 0;
    bool reopened = false;
    for (;;) {
        if (_bAbort) {
            PushFront(std::move(record));
            return 5;
        }
        if (_bReconnectNeeded) {
            int result = Reopen(record, &done);
            if (result != 0)
                return result;
            reopened = true;
        }
        if (done >= record->nLength)
            return 0;
        int64_t count = 0;
        int error =
            _dataSocket.Write(record->memory.get() + done, static_cast<uint32_t>(record->nLength - done), &count);
        if (error == 0) {
            done += static_cast<size_t>(count);
            _nTransferPos += count;
            reopened = false;
            continue;
        }
        {
            std::lock_guard lock(_lock);
            if (_ctrlSocket.IsValid()) {
                theLogManager.LogTo(_szLogName, "Waiting Transfer End message ...");
                int code = 0;
                theLogManager.LogTo(_szLogName, GetMsgReply(&code) == 0 ? "... RECEIVED !" : "... FAILED !");
            }
        }
        _bReconnectNeeded = true;
        if (reopened) {
            // Broken again before a byte went through: let the thread pause before the next try.
            PushFront(std::move(record));
            return 4;
        }
        OnAsyncEvent(kWriteFailed);
    }
}

int AsyncFTP::Reopen(RecordPtr& record, size_t* pDone)
{
    {
        std::lock_guard lock(_lock);
        if (_ctrlSocket.IsValid() && Noop() >= 0) {
            theLogManager.LogTo(_szLogName, "FTP Server still connected ...");
        } else if (Connect() != 0) {
            PushFront(std::move(record));
            OnAsyncEvent(kReconnectFailed);
            return 1;
        }
    }
    int64_t size = 0;
    if (GetFileSize(_szCurrentDir + _szFileName, &size) != 0) {
        theLogManager.LogTo(_szLogName, "Get File Size FAILURE !!");
        PushFront(std::move(record));
        return 2;
    }
    // Go back through the buffers kept until one starts inside what the server holds.
    while (record->nFilePos >= size) {
        std::lock_guard lock(_listLock);
        if (_sent.empty())
            break;
        _queue.push_front(std::move(record));
        _nQueuedBytes += _queue.front()->nLength;
        record = std::move(_sent.back());
        _sent.pop_back();
    }
    if (record->nFilePos > size) {
        // The bytes between are in no buffer any more: writing here would shift the rest of the file.
        theLogManager.LogTo(_szLogName,
                            "*** AsyncFTP - server file ends at %" PRId64 ", data resumes at %" PRId64
                            " - CANNOT RESEND !!",
                            size, record->nFilePos);
        PushFront(std::move(record));
        OnAsyncEvent(kReopenFailed);
        return 6;
    }
    theLogManager.LogTo(_szLogName,
                        "Socket connection reestablished - last file index: %" PRId64 " / overwrite: %" PRId64,
                        _nTransferPos, record->nFilePos);
    size_t done = 0;
    int result;
    if (_bRestSupported) {
        result = CKorvoFtpClient::FtpOpenFile(kStore, record->nFilePos, 1);
    } else {
        result = CKorvoFtpClient::FtpOpenFile(kAppend, 0, 0);
        // Appending goes on at the server's end: skip what it holds already.
        done = static_cast<size_t>(std::min<int64_t>(size - record->nFilePos, static_cast<int64_t>(record->nLength)));
    }
    if (result != 0) {
        theLogManager.LogTo(_szLogName, "Open File FAILURE !!");
        OnAsyncEvent(kReopenFailed);
        PushFront(std::move(record));
        return 3;
    }
    OnAsyncEvent(kReopened);
    _nTransferPos = record->nFilePos + static_cast<int64_t>(done);
    _bReconnectNeeded = false;
    *pDone = done;
    return 0;
}

void AsyncFTP::PushFront(RecordPtr record)
{
    std::lock_guard lock(_listLock);
    _nQueuedBytes += record->nLength;
    _queue.push_front(std::move(record));
    _bDataQueued = true;
}
