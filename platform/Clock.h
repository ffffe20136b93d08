#pragma once

#include <cstdint>

namespace platform
{

// Milliseconds since an arbitrary start, wrapping at 2^32 like the system tick count.
uint32_t TickCount();

// Monotonic high-resolution time in seconds, for timing calls.
double PerfSeconds();

// The wall-clock time in the local time zone, broken down, with milliseconds.
struct LocalTime {
    int year = 0;         // e.g. 2024
    int month = 0;        // 1..12
    int day = 0;          // 1..31
    int weekday = 0;      // 0 = Sunday
    int hour = 0;         // 0..23
    int minute = 0;       // 0..59
    int second = 0;       // 0..60
    int millisecond = 0;  // 0..999
};
LocalTime LocalNow();

// Sleeps the calling thread.
void SleepMs(uint32_t milliseconds);

}  // namespace platform
