#pragma once

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

// The module's pool of frame buffers: buffers given back are handed out again to a request of exactly their
// size, so that a transfer of equal-sized frames stops allocating after its first frames. Every operation
// is safe between threads.
class CFrameBufferHandler
{
public:
    CFrameBufferHandler() = default;
    ~CFrameBufferHandler();
    CFrameBufferHandler(const CFrameBufferHandler&) = delete;
    CFrameBufferHandler& operator=(const CFrameBufferHandler&) = delete;

    // The first free buffer of exactly this size, or nullptr.
    void* Take(uint32_t size);
    // Keeps the buffer (page memory) for a later Take; nullptr is ignored.
    void Give(void* buffer, uint32_t size);
    // Frees every buffer kept.
    void FreeAll();
    // The most bytes the pool has kept at once.
    uint32_t GetPeak();
    uint32_t GetFreeBytes();

private:
    std::mutex _mutex;
    std::vector<std::pair<void*, uint32_t>> _vFree;
    uint32_t _nFreeBytes = 0;
    uint32_t _nPeak = 0;
};

extern CFrameBufferHandler theFrameBufferHandler;
