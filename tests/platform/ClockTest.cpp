#include <gtest/gtest.h>

#include "platform/Clock.h"

TEST(Clock, TickCountAdvancesWithSleep)
{
    uint32_t start = platform::TickCount();
    double t0 = platform::PerfSeconds();
    platform::SleepMs(20);
    EXPECT_GE(static_cast<uint32_t>(platform::TickCount() - start), 19u);
    EXPECT_GE(platform::PerfSeconds() - t0, 0.019);
}
