#include "writers/formatdata/CKorvoFormatAsynchronousFileWriter.h"

#include <chrono>
#include <cinttypes>
#include <cstring>
#include <new>

#include "common/CLogManager.h"
#include "platform/Registry.h"

namespace
{
constexpr char kCommonKey[] = "SOFTWARE\\Brennhall\\Common";

uint32_t LimitFromRegistry(const char* name, uint32_t fallback)
{
    auto value = platform::Registry::GetDword(platform::RegHive::LocalMachine, kCommonKey, name);
    return value && *value != 0 ? *value : fallback;
}
}  // namespace

CKorvoFormatAsynchronousFileWriter::CKorvoFormatAsynchronousFileWriter(uint32_t minTransfer, uint32_t maxTransfer)
    : CKorvoFormatDataWriter(minTransfer, maxTransfer)
{
    _szPrefix = "AsyncFileWriter: ";
    _nMaxBackBytes = LimitFromRegistry("Async Max Back Bytes", kDefaultMaxBackBytes);
    _nMaxBufferBytes = LimitFromRegistry("Async Max Buffer Bytes", kDefaultMaxBufferBytes);
    if (!theLogManager.IsOpen(""))
        theLogManager.OpenLog("C:\\AsyncWriter.log", 1u << 20, "");
}

CKorvoFormatAsynchronousFileWriter::~CKorvoFormatAsynchronousFileWriter()
{
    Close();
}

bool CKorvoFormatAsynchronousFileWriter::IsOpen()
{
    std::lock_guard lock(_lock);
    return _writer && _writer->IsHandleValid();
}

std::string CKorvoFormatAsynchronousFileWriter::CurrentFolder() const
{
    std::lock_guard lock(_lock);
    return _nFolder < _folders.size() ? _folders[_nFolder] : std::string();
}

bool CKorvoFormatAsynchronousFileWriter::OpenKorvoWriter(size_t firstFolder, bool truncate)
{
    for (size_t i = firstFolder; i < _folders.size(); ++i) {
        const std::string path = _folders[i] + _szFileName;
        Logf(kProgress, 0, "AsyncFileWriter::OpenKorvoWriter - %s", path.c_str());
        auto writer = MakeFileWriter();
        writer->SetMinMaxWr(_dwMinTransfer, _dwMaxTransfer);
        uint32_t result = writer->Open(path);
        if (result == 0 && truncate)
            result = writer->SetSize(0);
        if (result != 0) {
            Log(kWarning, "FAILED to Open FileWriter !", result);
            theLogManager.Log("CKorvoFormatAsynchronousFileWriter: FAILED to Open FileWriter ! [%li - 0x%08X]",
                              static_cast<long>(result), result);
            continue;
        }
        Log(kProgress, "AsyncFileWriter::OpenKorvoWriter - SUCCESSFULL");
        std::lock_guard lock(_lock);
        _writer = std::move(writer);
        _nFolder = i;
        return true;
    }
    return false;
}

int CKorvoFormatAsynchronousFileWriter::Open(const char* path)
{
    Close();
    if (!path)
        return -1;
    std::string text = path;
    if (text.compare(0, 6, "async:") == 0)
        text.erase(0, 6);
    size_t separator = text.rfind('\\');
    if (separator == std::string::npos)
        separator = text.rfind('/');
    _folders.clear();
    if (separator == std::string::npos) {
        _szFileName = text;
        _folders.push_back("");
    } else {
        _szFileName = text.substr(separator + 1);
        const char sep = text[separator];
        std::string folders = text.substr(0, separator);
        size_t start = 0;
        for (;;) {
            size_t bar = folders.find('|', start);
            std::string folder = folders.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
            if (!folder.empty())
                _folders.push_back(folder + sep);
            if (bar == std::string::npos)
                break;
            start = bar + 1;
        }
    }
    if (_folders.empty() || _szFileName.empty()) {
        Log(kError, "NO valid output path found !", -1);
        return -1;
    }
    if (!OpenKorvoWriter(0, true)) {
        Log(kError, "FAILED to OpenKorvoWriter !", 1);
        return 1;
    }
    Log(kProgress, "File Opened !");
    std::lock_guard lock(_lock);
    _bDataQueued = _bStop = _bFailed = _bAbandon = _bReopenNeeded = _bFailedBefore = false;
    _nWrites = 0;
    _bIdle = true;
    _nFailuresInRow = 0;
    _nQueuedBytes = _nWrittenBackBytes = 0;
    _bThreadAlive = true;
    _thread = std::thread(&CKorvoFormatAsynchronousFileWriter::WriterThread, this);
    return 0;
}

