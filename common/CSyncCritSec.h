#pragma once

#include <mutex>

// A critical section: recursive for the thread that holds it.
class CSyncCritSec
{
public:
    void Lock() { _mutex.lock(); }
    void Unlock() { _mutex.unlock(); }

private:
    std::recursive_mutex _mutex;
};
