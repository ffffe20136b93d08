#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Event.h"

// An event object of the system's own code; none exists until Create.
class CSyncEvent
{
public:
    static constexpr uint32_t kMaxWaitObjects = 50;

    CSyncEvent() = default;

    // The security attributes and the name have no meaning in one process here and are ignored.
    bool Create(const void* securityAttributes, bool manualReset, bool initialState, const char* name = nullptr);
    bool Set();
    bool Reset();
    // kWaitObject0 when signalled, kWaitTimeout after the time-out; kWaitFailed without an event.
    uint32_t Wait(uint32_t timeoutMs);
    bool IsCreated() const { return _event.has_value(); }

    // kWaitObject0 + index of the signalled event, kWaitTimeout; kWaitFailed for a count of 0, more than
    // kMaxWaitObjects, or an event not created.
    static uint32_t WaitForMultiple(uint32_t count, CSyncEvent* const* events, bool waitAll, uint32_t timeoutMs);

private:
    std::optional<platform::Event> _event;
};
