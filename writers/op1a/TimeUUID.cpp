#include "writers/op1a/TimeUUID.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>

#include "platform/NamedMutex.h"
#include "platform/Paths.h"

namespace
{
constexpr char kStateFile[] = "C:\\state";
constexpr char kNodeFile[] = "C:\\nodeid";
constexpr char kMutexName[] = "KorvoTimeUUIDMutex_";
// 100 ns units from 1582-10-15 to 1970-01-01.
constexpr uint64_t kGregorianToUnix = 0x01B21DD213814000ull;
// Stamps reserved at a time (102.4 us), and how far a reserved stamp may fall behind the clock (10 ms).
constexpr uint64_t kBlock = 1024;
constexpr uint64_t kMaxLag = 100000;
std::atomic<uint32_t> g_nLockWaitMs{5000};

uint64_t Now()
{
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100) +
           kGregorianToUnix;
}

bool ReadExact(const std::string& path, uint8_t* data, size_t size)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ssize_t got = ::pread(fd, data, size, 0);
    ::close(fd);
    return got == static_cast<ssize_t>(size);
}

void WriteExact(const std::string& path, const uint8_t* data, size_t size)
{
    // Written in place: the state is 16 bytes and every writer holds the mutex.
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size))
        (void)::ftruncate(fd, static_cast<off_t>(size));
    ::close(fd);
}

void PutLe(uint8_t* at, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLe(const uint8_t* at, int bytes)
{
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | at[i];
    return value;
}

// The node of this machine, made once and kept in the node file. Called under the mutex.
void LoadNode(uint8_t node[6])
{
    const std::string path = platform::ToLocalPath(kNodeFile);
    if (ReadExact(path, node, 6))
        return;
    std::random_device random;
    for (int i = 0; i < 6; ++i)
        node[i] = static_cast<uint8_t>(random());
    node[0] |= 0x80;  // marks a node that is not a network card's address
    WriteExact(path, node, 6);
}

// Reserves the next block of stamps under the named mutex: every stamp above those stored, and the state
// file moved past the block, so no other generator, now or after a restart, hands them out again. False when
// the mutex was not had within the wait; nothing is reserved then.
bool ReserveBlock(uint64_t* first, uint16_t* clockSeq, uint8_t node[6])
{
    // A child process must not share its parent's lock: the lock belongs to the open file, which fork shares.
    static std::unique_ptr<platform::NamedMutex> mutex;
    static pid_t owner = 0;
    if (owner != ::getpid()) {
        mutex.reset();
        mutex = std::make_unique<platform::NamedMutex>(kMutexName);
        owner = ::getpid();
    }
    if (mutex->Lock(g_nLockWaitMs.load()) != platform::kWaitObject0)
        return false;
    static bool nodeLoaded = false;
    static uint8_t ownNode[6];
    if (!nodeLoaded) {
        LoadNode(ownNode);
        nodeLoaded = true;
    }
    std::memcpy(node, ownNode, 6);

    const std::string statePath = platform::ToLocalPath(kStateFile);
    uint8_t stored[16];
    uint64_t t = Now();
    if (ReadExact(statePath, stored, sizeof stored) && std::memcmp(stored + 8, node, 6) == 0) {
        *clockSeq = static_cast<uint16_t>(GetLe(stored + 14, 2));
        // Strictly above every stamp handed out before, also when the clock stands still or went back.
        const uint64_t last = GetLe(stored, 8);
        if (t <= last)
            t = last + 1;
    } else {
        static std::mt19937 random{std::random_device{}()};
        *clockSeq = static_cast<uint16_t>(random());
    }
    // Also in this process alone, should the state file be unwritable.
    static uint64_t lastHere = 0;
    if (t <= lastHere)
        t = lastHere + 1;
    lastHere = t + kBlock - 1;
    PutLe(stored, lastHere, 8);
    std::memcpy(stored + 8, node, 6);
    PutLe(stored + 14, *clockSeq, 2);
    WriteExact(statePath, stored, sizeof stored);
    mutex->Unlock();
    *first = t;
    return true;
}
}  // namespace

void SetTimeUUIDLockWait(uint32_t milliseconds)
{
    g_nLockWaitMs = milliseconds;
}

bool CreateTimeUUID(TimeUUID* out)
{
    if (!out)
        return false;
    static std::mutex inProcess;
    std::lock_guard guard(inProcess);
    static uint64_t next = 0, end = 0;
    static uint16_t clockSeq = 0;
    static uint8_t node[6];
    static pid_t owner = 0;
    // A new block when this one is used up, was reserved by the parent of this process, or fell behind the clock.
    if (next >= end || owner != ::getpid() || Now() > next + kMaxLag) {
        if (!ReserveBlock(&next, &clockSeq, node)) {
            std::memset(out->bytes, 0, sizeof out->bytes);
            next = end = 0;
            return false;
        }
        end = next + kBlock;
        owner = ::getpid();
    }
    const uint64_t t = next++;

    uint8_t* b = out->bytes;
    PutLe(b, t & 0xFFFFFFFFu, 4);
    PutLe(b + 4, (t >> 32) & 0xFFFF, 2);
    PutLe(b + 6, ((t >> 48) & 0x0FFF) | 0x1000, 2);
    b[8] = static_cast<uint8_t>(((clockSeq >> 8) & 0x3F) | 0x80);
    b[9] = static_cast<uint8_t>(clockSeq);
    std::memcpy(b + 10, node, 6);
    return true;
}

uint64_t TimeUUIDTimestamp(const TimeUUID& uuid)
{
    const uint8_t* b = uuid.bytes;
    return GetLe(b, 4) | (GetLe(b + 4, 2) << 32) | ((GetLe(b + 6, 2) & 0x0FFF) << 48);
}
