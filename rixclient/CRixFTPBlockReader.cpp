#include "rixclient/CRixFTPBlockReader.h"

#include <cinttypes>
#include <exception>

#include "common/CLogManager.h"
#include "platform/Clock.h"
#include "serverblock/Bavd.h"

namespace
{
constexpr int kAttempts = 3;
constexpr int32_t kMaxFileBusy = 5;
constexpr int kMaxShortReads = 3;
constexpr int kMaxWrongBlocks = 3;
constexpr double kSlowReadSeconds = 1.0;
}  // namespace

CRixFTPBlockReader::CRixFTPBlockReader(const std::string& logName) : CRixFtpClient(logName), _cache(logName)
{
    _evStop.Create(nullptr, false, false);
    _evGo.Create(nullptr, true, false);
    _evPause.Create(nullptr, true, false);
    _evIdle.Create(nullptr, true, true);
    _preloadThread = std::thread([this] { PreloadingThread(); });
}

CRixFTPBlockReader::~CRixFTPBlockReader()
{
    StopPreloadThread();
    _cache.Free();
}

int CRixFTPBlockReader::SetCacheSize(uint32_t cacheSizeMb, uint32_t blockSize, uint32_t preloadCount)
{
    int result = _cache.SetSize(cacheSizeMb, blockSize);
    if (result == 0) {
        _nBlockSize = blockSize;
        _nPreloadCount = preloadCount;
    }
    return result;
}

int CRixFTPBlockReader::ResetPreloadState()
{
    // A running thread is paused first: with its events merely cleared it would never report idle again.
    StopPreloading(_readerTimeouts.nLiveStopMs);
    Guard block(_blockLock);
    _preloadedLock.WriteLock(platform::kInfinite);
    _nPreloaded = 0;
    _preloadedLock.WriteUnlock();
    _pCurrent = nullptr;
    _cache.Pin(nullptr);
    _evGo.Reset();
    _evPause.Reset();
    _evStop.Reset();
    return 0;
}

int32_t CRixFTPBlockReader::GetPreloadedCount()
{
    _preloadedLock.ReadLock();
    int32_t count = _nPreloaded;
    _preloadedLock.ReadUnlock();
    return count;
}

uint32_t CRixFTPBlockReader::NextField(const RixCacheElement* element) const
{
    if (_nDirection == 0)
        return element->nEndField;
    return element->nFirstField >= 2 ? element->nFirstField - 2 : kNoField;
}

void CRixFTPBlockReader::MarkLimit(bool reached)
{
    (_nDirection == 0 ? _bEndReached : _bStartReached) = reached;
}

int CRixFTPBlockReader::SetFieldIndex(uint32_t field)
{
    if (field == 0)
        return -1;
    Guard stream(_preloadLock);
    _nCurrSrcField = field;
    if (!_bSessionBroken) {
        if (IsDataOpen())
            FtpCloseFile(true);
    } else {
        theLogManager.LogTo(_szLogName, "CRixFTPBlockReader::SetFieldIndex - Closing Ftp connection 1.");
        CloseRpcConnection();
        Close(true, true);
    }
    _nFileBusy = 0;
    const int64_t position = _nDirection == 0 ? int64_t{field} : -int64_t{field};
    int result = -1;
    for (int attempt = 1; attempt <= kAttempts && _nFileBusy < kMaxFileBusy; ++attempt) {
        theLogManager.LogTo(_szLogName, "-- SetFieldIndex %li, attempt %d\n", static_cast<long>(field), attempt);
        result = OpenClip(kRetrieve, position, kSiteSeek);
        if (result == 0)
            break;
        if (!_bSessionBroken && _nFileBusy != 3) {
            theLogManager.LogTo(_szLogName, "+++ OpenRixClip returned %i [%i / 4]", result, _nFileBusy.load());
        } else {
            theLogManager.LogTo(_szLogName, "+++ OpenRixClip FAILED -> Closing CONTROL !!");
            if (_bSessionBroken)
                theLogManager.LogTo(_szLogName, "CRixFTPBlockReader::SetFieldIndex - Closing Ftp connection 2.");
            CloseRpcConnection();
            Close(true, false);
        }
        if (attempt < kAttempts)
            platform::SleepMs(_readerTimeouts.nRetrySleepMs);
    }
    if (result != 0)
        theLogManager.LogTo(_szLogName, "CRixFTPBlockReader::SetFieldIndex() failed!");
    _bStartReached = false;
    _bEndReached = false;
    return result;
}

