#include <gtest/gtest.h>

#include <thread>

#include "platform/Event.h"

using platform::Event;
using platform::kWaitObject0;
using platform::kWaitTimeout;

TEST(Event, AutoResetIsTakenByOneWaitManualStaysSet)
{
    Event autoEvent(false, true);
    EXPECT_EQ(autoEvent.Wait(0), kWaitObject0);
    EXPECT_EQ(autoEvent.Wait(10), kWaitTimeout);

    Event manual(true, false);
    EXPECT_EQ(manual.Wait(10), kWaitTimeout);
    manual.Set();
    EXPECT_EQ(manual.Wait(0), kWaitObject0);
    EXPECT_EQ(manual.Wait(0), kWaitObject0);
    manual.Reset();
    EXPECT_FALSE(manual.IsSet());
}

TEST(EventThreads, WaitForMultipleGivesTheIndexOrWaitsForAll)
{
    Event a(true, false), b(false, false), c(true, false);
    std::thread t([&] { b.Set(); });
    EXPECT_EQ(Event::WaitForMultiple({&a, &b, &c}, false, 2000), kWaitObject0 + 1);
    t.join();
    EXPECT_FALSE(b.IsSet());

    a.Set();
    EXPECT_EQ(Event::WaitForMultiple({&a, &b}, true, 20), kWaitTimeout);
    b.Set();
    EXPECT_EQ(Event::WaitForMultiple({&a, &b}, true, 20), kWaitObject0);
    EXPECT_TRUE(a.IsSet());
    EXPECT_FALSE(b.IsSet());
}
