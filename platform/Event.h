#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Wait.h"

namespace platform
{

// An in-process event: manual-reset (stays signalled until Reset) or auto-reset (one waiter takes it).
// Copies share the same event.
class Event
{
public:
    Event(bool manualReset, bool initialState);

    void Set();
    void Reset();
    // kWaitObject0 when signalled, kWaitTimeout after timeoutMs (kInfinite waits for ever).
    uint32_t Wait(uint32_t timeoutMs) const;
    bool IsSet() const;

    // Waits for any (or all) of the events; kWaitObject0 + index of the signalled one, or kWaitTimeout.
    // With waitAll, the events are taken together once all are signalled.
    static uint32_t WaitForMultiple(const std::vector<const Event*>& events, bool waitAll, uint32_t timeoutMs);

private:
    struct State;
    std::shared_ptr<State> _state;
};

}  // namespace platform
