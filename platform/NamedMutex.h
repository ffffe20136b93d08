#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Wait.h"

namespace platform
{

// A mutex shared by every process that opens the same name, recursive for the owning thread.
// Across processes it is an OFD lock on a file in RuntimeDir(), so the kernel releases it when the
// holder dies; within a process the threads queue on an in-process lock first.
class NamedMutex
{
public:
    explicit NamedMutex(const std::string& name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    bool IsValid() const;
    // kWaitObject0 once owned, kWaitTimeout after timeoutMs (kInfinite waits for ever), kWaitFailed on error.
    uint32_t Lock(uint32_t timeoutMs = kInfinite);
    void Unlock();

    // The lock file a name maps to (characters that cannot be in a file name are replaced).
    static std::string LockFilePath(const std::string& name);

    struct Shared;  // per-process state of one name

private:
    std::shared_ptr<Shared> _shared;
};

}  // namespace platform
