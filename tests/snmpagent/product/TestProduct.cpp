// A stand-in for one of the maker's programs: it carries the version note and runs until killed.
// With --writer MS it also writes the agent's shared block for MS milliseconds, as the maker's other
// programs do, each write a whole pattern under the shared mutex; with --hold MS VALUE it keeps the
// shared mutex MS milliseconds.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/SharedMemory.h"
#include "platform/SharedMutex.h"

namespace
{
struct VersionNote {
    uint32_t nameSize;
    uint32_t descSize;
    uint32_t type;
    char name[12];
    uint32_t versionMs;
    uint32_t versionLs;
};
// Version 3.1.4.1592.
__attribute__((section(".note.brennhall.version"), used, aligned(4)))
const VersionNote kVersionNote = {10, 8, 1, "Brennhall", (3u << 16) | 1u, (4u << 16) | 1592u};

// Table 3.1.1 row 1 text and scalar 3.2.0, written together: the text repeats the scalar's digit.
constexpr uint32_t kTextOffset = 5680 + 8;
constexpr uint32_t kScalarOffset = 6400;

int RunWriter(long ms)
{
    platform::SharedMemory block;
    platform::SharedMutex mutex;
    if (!block.Open("Korvo_SNMP_SHM", 6408) || !mutex.Open("KorvoCommon_SHM_Semaphore"))
        return 1;
    auto* bytes = static_cast<uint8_t*>(block.Data());
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    uint32_t n = static_cast<uint32_t>(getpid());
    while (std::chrono::steady_clock::now() < end) {
        uint32_t r = mutex.Lock(2000);
        if (r != platform::kWaitObject0 && r != platform::kWaitAbandoned)
            continue;
        const char digit = static_cast<char>('0' + n % 10);
        std::memset(bytes + kTextOffset, digit, 63);
        bytes[kTextOffset + 63] = 0;
        uint32_t value = n % 10;
        std::memcpy(bytes + kScalarOffset, &value, 4);
        mutex.Unlock();
        ++n;
    }
    return 0;
}
// Takes the shared mutex, says so on stdout, keeps it MS milliseconds, then writes VALUE to scalar
// 3.2.0 and lets it go: a process of the maker stuck with the mutex for a while.
int RunHolder(long ms, uint32_t value)
{
    platform::SharedMemory block;
    platform::SharedMutex mutex;
    if (!block.Open("Korvo_SNMP_SHM", 6408) || !mutex.Open("KorvoCommon_SHM_Semaphore"))
        return 1;
    const uint32_t r = mutex.Lock(5000);
    if (r != platform::kWaitObject0 && r != platform::kWaitAbandoned)
        return 1;
    std::printf("held\n");
    std::fflush(stdout);
    usleep(static_cast<useconds_t>(ms) * 1000);
    std::memcpy(static_cast<uint8_t*>(block.Data()) + kScalarOffset, &value, 4);
    mutex.Unlock();
    return 0;
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--writer") == 0)
        return RunWriter(std::strtol(argv[2], nullptr, 10));
    if (argc == 4 && std::strcmp(argv[1], "--hold") == 0)
        return RunHolder(std::strtol(argv[2], nullptr, 10), static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)));
    // Never outlive a test that forgot it.
    sleep(60);
    return kVersionNote.type == 1 ? 0 : 1;
}