int CKorvoFormatAsynchronousFileWriter::WriteData(const void* data, uint32_t length, uint32_t* written)
{
    if (written)
        *written = 0;
    if (length == 0)
        return 0;
    if (!data) {
        Log(kError, "NULL Data Buffer !!", 2);
        return 2;
    }
    BufferPtr buffer;
    {
        std::lock_guard lock(_lock);
        if (!_bThreadAlive || _bFailed) {
            // Nothing would ever write it.
            Log(kError, "WriteData - the writer thread has stopped, data refused !", -1);
            return -1;
        }
        if (!_free.empty()) {
            buffer = std::move(_free.front());
            _free.pop_front();
        }
    }
    if (!buffer)
        buffer.reset(new (std::nothrow) Buffer);
    if (buffer && buffer->nCapacity < length) {
        size_t capacity = (static_cast<size_t>(length) + kBufferStep - 1) / kBufferStep * kBufferStep;
        buffer->memory = platform::MakePageBuffer(capacity);
        buffer->nCapacity = buffer->memory ? capacity : 0;
    }
    if (!buffer || !buffer->memory) {
        Log(kError, "FAILED to Allocate Buffer Memory !", 1);
        return 1;
    }
    std::memcpy(buffer->memory.get(), data, length);
    buffer->nLength = length;
    buffer->bPlaced = false;

    std::unique_lock lock(_lock);
    _queue.push_back(std::move(buffer));
    _nQueuedBytes += length;
    _bDataQueued = true;
    _wake.notify_all();
    if (written)
        *written = length;
    // Over the limit the caller waits a bounded time for the writer to release a buffer, so a hung disk does
    // not hold it for ever. The data stays queued either way.
    if (_nQueuedBytes > _nMaxBufferBytes && !_bFailed && _bThreadAlive) {
        Log(kProgress, "PushBuffer reached MAXIMUM Memory allocation - waiting release ...");
        const uint64_t releases = _nReleases;
        if (!_wake.wait_for(lock, std::chrono::milliseconds(_nReleaseWaitMs), [&] {
                return _nReleases != releases || _nQueuedBytes <= _nMaxBufferBytes || _bFailed || !_bThreadAlive;
            })) {
            Log(kError, "PushBuffer reached MAXIMUM Memory allocation !", -1);
            return -1;
        }
    }
    if (_bFailed || !_bThreadAlive) {
        Log(kError, "PushBuffer - the writer thread has stopped, data lost !", -1);
        if (written)
            *written = 0;
        return -1;
    }
    return 0;
}

void CKorvoFormatAsynchronousFileWriter::WriterThread()
{
    std::unique_lock lock(_lock);
    for (;;) {
        _bIdle = true;
        _wake.notify_all();
        _wake.wait(lock, [&] { return _bDataQueued || _bStop; });
        if (!_bDataQueued && _queue.empty())
            break;  // stopped with nothing left
        _bDataQueued = false;
        _bIdle = false;
        lock.unlock();
        PassResult result = WritePass();
        lock.lock();
        if (result == kPassOk)
            continue;
        if (result != kPassRetry) {
            _bFailed = true;
            break;
        }
        // The next pass reopens in the next folder; a stop does not cut the wait short of that retry.
        if (!_bStop)
            _wake.wait_for(lock, std::chrono::milliseconds(_nRetryWaitMs), [&] { return _bStop; });
        _bDataQueued = true;
    }
    _bThreadAlive = false;
    _bIdle = true;
    _wake.notify_all();
}

