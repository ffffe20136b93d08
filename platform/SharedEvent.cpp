#include "platform/SharedEvent.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>

#include "platform/SharedMutex.h"
#include "platform/SharedSync.h"

namespace platform
{

struct SharedEvent::Block {
    std::atomic<uint32_t> state;
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    uint32_t signalled;
    uint32_t manualReset;
};

namespace
{
std::string ObjectOf(const std::string& name)
{
    return name + ".event";
}

bool InitBlock(SharedEvent::Block* block, bool manualReset, bool initialState)
{
    pthread_condattr_t attr;
    if (!sharedsync::InitRobustMutex(&block->mutex) || pthread_condattr_init(&attr) != 0)
        return false;
    bool ok =
        pthread_condattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 && pthread_cond_init(&block->cond, &attr) == 0;
    pthread_condattr_destroy(&attr);
    block->manualReset = manualReset ? 1 : 0;
    block->signalled = initialState ? 1 : 0;
    return ok;
}

// The event's own mutex guards two words only, so a holder that died left nothing half-done.
bool LockBlock(SharedEvent::Block* block)
{
    uint32_t rc = sharedsync::LockRobust(&block->mutex, kInfinite);
    return rc == kWaitObject0 || rc == kWaitAbandoned;
}
}  // namespace

bool SharedEvent::Open(const std::string& name, bool manualReset, bool initialState)
{
    _block = nullptr;
    if (!_memory.Open(ObjectOf(name), sizeof(Block)))
        return false;
    auto* block = static_cast<Block*>(_memory.Data());
    if (!sharedsync::InitOnce(block->state, [&] { return InitBlock(block, manualReset, initialState); })) {
        _memory.Close();
        return false;
    }
    _block = block;
    return true;
}

bool SharedEvent::Set()
{
    if (!_block || !LockBlock(_block))
        return false;
    _block->signalled = 1;
    if (_block->manualReset)
        pthread_cond_broadcast(&_block->cond);
    else
        pthread_cond_signal(&_block->cond);
    pthread_mutex_unlock(&_block->mutex);
    return true;
}

bool SharedEvent::Reset()
{
    if (!_block || !LockBlock(_block))
        return false;
    _block->signalled = 0;
    pthread_mutex_unlock(&_block->mutex);
    return true;
}

uint32_t SharedEvent::Wait(uint32_t timeoutMs)
{
    if (!_block || !LockBlock(_block))
        return kWaitFailed;
    timespec deadline = sharedsync::DeadlineAfter(timeoutMs == kInfinite ? 0 : timeoutMs);
    uint32_t result = kWaitObject0;
    while (!_block->signalled) {
        int rc = timeoutMs == kInfinite ? pthread_cond_wait(&_block->cond, &_block->mutex)
                                        : pthread_cond_timedwait(&_block->cond, &_block->mutex, &deadline);
        if (rc == EOWNERDEAD) {
            pthread_mutex_consistent(&_block->mutex);
        } else if (rc == ETIMEDOUT) {
            result = kWaitTimeout;
            break;
        } else if (rc != 0) {
            result = kWaitFailed;
            break;
        }
    }
    if (result == kWaitObject0 && !_block->manualReset)
        _block->signalled = 0;
    pthread_mutex_unlock(&_block->mutex);
    return result;
}

bool SharedEvent::Remove(const std::string& name)
{
    return SharedMemory::Remove(ObjectOf(name));
}

}  // namespace platform
