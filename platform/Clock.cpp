#include "platform/Clock.h"

#include <time.h>

#include <chrono>
#include <thread>

namespace platform
{

uint32_t TickCount()
{
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count());
}

double PerfSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

LocalTime LocalNow()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    localtime_r(&ts.tv_sec, &t);  // thread-safe, unlike localtime
    return LocalTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_wday,
                     t.tm_hour,        t.tm_min,     t.tm_sec,  static_cast<int>(ts.tv_nsec / 1000000)};
}

void SleepMs(uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace platform
