#include "receiver/CFrameBufferHandler.h"

#include "platform/PageBuffer.h"

CFrameBufferHandler theFrameBufferHandler;

CFrameBufferHandler::~CFrameBufferHandler()
{
    FreeAll();
}

void* CFrameBufferHandler::Take(uint32_t size)
{
    std::lock_guard lock(_mutex);
    for (auto it = _vFree.begin(); it != _vFree.end(); ++it) {
        if (it->second == size) {
            void* buffer = it->first;
            _vFree.erase(it);
            _nFreeBytes -= size;
            return buffer;
        }
    }
    return nullptr;
}

void CFrameBufferHandler::Give(void* buffer, uint32_t size)
{
    if (!buffer)
        return;
    std::lock_guard lock(_mutex);
    _vFree.emplace_back(buffer, size);
    _nFreeBytes += size;
    if (_nFreeBytes > _nPeak)
        _nPeak = _nFreeBytes;
}

void CFrameBufferHandler::FreeAll()
{
    std::lock_guard lock(_mutex);
    while (!_vFree.empty()) {
        platform::FreePages(_vFree.back().first);
        _vFree.pop_back();
    }
    _nFreeBytes = 0;
    _nPeak = 0;
}

uint32_t CFrameBufferHandler::GetPeak()
{
    std::lock_guard lock(_mutex);
    return _nPeak;
}

uint32_t CFrameBufferHandler::GetFreeBytes()
{
    std::lock_guard lock(_mutex);
    return _nFreeBytes;
}