int CRixFTPBlockReader::SetPreloadDirection(uint32_t direction)
{
    if (direction == _nDirection)
        return 0;
    StopPreloading(platform::kInfinite);
    _nDirection = direction;
    _preloadedLock.WriteLock(platform::kInfinite);
    _nPreloaded = 1;
    _preloadedLock.WriteUnlock();
    if (!_pCurrent)
        return 1;
    const uint32_t next = NextField(_pCurrent);
    _nNextPreloadField = next;
    if (next == kNoField || SetFieldIndex(next) != 0) {
        theLogManager.LogTo(_szLogName, "CRixFTPBlockReader::SetPreloadDirection - SetFieldIndex %li FAILED !!",
                            static_cast<long>(next));
        return direction == 0 ? -1 : -2;
    }
    return 1;
}

int CRixFTPBlockReader::StartPreloading()
{
    Guard stream(_preloadLock);
    if (_evIdle.Wait(0) == platform::kWaitObject0 && !_bStartReached && !_bEndReached) {
        _evPause.Reset();
        _evIdle.Reset();
        _evGo.Set();
    }
    return 0;
}

int CRixFTPBlockReader::StopPreloading(uint32_t timeoutMs)
{
    if (_evIdle.Wait(0) == platform::kWaitObject0)
        return 0;
    _evPause.Set();
    uint32_t result = _evIdle.Wait(timeoutMs);
    if (result != platform::kWaitObject0)
        theLogManager.LogTo(_szLogName, "CRixFTPBlockReader::StopPreloading() WAIT TIME-OUT (ret=%d)!",
                            static_cast<int>(result));
    return 1;
}

int CRixFTPBlockReader::StopPreloadThread()
{
    if (!_preloadThread.joinable())
        return 0;
    StopPreloading(platform::kInfinite);
    _evStop.Set();
    _preloadThread.join();
    return 0;
}

void CRixFTPBlockReader::UpdatePreloadCount(int32_t delta, bool recompute)
{
    _preloadedLock.WriteLock(platform::kInfinite);
    if (delta >= 0 || _nPreloaded > 0)
        _nPreloaded += delta;
    if (recompute && _pCurrent)
        _nNextPreloadField = NextField(_pCurrent);
    _preloadedLock.WriteUnlock();
}

int CRixFTPBlockReader::GetBlock(uint32_t field, bool noRestart)
{
    const int32_t delta = field == kNoField ? -1 : 1;
    uint32_t wanted = field;
    bool sequential = false;
    int result = 0;
    bool hit = false;
    // Preloading restarts outside the block lock: the thread takes that lock while it holds the preload lock.
    auto restart = [&] {
        if (result == 0 && GetPreloadedCount() < static_cast<int32_t>(_nPreloadCount) && !noRestart)
            StartPreloading();
        return result;
    };
    {
        Guard block(_blockLock);
        if (_pCurrent) {
            wanted = NextField(_pCurrent);
            sequential = true;
        } else if (field == kNoField) {
            RixCacheElement* front = _cache.GetFrontElem();
            if (!front) {
                theLogManager.LogTo(_szLogName, "CRixFTPBlockReader::GetBlock - no block to continue from !");
                return -3;
            }
            wanted = NextField(front);
        }
        if (wanted == kNoField) {
            _bStartReached = true;
            return -200;
        }
        theLogManager.LogTo(_szLogName, "- Trying to retrieve field %li from cache...", static_cast<long>(wanted));
        if (RixCacheElement* element = _cache.FindBlock(wanted, true)) {
            theLogManager.LogTo(_szLogName, "Found.");
            _pCurrent = element;
            UpdatePreloadCount(delta, !sequential);
            hit = true;
        }
    }
    if (hit)
        return restart();

    theLogManager.LogTo(_szLogName, "Not found in cache ...");
    StopPreloading(_readerTimeouts.nLiveStopMs);
    theLogManager.LogTo(_szLogName,
                        sequential ? "!!! LIVE reading block -> SLOW read ??" : "*** GoTo like reading block ...");
    if (RixCacheElement* element = _cache.FindBlock(wanted, true)) {
        theLogManager.LogTo(_szLogName, "Found in the meantime.");
        {
            Guard block(_blockLock);
            _pCurrent = element;
            UpdatePreloadCount(delta, !sequential);
        }
        return restart();
    }
    {
        Guard stream(_preloadLock);
        // The block being replaced may be recycled for the read.
        _pCurrent = nullptr;
        _cache.Pin(nullptr);
        RixCacheElement* element = nullptr;
        result = ReadBlock(&element, wanted, false);
        if (result == 0) {
            Guard block(_blockLock);
            _cache.Pin(element);
            _pCurrent = element;
            UpdatePreloadCount(delta, !sequential);
        }
    }
    return restart();
}

