#include "common/CReadWriteLock.h"

#include <chrono>

bool CReadWriteLock::WriteLock(uint32_t timeoutMs)
{
    if (OwnedByCaller()) {
        ++_nRecursion;
        return true;
    }
    std::unique_lock lock(_mutex);
    auto gateFree = [this] { return _nReaders == 0 && _idOwner.load() == std::thread::id(); };
    if (timeoutMs == platform::kInfinite)
        _cvGate.wait(lock, gateFree);
    else if (!_cvGate.wait_for(lock, std::chrono::milliseconds(timeoutMs), gateFree))
        return false;
    _nRecursion = 1;
    _idOwner.store(std::this_thread::get_id());
    return true;
}

void CReadWriteLock::WriteUnlock()
{
    if (!OwnedByCaller())
        return;
    if (--_nRecursion > 0)
        return;
    {
        std::lock_guard lock(_mutex);
        _idOwner.store(std::thread::id());
    }
    _cvGate.notify_all();
}

void CReadWriteLock::ReadLock()
{
    if (OwnedByCaller())
        return;
    std::unique_lock lock(_mutex);
    _cvGate.wait(lock, [this] { return _idOwner.load() == std::thread::id(); });
    ++_nReaders;
}

void CReadWriteLock::ReadUnlock()
{
    if (OwnedByCaller())
        return;
    std::unique_lock lock(_mutex);
    if (_nReaders <= 0)
        return;
    if (--_nReaders == 0) {
        lock.unlock();
        _cvGate.notify_all();
    }
}
