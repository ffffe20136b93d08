#include "platform/SharedSync.h"

#include <cerrno>
#include <ctime>

#include "platform/Clock.h"
#include "platform/SharedMutex.h"
#include "platform/Wait.h"

namespace platform::sharedsync
{
namespace
{
constexpr uint32_t kStateFresh = 0;
constexpr uint32_t kStateInitialising = 1;
constexpr uint32_t kStateReady = 2;
constexpr uint32_t kStateBroken = 3;
constexpr uint32_t kInitWaitMs = 2000;
}  // namespace

bool InitOnce(std::atomic<uint32_t>& state, const std::function<bool()>& init)
{
    uint32_t expected = kStateFresh;
    if (state.compare_exchange_strong(expected, kStateInitialising, std::memory_order_acq_rel)) {
        bool ok = init();
        state.store(ok ? kStateReady : kStateBroken, std::memory_order_release);
        return ok;
    }
    for (uint32_t waited = 0; waited < kInitWaitMs; ++waited) {
        uint32_t s = state.load(std::memory_order_acquire);
        if (s == kStateReady)
            return true;
        if (s == kStateBroken)
            return false;
        SleepMs(1);
    }
    return false;
}

bool InitRobustMutex(pthread_mutex_t* mutex)
{
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0)
        return false;
    bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
              pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 && pthread_mutex_init(mutex, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

timespec DeadlineAfter(uint32_t timeoutMs)
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    ts.tv_sec += timeoutMs / 1000;
    ts.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
    }
    return ts;
}

uint32_t LockRobust(pthread_mutex_t* mutex, uint32_t timeoutMs)
{
    int rc;
    if (timeoutMs == kInfinite) {
        rc = pthread_mutex_lock(mutex);
    } else {
        timespec deadline = DeadlineAfter(timeoutMs);
        rc = pthread_mutex_timedlock(mutex, &deadline);
    }
    if (rc == 0)
        return kWaitObject0;
    if (rc == EOWNERDEAD) {
        // The holder died: the mutex is ours, and the data it guards may be half-written.
        pthread_mutex_consistent(mutex);
        return kWaitAbandoned;
    }
    if (rc == ETIMEDOUT)
        return kWaitTimeout;
    return kWaitFailed;
}

}  // namespace platform::sharedsync
