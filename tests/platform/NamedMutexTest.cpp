#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <thread>

#include "platform/NamedMutex.h"

using platform::kWaitObject0;
using platform::kWaitTimeout;
using platform::NamedMutex;

namespace
{

// Forks a child that takes the mutex, tells the parent through a pipe, then waits to be killed.
pid_t HoldInChild(const std::string& name)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        NamedMutex m(name);
        char ok = m.Lock(1000) == kWaitObject0 ? 'y' : 'n';
        (void)!write(fds[1], &ok, 1);
        pause();
        _exit(0);
    }
    char c = 0;
    (void)!read(fds[0], &c, 1);
    close(fds[0]);
    close(fds[1]);
    return c == 'y' ? pid : -1;
}

}  // namespace

TEST(NamedMutex, ExcludesOtherProcessesAndIsReleasedWhenTheHolderDies)
{
    const std::string name = "LogMutex_qdz&@_Recalo";
    pid_t holder = HoldInChild(name);
    ASSERT_GT(holder, 0);
    NamedMutex m(name);
    ASSERT_TRUE(m.IsValid());
    EXPECT_EQ(m.Lock(50), kWaitTimeout);

    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(m.Lock(2000), kWaitObject0);
    m.Unlock();
}

TEST(NamedMutexThreads, IsRecursiveForTheOwnerAndExcludesOtherThreads)
{
    NamedMutex a("shared-name");
    NamedMutex b("shared-name");
    ASSERT_EQ(a.Lock(), kWaitObject0);
    ASSERT_EQ(a.Lock(), kWaitObject0);
    std::atomic<uint32_t> other{1};
    std::thread t([&] { other = b.Lock(30); });
    t.join();
    EXPECT_EQ(other, kWaitTimeout);
    a.Unlock();
    std::thread t2([&] { other = b.Lock(30); });
    t2.join();
    EXPECT_EQ(other, kWaitTimeout);  // still held once
    a.Unlock();
    std::thread t3([&] {
        other = b.Lock(1000);
        b.Unlock();
    });
    t3.join();
    EXPECT_EQ(other, kWaitObject0);
}

TEST(NamedMutexThreads, CountsUnderContentionStayExact)
{
    NamedMutex m("counter");
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            NamedMutex mine("counter");
            for (int i = 0; i < 500; ++i) {
                ASSERT_EQ(mine.Lock(), kWaitObject0);
                ++counter;
                mine.Unlock();
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 2000);
}
