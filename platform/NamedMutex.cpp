#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include "platform/Paths.h"

namespace platform
{

// One state per name and process: the file lock is taken once per process, by whichever thread
// owns the in-process part.
struct NamedMutex::Shared {
    int fd = -1;
    std::mutex m;
    std::condition_variable cv;
    std::thread::id owner;
    uint32_t depth = 0;

    ~Shared()
    {
        if (fd >= 0)
            close(fd);
    }
};

namespace
{

// The table of names is never destroyed: global objects (a module's log manager) still release their
// mutexes from their destructors after the function statics made on first use are gone. It lives in
// static storage, not on the heap, so a module unloaded with dlclose leaves no unreachable block behind.
using NameTable = std::map<std::string, std::weak_ptr<NamedMutex::Shared>>;

std::mutex& RegistryLock()
{
    alignas(std::mutex) static unsigned char storage[sizeof(std::mutex)];
    static std::mutex* m = new (storage) std::mutex;
    return *m;
}

NameTable& Names()
{
    alignas(NameTable) static unsigned char storage[sizeof(NameTable)];
    static NameTable* names = new (storage) NameTable;
    return *names;
}

bool TryFileLock(int fd, short type)
{
    struct flock fl {
    };
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

}  // namespace

std::string NamedMutex::LockFilePath(const std::string& name)
{
    std::string file;
    for (char c : name)
        file += (c == '/' || c == '\\' || c == '\0') ? '_' : c;
    return (RuntimeDir() / (file + ".lock")).string();
}

NamedMutex::NamedMutex(const std::string& name)
{
    std::string path = LockFilePath(name);
    std::lock_guard lock(RegistryLock());
    auto& slot = Names()[path];
    _shared = slot.lock();
    if (_shared)
        return;
    _shared = std::make_shared<Shared>();
    _shared->fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    slot = _shared;
}

NamedMutex::~NamedMutex()
{
    std::lock_guard lock(RegistryLock());
    _shared.reset();
    std::erase_if(Names(), [](const auto& entry) { return entry.second.expired(); });
}

bool NamedMutex::IsValid() const
{
    return _shared && _shared->fd >= 0;
}

uint32_t NamedMutex::Lock(uint32_t timeoutMs)
{
    if (!IsValid())
        return kWaitFailed;
    Shared& s = *_shared;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto self = std::this_thread::get_id();
    std::unique_lock lock(s.m);
    if (s.depth > 0 && s.owner == self) {
        ++s.depth;
        return kWaitObject0;
    }
    auto free = [&] { return s.depth == 0; };
    if (timeoutMs == kInfinite)
        s.cv.wait(lock, free);
    else if (!s.cv.wait_until(lock, deadline, free))
        return kWaitTimeout;
    // Own the in-process part while polling the file lock, so other threads of this process wait on the cv.
    s.owner = self;
    s.depth = 1;
    lock.unlock();
    auto pause = std::chrono::microseconds(50);
    while (!TryFileLock(s.fd, F_WRLCK)) {
        bool busy = errno == EAGAIN || errno == EACCES || errno == EINTR;
        if (!busy || (timeoutMs != kInfinite && std::chrono::steady_clock::now() >= deadline)) {
            lock.lock();
            s.depth = 0;
            s.owner = {};
            lock.unlock();
            s.cv.notify_one();
            return busy ? kWaitTimeout : kWaitFailed;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(2000));
    }
    return kWaitObject0;
}

void NamedMutex::Unlock()
{
    if (!IsValid())
        return;
    Shared& s = *_shared;
    std::unique_lock lock(s.m);
    if (s.depth == 0 || s.owner != std::this_thread::get_id())
        return;
    if (--s.depth > 0)
        return;
    TryFileLock(s.fd, F_UNLCK);
    s.owner = {};
    lock.unlock();
    s.cv.notify_one();
}

}  // namespace platform