CKorvoFormatAsynchronousFileWriter::PassResult CKorvoFormatAsynchronousFileWriter::Reopen()
{
    if (!OpenKorvoWriter(_nFolder + 1, false)) {
        theLogManager.Log("CKorvoFormatAsynchronousFileWriter: FAILED to Re-OpenKorvoWriter !");
        return kPassReopenFailed;
    }
    uint64_t fileSize = _writer->GetSizeAtOpen();
    uint64_t position = 0;
    {
        std::lock_guard lock(_lock);
        Logf(kWarning, 0, "File Reopened, writing %li Bytes back [%i Buffers]", static_cast<long>(_nWrittenBackBytes),
             static_cast<int>(_writtenBack.size()));
        while (!_writtenBack.empty()) {
            _nQueuedBytes += _writtenBack.back()->nLength;
            _queue.push_front(std::move(_writtenBack.back()));
            _writtenBack.pop_back();
        }
        _nWrittenBackBytes = 0;
        if (_queue.empty() || !_queue.front()->bPlaced)
            return kPassOk;
        position = _queue.front()->nFilePos;
    }
    Logf(kWarning, 0, "Current File Size: %" PRIu64 " Bytes [0x%" PRIX64 "]", fileSize, fileSize);
    Logf(kWarning, 0, "Seeking File Writer at index 0x%" PRIX64 " [%" PRIu64 "]", position, position);
    if (position > fileSize) {
        // The bytes between would be missing from the file.
        Log(kError, "Restart Index further than File Size !!", 2);
        return kPassSeekFailed;
    }
    if (_writer->SetFilePos(position) != 0) {
        Log(kError, "AsyncWrite - SetFilePos FAILED !!", 2);
        std::lock_guard lock(_lock);
        _writer.reset();
        return kPassSeekFailed;
    }
    return kPassOk;
}

CKorvoFormatAsynchronousFileWriter::PassResult CKorvoFormatAsynchronousFileWriter::WritePass()
{
    for (;;) {
        if (_bReopenNeeded) {
            if (std::lock_guard lock(_lock); _bAbandon)
                return kPassAbandoned;
            PassResult result = Reopen();
            if (result != kPassOk)
                return result;
            _bReopenNeeded = false;
        }
        if (!_writer) {
            Log(kError, "AsyncWrite - NULL Writer !!", 4);
            return kPassNoWriter;
        }
        Buffer* buffer = nullptr;
        {
            std::lock_guard lock(_lock);
            if (_bAbandon)
                return kPassAbandoned;
            if (_queue.empty())
                return kPassOk;
            buffer = _queue.front().get();
        }
        // Only this thread takes buffers off the queue's head, so the pointer stays valid unlocked.
        buffer->nFilePos = _writer->GetCurrentPos();
        buffer->bPlaced = true;
        uint32_t taken = 0;
        uint32_t result = _writer->WriteData(buffer->memory.get(), buffer->nLength, &taken);
        if (result == 0 && taken == buffer->nLength) {
            _nFailuresInRow = 0;
            std::lock_guard lock(_lock);
            ++_nWrites;
            _nQueuedBytes -= buffer->nLength;
            _nWrittenBackBytes += buffer->nLength;
            _writtenBack.push_back(std::move(_queue.front()));
            _queue.pop_front();
            _wake.notify_all();  // a caller may wait for the queue to shrink
            while (_nWrittenBackBytes > _nMaxBackBytes && !_writtenBack.empty()) {
                _nWrittenBackBytes -= _writtenBack.front()->nLength;
                if (_free.size() < kMaxFreeBuffers)
                    _free.push_back(std::move(_writtenBack.front()));
                _writtenBack.pop_front();
                ++_nReleases;
                _wake.notify_all();
            }
            continue;
        }
        const uint64_t position = buffer->nFilePos;
        Logf(kWarning, result, "AsyncWrite - FAILURE [0x%08X] at index 0x%" PRIX64 " [%" PRIu64 "]", result, position,
             position);
        {
            std::lock_guard lock(_lock);
            _writer.reset();
        }
        if (++_nFailuresInRow > 1)
            return kPassFailedTwice;
        if (_bFailedBefore && position <= _nLastFailurePos) {
            Log(kError, "Wrong Failure Index !!", 4);
            return kPassNoWriter;
        }
        _bFailedBefore = true;
        _nLastFailurePos = position;
        _bReopenNeeded = true;
        Log(kWarning, "FAILED to AsyncWriteData !", result);
        theLogManager.Log("CKorvoFormatAsynchronousFileWriter: FAILED to AsyncWriteData ! [%li - 0x%08X]",
                          static_cast<long>(result), result);
        return kPassRetry;
    }
}

