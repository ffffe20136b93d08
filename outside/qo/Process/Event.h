#pragma once

#include <cstdint>

namespace Qo::Process
{

// An event whose copies share one underlying event (a holder count); the last copy frees it.
// A failing system call throws Qo::Trq::Error with code 2. The modules that use it compile in its
// code.
class Event
{
public:
    // autoReset: one Wait clears it; initiallyClear: it starts not signalled.
    Event(bool autoReset, bool initiallyClear);
    Event(const Event& other);
    Event& operator=(const Event& other);
    ~Event();

    void Set();
    void Reset();
    // True when signalled within the time; a negative time waits without end.
    bool Wait(int32_t milliseconds);

private:
    struct Shared;
    Shared* _pShared;
};

}  // namespace Qo::Process
