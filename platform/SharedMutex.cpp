#include "platform/SharedMutex.h"

#include <pthread.h>

#include <atomic>

#include "platform/SharedSync.h"

namespace platform
{

struct SharedMutex::Block {
    std::atomic<uint32_t> state;
    pthread_mutex_t mutex;
};

namespace
{
std::string ObjectOf(const std::string& name)
{
    return name + ".mutex";
}
}  // namespace

bool SharedMutex::Open(const std::string& name)
{
    _block = nullptr;
    if (!_memory.Open(ObjectOf(name), sizeof(Block)))
        return false;
    auto* block = static_cast<Block*>(_memory.Data());
    if (!sharedsync::InitOnce(block->state, [block] { return sharedsync::InitRobustMutex(&block->mutex); })) {
        _memory.Close();
        return false;
    }
    _block = block;
    return true;
}

uint32_t SharedMutex::Lock(uint32_t timeoutMs)
{
    if (!_block)
        return kWaitFailed;
    return sharedsync::LockRobust(&_block->mutex, timeoutMs);
}

bool SharedMutex::Unlock()
{
    return _block && pthread_mutex_unlock(&_block->mutex) == 0;
}

bool SharedMutex::Remove(const std::string& name)
{
    return SharedMemory::Remove(ObjectOf(name));
}

}  // namespace platform
