#pragma once

#include <cstdint>
#include <string>

#include "platform/SharedMemory.h"
#include "platform/Wait.h"

namespace platform
{

// An event shared by every process that opens the same name: manual-reset (stays signalled until
// Reset) or auto-reset (one waiter takes it). The first opener's reset mode and initial state hold.
class SharedEvent
{
public:
    SharedEvent() = default;
    ~SharedEvent() = default;
    SharedEvent(const SharedEvent&) = delete;
    SharedEvent& operator=(const SharedEvent&) = delete;

    bool Open(const std::string& name, bool manualReset, bool initialState);
    bool IsOpen() const { return _block != nullptr; }
    bool Set();
    bool Reset();
    // kWaitObject0 when signalled, kWaitTimeout after timeoutMs (kInfinite waits for ever), kWaitFailed.
    uint32_t Wait(uint32_t timeoutMs);

    static bool Remove(const std::string& name);

    struct Block;

private:
    SharedMemory _memory;
    Block* _block = nullptr;
};

}  // namespace platform
