#include "writers/TimeUUID.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
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

struct State {
    uint64_t timestamp = 0;
    uint8_t node[6] = {};
    uint16_t clockSeq = 0;
};

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
}  // namespace

void CreateTimeUUID(TimeUUID* out)
{
    if (!out)
        return;
    static platform::NamedMutex mutex(kMutexName);
    static std::mutex inProcess;  // also serialises the threads if the named mutex cannot be had
    std::lock_guard guard(inProcess);
    const bool locked = mutex.Lock(5000) == platform::kWaitObject0;

    static bool nodeLoaded = false;
    static uint8_t node[6];
    if (!nodeLoaded) {
        LoadNode(node);
        nodeLoaded = true;
    }
    static std::mt19937 random{std::random_device{}()};

    const std::string statePath = platform::ToLocalPath(kStateFile);
    uint8_t stored[16];
    State state;
    const bool haveState = ReadExact(statePath, stored, sizeof stored);
    if (haveState) {
        state.timestamp = GetLe(stored, 8);
        std::memcpy(state.node, stored + 8, 6);
        state.clockSeq = static_cast<uint16_t>(GetLe(stored + 14, 2));
    }
    uint64_t t = Now();
    uint16_t clockSeq = 0;
    if (haveState && std::memcmp(state.node, node, 6) == 0) {
        clockSeq = state.clockSeq;
        // Strictly above every stamp handed out before, also when the clock stands still or went back.
        if (t <= state.timestamp)
            t = state.timestamp + 1;
    } else {
        clockSeq = static_cast<uint16_t>(random());
    }
    // Also in this process alone, should the state file be unwritable.
    static uint64_t lastHere = 0;
    if (t <= lastHere)
        t = lastHere + 1;
    lastHere = t;
    PutLe(stored, t, 8);
    std::memcpy(stored + 8, node, 6);
    PutLe(stored + 14, clockSeq, 2);
    WriteExact(statePath, stored, sizeof stored);
    if (locked)
        mutex.Unlock();

    uint8_t* b = out->bytes;
    PutLe(b, t & 0xFFFFFFFFu, 4);
    PutLe(b + 4, (t >> 32) & 0xFFFF, 2);
    PutLe(b + 6, ((t >> 48) & 0x0FFF) | 0x1000, 2);
    b[8] = static_cast<uint8_t>(((clockSeq >> 8) & 0x3F) | 0x80);
    b[9] = static_cast<uint8_t>(clockSeq);
    std::memcpy(b + 10, node, 6);
}

uint64_t TimeUUIDTimestamp(const TimeUUID& uuid)
{
    const uint8_t* b = uuid.bytes;
    return GetLe(b, 4) | (GetLe(b + 4, 2) << 32) | ((GetLe(b + 6, 2) & 0x0FFF) << 48);
}
