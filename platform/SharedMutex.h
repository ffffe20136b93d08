#pragma once

#include <cstdint>
#include <string>

#include "platform/SharedMemory.h"
#include "platform/Wait.h"

namespace platform
{

// The owner died while holding the mutex: it is now owned by the caller, who must release it.
constexpr uint32_t kWaitAbandoned = 0x80;

// A mutex shared by every process that opens the same name: a process-shared robust pthread mutex
// in its own small shared-memory object. A holder that dies leaves it abandoned, not locked for ever.
// Not recursive.
class SharedMutex
{
public:
    SharedMutex() = default;
    ~SharedMutex() = default;
    SharedMutex(const SharedMutex&) = delete;
    SharedMutex& operator=(const SharedMutex&) = delete;

    bool Open(const std::string& name);
    bool IsOpen() const { return _block != nullptr; }
    // kWaitObject0 or kWaitAbandoned once owned; kWaitTimeout after timeoutMs; kWaitFailed on error.
    uint32_t Lock(uint32_t timeoutMs = kInfinite);
    // Releases a mutex the calling thread owns.
    bool Unlock();

    static bool Remove(const std::string& name);

    struct Block;

private:
    SharedMemory _memory;
    Block* _block = nullptr;
};

}  // namespace platform
