#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/SharedEvent.h"
#include "platform/SharedMemory.h"
#include "platform/SharedMutex.h"

namespace
{
using platform::SharedEvent;
using platform::SharedMemory;
using platform::SharedMutex;

// Runs body in a child process and returns its exit code.
template <class F>
int InChild(F body)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SharedMemory, TwoOpenersSeeTheSameZeroFilledBytes)
{
    SharedMemory::Remove("shm.basic");
    SharedMemory a, b;
    ASSERT_TRUE(a.Open("shm.basic", 6408));
    EXPECT_TRUE(a.Created());
    ASSERT_TRUE(b.Open("shm.basic", 6408));
    EXPECT_FALSE(b.Created());
    auto* pa = static_cast<unsigned char*>(a.Data());
    auto* pb = static_cast<unsigned char*>(b.Data());
    EXPECT_EQ(0, pa[6407]);
    std::memcpy(pa + 2048, "abc", 4);
    EXPECT_STREQ("abc", reinterpret_cast<char*>(pb + 2048));
    EXPECT_EQ(0, InChild([] {
                  SharedMemory c;
                  return c.Open("shm.basic", 6408) && std::strcmp(static_cast<char*>(c.Data()) + 2048, "abc") == 0 ? 0
                                                                                                                   : 1;
              }));
    EXPECT_TRUE(SharedMemory::Remove("shm.basic"));
    EXPECT_FALSE(SharedMemory::Remove("shm.basic"));
}

TEST(SharedMemory, NamesAreScopedAndCannotEscapeTheShmFolder)
{
    std::string n = SharedMemory::ObjectName("a/b\\c");
    EXPECT_EQ(0u, n.rfind("/korvo-", 0));
    EXPECT_EQ(std::string::npos, n.find('/', 1));
    EXPECT_NE(std::string::npos, n.find("a_b_c"));
}

TEST(SharedMutex, ExcludesAnotherProcessAndTimesOut)
{
    SharedMutex::Remove("mx.timeout");
    SharedMutex m;
    ASSERT_TRUE(m.Open("mx.timeout"));
    ASSERT_EQ(platform::kWaitObject0, m.Lock(1000));
    EXPECT_EQ(0, InChild([] {
                  SharedMutex other;
                  if (!other.Open("mx.timeout"))
                      return 1;
                  return other.Lock(50) == platform::kWaitTimeout ? 0 : 2;
              }));
    EXPECT_TRUE(m.Unlock());
    EXPECT_EQ(0, InChild([] {
                  SharedMutex other;
                  if (!other.Open("mx.timeout") || other.Lock(1000) != platform::kWaitObject0)
                      return 1;
                  return other.Unlock() ? 0 : 2;
              }));
    SharedMutex::Remove("mx.timeout");
}

TEST(SharedMutex, HolderThatDiedLeavesItAbandonedThenUsable)
{
    SharedMutex::Remove("mx.dead");
    SharedMutex m;
    ASSERT_TRUE(m.Open("mx.dead"));
    EXPECT_EQ(0, InChild([] {
                  SharedMutex other;
                  if (!other.Open("mx.dead") || other.Lock(1000) != platform::kWaitObject0)
                      return 1;
                  _exit(0);  // dies holding it, with the mutex still mapped
              }));
    EXPECT_EQ(platform::kWaitAbandoned, m.Lock(1000));
    EXPECT_TRUE(m.Unlock());
    EXPECT_EQ(platform::kWaitObject0, m.Lock(1000));
    EXPECT_TRUE(m.Unlock());
    SharedMutex::Remove("mx.dead");
}

TEST(SharedEvent, AutoResetEventWakesAWaiterInAnotherProcessOnce)
{
    SharedEvent::Remove("ev.auto");
    SharedEvent e;
    ASSERT_TRUE(e.Open("ev.auto", false, false));
    EXPECT_EQ(platform::kWaitTimeout, e.Wait(20));
    pid_t pid = fork();
    if (pid == 0) {
        SharedEvent child;
        if (!child.Open("ev.auto", false, false))
            _exit(1);
        _exit(child.Wait(5000) == platform::kWaitObject0 && child.Wait(20) == platform::kWaitTimeout ? 0 : 2);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(e.Set());
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(platform::kWaitTimeout, e.Wait(0));
    SharedEvent::Remove("ev.auto");
}

TEST(SharedEvent, ManualResetEventStaysSignalledUntilReset)
{
    SharedEvent::Remove("ev.manual");
    SharedEvent e;
    ASSERT_TRUE(e.Open("ev.manual", true, true));
    EXPECT_EQ(platform::kWaitObject0, e.Wait(0));
    EXPECT_EQ(platform::kWaitObject0, e.Wait(0));
    EXPECT_TRUE(e.Reset());
    EXPECT_EQ(platform::kWaitTimeout, e.Wait(10));
    SharedEvent::Remove("ev.manual");
}

TEST(SharedSyncThreads, MutexCountsStayExactAndAnAutoEventWakesOneWaiterPerSet)
{
    SharedMutex::Remove("mx.threads");
    SharedEvent::Remove("ev.threads");
    SharedMemory counterBlock;
    ASSERT_TRUE(counterBlock.Open("counter.threads", sizeof(uint64_t)));
    auto* counter = static_cast<uint64_t*>(counterBlock.Data());
    // One opening shared by the threads, as a process uses it (ThreadSanitizer cannot see that two
    // mappings of one process alias; other processes are covered by the fork tests above).
    SharedMutex m;
    ASSERT_TRUE(m.Open("mx.threads"));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([counter, &m] {
            for (int i = 0; i < 500; ++i) {
                ASSERT_EQ(platform::kWaitObject0, m.Lock(5000));
                ++*counter;
                m.Unlock();
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(2000u, *counter);

    SharedEvent event;
    ASSERT_TRUE(event.Open("ev.threads", false, false));
    std::atomic<int> woken{0};
    threads.clear();
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            if (event.Wait(5000) == platform::kWaitObject0)
                ++woken;
        });
    }
    // Each Set is let go only once the one before has woken a thread: two Sets before any waiter
    // takes the first leave one event, as an auto-reset event should.
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(event.Set());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (woken.load() <= i && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(3, woken.load());
    EXPECT_EQ(platform::kWaitTimeout, event.Wait(0));
    SharedMutex::Remove("mx.threads");
    SharedEvent::Remove("ev.threads");
    SharedMemory::Remove("counter.threads");
}

}  // namespace
