#include "platform/Event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform
{

// All events of the process share one lock and one condition: a wait on several events then needs
// no registration with each, and events here guard thread stops and hand-overs, not hot paths.
namespace
{
std::mutex& EventsLock()
{
    static std::mutex m;
    return m;
}
std::condition_variable& EventsChanged()
{
    static std::condition_variable cv;
    return cv;
}
}  // namespace

struct Event::State {
    bool manualReset;
    bool signalled;
};

Event::Event(bool manualReset, bool initialState) : _state(std::make_shared<State>(State{manualReset, initialState})) {}

void Event::Set()
{
    {
        std::lock_guard lock(EventsLock());
        _state->signalled = true;
    }
    EventsChanged().notify_all();
}

void Event::Reset()
{
    std::lock_guard lock(EventsLock());
    _state->signalled = false;
}

bool Event::IsSet() const
{
    std::lock_guard lock(EventsLock());
    return _state->signalled;
}

uint32_t Event::Wait(uint32_t timeoutMs) const
{
    return WaitForMultiple({this}, false, timeoutMs);
}

uint32_t Event::WaitForMultiple(const std::vector<const Event*>& events, bool waitAll, uint32_t timeoutMs)
{
    if (events.empty())
        return kWaitFailed;
    std::unique_lock lock(EventsLock());
    size_t index = 0;
    auto ready = [&] {
        if (waitAll) {
            for (const Event* e : events)
                if (!e->_state->signalled)
                    return false;
            return true;
        }
        for (size_t i = 0; i < events.size(); ++i) {
            if (events[i]->_state->signalled) {
                index = i;
                return true;
            }
        }
        return false;
    };
    bool ok = true;
    if (timeoutMs == kInfinite)
        EventsChanged().wait(lock, ready);
    else
        ok = EventsChanged().wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (!ok)
        return kWaitTimeout;
    if (waitAll) {
        for (const Event* e : events)
            if (!e->_state->manualReset)
                e->_state->signalled = false;
        return kWaitObject0;
    }
    if (!events[index]->_state->manualReset)
        events[index]->_state->signalled = false;
    return kWaitObject0 + static_cast<uint32_t>(index);
}

}  // namespace platform