int CRixFTPBlockReader::ReadBlock(RixCacheElement** ppElement, uint32_t field, bool preload)
{
    if (!ppElement)
        return -3;
    *ppElement = nullptr;
    const bool forward = _nDirection == 0;
    if (forward ? IsFieldPastEnd(field) : IsFieldBeforeStart(field))
        return -200;

    Guard stream(_preloadLock);
    RixCacheElement* element = preload ? _cache.FindBlock(field) : nullptr;
    const bool fromCache = element != nullptr;
    bool lastBlock = false;
    if (!fromCache && field == _nCurrSrcField && (forward ? _bEndReached : _bStartReached))
        return 2;  // the stream ended there already
    if (!fromCache) {
        if (_bSessionBroken || !IsRpcOn()) {
            theLogManager.LogTo(_szLogName, "ReadPartialBlock::ReadPartialBlock() - Closing Ftp connection.");
            CloseRpcConnection();
            Close(true, true);
            _nCurrSrcField = kNoField;
        }
        if (field != _nCurrSrcField && SetFieldIndex(field) != 0) {
            theLogManager.LogTo(_szLogName, "ReadPartialBlock::ReadBlock - SetFieldIndex %li FAILED !!",
                                static_cast<long>(field));
            return -1;
        }
        element = _cache.GetElem();
        if (!element)
            return -3;
        const double started = platform::PerfSeconds();
        int shortReads = 0;
        int wrongBlocks = 0;
        for (;;) {
            uint32_t count = 0;
            int rc = ReadData(element->pBuffer, _nBlockSize, &count, 0);
            if (rc != 0) {
                theLogManager.LogTo(_szLogName, "*** ReadFile FAILED !! (error=%d)", rc);
                // A transfer that broke without the server's end is asked again from the field.
                if (IsDataOpen() || ++shortReads >= kMaxShortReads) {
                    _cache.ReleaseElem(element);
                    return -4;
                }
                if (SetFieldIndex(preload ? _nCurrSrcField.load() : field) != 0) {
                    _cache.ReleaseElem(element);
                    return -1;
                }
                continue;
            }
            element->nBytesRead = count;
            Bavd bavd;
            const bool parsed = count > 0 && bavd.LoadFromBuffer(element->pBuffer, count) == kBavdOk;
            const bool holds = parsed && bavd.GetFirstField() <= field && field < bavd.GetFieldOutExcluded();
            if (count < _nBlockSize) {
                // The server ended the transfer by itself: the clip ends here in this direction.
                const bool clipEnd = !IsDataOpen() && GetTransferEndCode() == 226;
                if (IsFieldPastEnd(field) || clipEnd) {
                    if (!holds) {
                        MarkLimit(true);
                        _cache.ReleaseElem(element);
                        return 2;
                    }
                    lastBlock = true;  // a short last block that holds the field is still the block
                } else {
                    if (++shortReads >= kMaxShortReads) {
                        theLogManager.LogTo(_szLogName, "!!!!!!!! Ftp read persistent ERROR !!!!!");
                        _cache.ReleaseElem(element);
                        return -5;
                    }
                    theLogManager.LogTo(_szLogName, "*** DISCONNECTED ?? - next block field %li",
                                        static_cast<long>(field));
                    theLogManager.LogTo(_szLogName, "Read %li Bytes at %" PRIi64, static_cast<long>(count),
                                        GetTransferPos());
                    if (SetFieldIndex(preload ? _nCurrSrcField.load() : field) != 0) {
                        _cache.ReleaseElem(element);
                        return -1;
                    }
                    continue;
                }
            }
            if (!holds) {
                theLogManager.LogTo(_szLogName, "Expected field=%d, received block=[%d;%d[ retry=%d",
                                    static_cast<int>(field), static_cast<int>(bavd.GetFirstField()),
                                    static_cast<int>(bavd.GetFieldOutExcluded()), wrongBlocks);
                if (++wrongBlocks >= kMaxWrongBlocks || lastBlock) {
                    _cache.ReleaseElem(element);
                    return -6;
                }
                continue;
            }
            element->nFirstField = bavd.GetFirstField();
            element->nEndField = bavd.GetFieldOutExcluded();
            const double seconds = platform::PerfSeconds() - started;
            if (seconds > kSlowReadSeconds)
                theLogManager.LogTo(_szLogName, "SLOW Block Read: %1.1f ms!!!", seconds * 1000);
            break;
        }
    }
    theLogManager.LogTo(_szLogName, ">>> Block Read [%li, %li[ %s%s", static_cast<long>(element->nFirstField),
                        static_cast<long>(element->nEndField), preload ? "(from preload)" : "",
                        fromCache ? "(from cache)" : "(from Rix)");

    Guard block(_blockLock);
    if (!fromCache) {
        int rc = _cache.AddBlock(element);
        if (rc != 0) {
            theLogManager.LogTo(_szLogName, "CRixFTPBlockReader::AddBlock() failed - ret=%d !!!", rc);
            if (rc != -200)
                _cache.ReleaseElem(element);
            return rc == -200 ? -200 : -7;
        }
    }
    if (forward) {
        _bEndReached = lastBlock || IsFieldPastEnd(element->nEndField);
        if (!fromCache)
            _nCurrSrcField = element->nEndField;
    } else {
        _bStartReached = lastBlock || element->nFirstField < 2 || IsFieldBeforeStart(element->nFirstField);
        if (!fromCache)
            _nCurrSrcField = NextField(element);
    }
    if (preload) {
        _preloadedLock.WriteLock(platform::kInfinite);
        ++_nPreloaded;
        _preloadedLock.WriteUnlock();
        _nNextPreloadField = NextField(element);
    }
    *ppElement = element;
    return 0;
}

