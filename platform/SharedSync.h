#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <functional>

namespace platform
{

// Helpers for the process-shared mutexes and events kept in shared memory.
namespace sharedsync
{

// The first opener of a fresh object runs init; the others wait (bounded) until it is done.
// False when init failed or an initialiser died half-way.
bool InitOnce(std::atomic<uint32_t>& state, const std::function<bool()>& init);

// Initialises a process-shared robust mutex.
bool InitRobustMutex(pthread_mutex_t* mutex);

// Locks a robust mutex, waiting at most timeoutMs (kInfinite for ever). kWaitObject0, kWaitTimeout,
// kWaitAbandoned (owned, but the previous holder died holding it; made consistent) or kWaitFailed.
uint32_t LockRobust(pthread_mutex_t* mutex, uint32_t timeoutMs);

// The absolute CLOCK_REALTIME time timeoutMs from now.
timespec DeadlineAfter(uint32_t timeoutMs);

}  // namespace sharedsync
}  // namespace platform
