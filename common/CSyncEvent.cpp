#include "common/CSyncEvent.h"

#include <vector>

bool CSyncEvent::Create(const void*, bool manualReset, bool initialState, const char*)
{
    _event.emplace(manualReset, initialState);
    return true;
}

bool CSyncEvent::Set()
{
    if (!_event)
        return false;
    _event->Set();
    return true;
}

bool CSyncEvent::Reset()
{
    if (!_event)
        return false;
    _event->Reset();
    return true;
}

uint32_t CSyncEvent::Wait(uint32_t timeoutMs)
{
    return _event ? _event->Wait(timeoutMs) : platform::kWaitFailed;
}

uint32_t CSyncEvent::WaitForMultiple(uint32_t count, CSyncEvent* const* events, bool waitAll, uint32_t timeoutMs)
{
    if (count == 0 || count > kMaxWaitObjects || !events)
        return platform::kWaitFailed;
    std::vector<const platform::Event*> list;
    for (uint32_t i = 0; i < count; ++i) {
        if (!events[i] || !events[i]->_event)
            return platform::kWaitFailed;
        list.push_back(&*events[i]->_event);
    }
    return platform::Event::WaitForMultiple(list, waitAll, timeoutMs);
}