void CRixFTPBlockReader::PreloadingThread()
{
    int result = 0;
    try {
        CSyncEvent* events[3] = {&_evStop, &_evPause, &_evGo};
        for (;;) {
            const uint32_t signalled = CSyncEvent::WaitForMultiple(3, events, false, platform::kInfinite);
            if (signalled == platform::kWaitObject0 + 1) {
                _evGo.Reset();
                _evPause.Reset();
                _evIdle.Set();
                continue;
            }
            if (signalled != platform::kWaitObject0 + 2)
                break;
            int32_t count = GetPreloadedCount();
            bool failed = false;
            if (count < static_cast<int32_t>(_nPreloadCount)) {
                RixCacheElement* element = nullptr;
                result = ReadBlock(&element, _nNextPreloadField, true);
                failed = result != 0;
                count = GetPreloadedCount();
                if (!failed)
                    theLogManager.LogTo(_szLogName,
                                        "Thread Preloaded %li Blocks, _currPreloadIndex=%d _currSrcFieldIndex=%d\n",
                                        static_cast<long>(count), static_cast<int>(_nNextPreloadField.load()),
                                        static_cast<int>(_nCurrSrcField.load()));
            }
            if (failed || count >= static_cast<int32_t>(_nPreloadCount) || _bStartReached || _bEndReached) {
                _evGo.Reset();
                _evPause.Set();
            }
        }
    } catch (const std::exception& e) {
        theLogManager.LogTo(_szLogName, "ERROR\t CRixFTPBlockReader::PreloadingThread failed - Error 0x%08X : %s\r\n",
                            0u, e.what());
    }
    _evIdle.Set();
}