void CKorvoFormatAsynchronousFileWriter::DropAll()
{
    _queue.clear();
    _writtenBack.clear();
    _free.clear();
    _nQueuedBytes = _nWrittenBackBytes = 0;
}

int CKorvoFormatAsynchronousFileWriter::WaitDataWritten(int64_t timeoutMs)
{
    std::unique_lock lock(_lock);
    auto done = [&] { return !_bThreadAlive || _bFailed || (_queue.empty() && _bIdle && !_bDataQueued); };
    if (timeoutMs < 0)
        _wake.wait(lock, done);
    else if (!_wake.wait_for(lock, std::chrono::milliseconds(timeoutMs), done))
        return -1;
    if (_bFailed || !_queue.empty()) {
        Log(kError, "Async Write Failure, skipping left data !", -1);
        return -1;
    }
    return 0;
}

int CKorvoFormatAsynchronousFileWriter::SeekPos(uint32_t low, uint32_t high)
{
    if (WaitDataWritten(-1) != 0) {
        Log(kError, "SeekPos - Wait DataWritten FAILED !", -1);
        return -1;
    }
    // The writer thread is idle with an empty queue: the file writer is ours until data is queued again.
    std::lock_guard lock(_lock);
    if (!_writer)
        return 100;
    uint64_t position = (static_cast<uint64_t>(high) << 32) | low;
    int result = static_cast<int>(_writer->SetFilePos(position));
    if (result != 0)
        Log(kError, "FAILED to SetFilePos !", result);
    return result;
}

int CKorvoFormatAsynchronousFileWriter::Close()
{
    if (!_thread.joinable())
        return 0;
    {
        std::lock_guard lock(_lock);
        _bStop = true;
        _wake.notify_all();
    }
    Log(kProgress, "Close - WaitForFileOp.");
    // The thread writes everything queued before it ends, or stops at a failure it cannot get past. One whose
    // write does not end within the close wait (a stalled disk or share) is stopped after it: the join waits for
    // that one write only.
    {
        std::unique_lock lock(_lock);
        uint64_t writes = _nWrites;
        while (_bThreadAlive) {
            if (!_wake.wait_for(lock, std::chrono::milliseconds(_nCloseWaitMs),
                                [&] { return !_bThreadAlive || _nWrites != writes; })) {
                Logf(kError, -1, "Close - no write ended within %u ms: the data still queued is dropped",
                     _nCloseWaitMs);
                _bAbandon = true;
                break;
            }
            writes = _nWrites;
        }
    }
    _thread.join();
    Log(kProgress, "Close - File Operation allowed");
    uint64_t lost = 0;
    bool failed = false;
    std::unique_ptr<CFileWriter> writer;
    {
        std::lock_guard lock(_lock);
        lost = _nQueuedBytes;
        failed = _bFailed;
        DropAll();
        writer = std::move(_writer);
    }
    int result = writer ? static_cast<int>(writer->Close()) : 0;
    if (failed || lost > 0) {
        Logf(kError, -1, "Close - %" PRIu64 " Bytes NOT WRITTEN !", lost);
        result = -1;
    }
    Log(result == 0 ? kProgress : kError, "File Closed !", result);
    return result;
}
