#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/CSyncCritSec.h"

// One pool slot of the block cache: a server block and the half-open range of fields it holds. The list
// links and flags belong to the cache; all-zero is the state of an unused slot.
struct RixCacheElement {
    uint8_t* pBuffer = nullptr;
    uint32_t nBytesRead = 0;
    uint32_t nFirstField = 0;
    uint32_t nEndField = 0;

    RixCacheElement* pPrev = nullptr;
    RixCacheElement* pNext = nullptr;
    bool bListed = false;
    bool bFilling = false;  // handed out by GetElem and not yet added or released
};

// The most recently read server blocks of one clip: a fixed pool of elements and a most-recently-used
// list. An element handed out for filling is invisible to lookups until it is added; the element pinned
// by the reader (its current block) is never handed out for filling.
class CRixBlockCache
{
public:
    explicit CRixBlockCache(const std::string& logName = "") : _szLogName(logName) {}
    ~CRixBlockCache();
    CRixBlockCache(const CRixBlockCache&) = delete;
    CRixBlockCache& operator=(const CRixBlockCache&) = delete;

    // 0; -1 size above 10000 MB; -2 block size outside 1001..0x40000000; -3 not one block, or no memory.
    int SetSize(uint32_t sizeMb, uint32_t blockSize);
    // An element to fill: an unused one, else the least recently used that is neither pinned nor being filled.
    RixCacheElement* GetElem();
    // Gives back an element whose filling failed; its contents count for nothing.
    void ReleaseElem(RixCacheElement* element);
    // Lists a filled element at the front. -1 none; -2 no buffer; -200 its first field is cached already
    // (the element is released).
    int AddBlock(RixCacheElement* element);
    // The listed element holding the field, moved to the front (and pinned when asked); none on a miss.
    RixCacheElement* FindBlock(uint32_t field, bool pin = false);
    RixCacheElement* GetFrontElem(bool pin = false);
    void Pin(RixCacheElement* element);
    // Empties the list; the buffers stay for reuse.
    void Reset();
    // Releases every buffer and the pool.
    void Free();

    uint32_t GetElemCount() const { return _nCount; }
    uint32_t GetBlockSize() const { return _nBlockSize; }
    uint32_t GetListedCount();

private:
    class Guard
    {
    public:
        explicit Guard(CSyncCritSec& lock) : _lock(lock) { _lock.Lock(); }
        ~Guard() { _lock.Unlock(); }

    private:
        CSyncCritSec& _lock;
    };

    void Unlink(RixCacheElement* element);
    void PushFront(RixCacheElement* element);
    void FreeLocked();

    RixCacheElement* _pPool = nullptr;
    uint32_t _nCount = 0;
    uint32_t _nBlockSize = 0;
    uint32_t _nUsed = 0;  // pool elements handed out at least once
    RixCacheElement* _pFront = nullptr;
    RixCacheElement* _pBack = nullptr;
    uint32_t _nListed = 0;
    RixCacheElement* _pPinned = nullptr;
    std::vector<RixCacheElement*> _vFree;  // used elements off the list, with their buffers
    CSyncCritSec _lock;
    std::string _szLogName;
};
