#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/Wait.h"

// A reader/writer lock whose writer may re-enter it and may take read locks while it writes.
// The readers together hold the writer gate: the first one takes it, the last one gives it back.
class CReadWriteLock
{
public:
    CReadWriteLock() = default;
    virtual ~CReadWriteLock() = default;
    CReadWriteLock(const CReadWriteLock&) = delete;
    CReadWriteLock& operator=(const CReadWriteLock&) = delete;

    // False when the gate could not be taken within timeoutMs (platform::kInfinite waits for ever).
    bool WriteLock(uint32_t timeoutMs);
    void WriteUnlock();
    void ReadLock();
    void ReadUnlock();

private:
    bool OwnedByCaller() const { return _idOwner.load(std::memory_order_relaxed) == std::this_thread::get_id(); }

    std::mutex _mutex;
    std::condition_variable _cvGate;
    int32_t _nReaders = 0;
    int32_t _nRecursion = 0;
    std::atomic<std::thread::id> _idOwner{};
};
