#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "common/CReadWriteLock.h"
#include "common/CSyncCritSec.h"
#include "common/CSyncEvent.h"
#include "rixclient/CRixBlockCache.h"
#include "rixclient/CRixFtpClient.h"

// Waits of the block reader, in milliseconds; tests shorten them.
struct RixReaderTimeouts {
    uint32_t nRetrySleepMs = 250;  // between two attempts to reopen the clip
    uint32_t nLiveStopMs = 30000;  // for the preload thread to pause before a direct read
};

// Reads a clip of a video server as whole server blocks, addressed by field, forwards or backwards
// ("SITE SEEK" with a negative position). Blocks go through a cache; a preload thread reads the next ones
// ahead in the current direction. Exactly one thread reads the data stream at a time: direct reads and
// the thread's reads both run under the preload lock.
// A derived class that overrides the clip limits must call StopPreloadThread in its own destructor.
class CRixFTPBlockReader : public CRixFtpClient
{
public:
    static constexpr uint32_t kNoField = 0xFFFFFFFF;

    explicit CRixFTPBlockReader(const std::string& logName);
    ~CRixFTPBlockReader() override;

    void SetReaderTimeouts(const RixReaderTimeouts& timeouts) { _readerTimeouts = timeouts; }

    int SetCacheSize(uint32_t cacheSizeMb, uint32_t blockSize, uint32_t preloadCount);
    int ResetPreloadState();
    int SetFieldIndex(uint32_t field);
    int SetPreloadDirection(uint32_t direction);
    int StartPreloading();
    int StopPreloading(uint32_t timeoutMs);
    int StopPreloadThread();
    void UpdatePreloadCount(int32_t delta, bool recompute);
    // field: the field wanted, or kNoField to continue from the front of the cache.
    int GetBlock(uint32_t field, bool noRestart);
    int ReadBlock(RixCacheElement** ppElement, uint32_t field, bool preload);

    // The block handed to the caller by the last successful GetBlock.
    const RixCacheElement* GetCurrentBlock() const { return _pCurrent; }
    uint32_t GetDirection() const { return _nDirection; }
    bool IsStartReached() const { return _bStartReached; }
    bool IsEndReached() const { return _bEndReached; }
    int32_t GetPreloadedCount();

protected:
    virtual bool IsFieldBeforeStart(uint32_t) { return false; }
    virtual bool IsFieldPastEnd(uint32_t) { return false; }

    std::atomic<int32_t> _nFileBusy{0};
    std::atomic<bool> _bSessionBroken{false};

private:
    class Guard
    {
    public:
        explicit Guard(CSyncCritSec& lock) : _lock(lock) { _lock.Lock(); }
        ~Guard() { _lock.Unlock(); }

    private:
        CSyncCritSec& _lock;
    };

    void PreloadingThread();
    // The field after the block in the current direction; kNoField before the start.
    uint32_t NextField(const RixCacheElement* element) const;
    void MarkLimit(bool reached);

    RixReaderTimeouts _readerTimeouts;
    std::atomic<uint32_t> _nDirection{0};
    uint32_t _nBlockSize = 0;
    uint32_t _nPreloadCount = 5;
    int32_t _nPreloaded = 0;
    CReadWriteLock _preloadedLock;
    RixCacheElement* _pCurrent = nullptr;
    CRixBlockCache _cache;
    std::thread _preloadThread;
    CSyncEvent _evStop, _evGo, _evPause, _evIdle;
    CSyncCritSec _blockLock;
    CSyncCritSec _preloadLock;
    std::atomic<uint32_t> _nCurrSrcField{kNoField};
    std::atomic<uint32_t> _nNextPreloadField{0};
    std::atomic<bool> _bStartReached{false};
    std::atomic<bool> _bEndReached{false};
};
