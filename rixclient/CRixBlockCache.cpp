#include "rixclient/CRixBlockCache.h"

#include <type_traits>

#include "common/CLogManager.h"
#include "platform/PageBuffer.h"

// The pool is taken from zeroed pages as it is: an all-zero element must be a valid one.
static_assert(std::is_trivially_destructible_v<RixCacheElement>);

namespace
{
constexpr uint32_t kMaxCacheMb = 10000;
constexpr uint32_t kMinBlockSize = 1001;
constexpr uint32_t kMaxBlockSize = 0x40000000;
}  // namespace

CRixBlockCache::~CRixBlockCache()
{
    Free();
}

int CRixBlockCache::SetSize(uint32_t sizeMb, uint32_t blockSize)
{
    if (sizeMb > kMaxCacheMb)
        return -1;
    if (blockSize < kMinBlockSize || blockSize > kMaxBlockSize)
        return -2;
    const uint64_t count = (uint64_t{sizeMb} << 20) / blockSize;
    if (count == 0)
        return -3;
    Guard guard(_lock);
    if (count == _nCount && blockSize == _nBlockSize)
        return 0;
    FreeLocked();
    _pPool = static_cast<RixCacheElement*>(platform::AllocPages(count * sizeof(RixCacheElement)));
    if (!_pPool) {
        theLogManager.LogTo(_szLogName, "CRixBlockCache::SetSize: VirtualAlloc failed!");
        _nCount = 0;
        _nBlockSize = 0;
        return -3;
    }
    _nCount = static_cast<uint32_t>(count);
    _nBlockSize = blockSize;
    return 0;
}

RixCacheElement* CRixBlockCache::GetElem()
{
    Guard guard(_lock);
    RixCacheElement* element = nullptr;
    if (!_vFree.empty()) {
        element = _vFree.back();
        _vFree.pop_back();
    } else if (_nUsed < _nCount) {
        element = &_pPool[_nUsed];
        element->pBuffer = static_cast<uint8_t*>(platform::AllocPages(_nBlockSize));
        if (!element->pBuffer) {
            theLogManager.LogTo(_szLogName, "CRixBlockCache::GetElem: VirtualAlloc failed!");
            return nullptr;
        }
        ++_nUsed;
    } else {
        for (RixCacheElement* e = _pBack; e && !element; e = e->pPrev)
            if (!e->bFilling && e != _pPinned)
                element = e;
    }
    if (element) {
        element->bFilling = true;
        element->nBytesRead = 0;
    }
    return element;
}

void CRixBlockCache::ReleaseElem(RixCacheElement* element)
{
    if (!element)
        return;
    Guard guard(_lock);
    if (element->bListed)
        Unlink(element);
    element->bFilling = false;
    _vFree.push_back(element);
}

int CRixBlockCache::AddBlock(RixCacheElement* element)
{
    if (!element)
        return -1;
    if (!element->pBuffer)
        return -2;
    Guard guard(_lock);
    for (RixCacheElement* e = _pFront; e; e = e->pNext) {
        if (e != element && !e->bFilling && e->nFirstField <= element->nFirstField &&
            element->nFirstField < e->nEndField) {
            if (element->bListed)
                Unlink(element);
            element->bFilling = false;
            _vFree.push_back(element);
            return -200;
        }
    }
    if (element->bListed)
        Unlink(element);
    PushFront(element);
    element->bFilling = false;
    return 0;
}

RixCacheElement* CRixBlockCache::FindBlock(uint32_t field, bool pin)
{
    Guard guard(_lock);
    for (RixCacheElement* e = _pFront; e; e = e->pNext) {
        if (!e->bFilling && e->nFirstField <= field && field < e->nEndField) {
            Unlink(e);
            PushFront(e);
            if (pin)
                _pPinned = e;
            return e;
        }
    }
    return nullptr;
}

RixCacheElement* CRixBlockCache::GetFrontElem(bool pin)
{
    Guard guard(_lock);
    RixCacheElement* e = _pFront;
    while (e && e->bFilling)
        e = e->pNext;
    if (e && pin)
        _pPinned = e;
    return e;
}

void CRixBlockCache::Pin(RixCacheElement* element)
{
    Guard guard(_lock);
    _pPinned = element;
}

void CRixBlockCache::Reset()
{
    Guard guard(_lock);
    while (RixCacheElement* e = _pFront) {
        Unlink(e);
        // One being filled is listed again when its filler adds it.
        if (!e->bFilling)
            _vFree.push_back(e);
    }
    _pPinned = nullptr;
}

void CRixBlockCache::Free()
{
    Guard guard(_lock);
    FreeLocked();
}

uint32_t CRixBlockCache::GetListedCount()
{
    Guard guard(_lock);
    return _nListed;
}

void CRixBlockCache::FreeLocked()
{
    // Every buffer ever allocated, whether listed, free or being filled.
    for (uint32_t i = 0; i < _nUsed; ++i)
        platform::FreePages(_pPool[i].pBuffer);
    platform::FreePages(_pPool);
    _pPool = nullptr;
    _nCount = 0;
    _nBlockSize = 0;
    _nUsed = 0;
    _pFront = _pBack = _pPinned = nullptr;
    _nListed = 0;
    _vFree.clear();
}

void CRixBlockCache::Unlink(RixCacheElement* e)
{
    (e->pPrev ? e->pPrev->pNext : _pFront) = e->pNext;
    (e->pNext ? e->pNext->pPrev : _pBack) = e->pPrev;
    e->pPrev = e->pNext = nullptr;
    e->bListed = false;
    --_nListed;
}

void CRixBlockCache::PushFront(RixCacheElement* e)
{
    e->pPrev = nullptr;
    e->pNext = _pFront;
    (_pFront ? _pFront->pPrev : _pBack) = e;
    _pFront = e;
    e->bListed = true;
    ++_nListed;
}
