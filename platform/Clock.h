#pragma once

#include <cstdint>

namespace platform
{

// Milliseconds since an arbitrary start, wrapping at 2^32 like the system tick count.
uint32_t TickCount();

// Monotonic high-resolution time in seconds, for timing calls.
double PerfSeconds();

// Sleeps the calling thread.
void SleepMs(uint32_t milliseconds);

}  // namespace platform
