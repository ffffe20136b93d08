#include "platform/PageBuffer.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVO_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(KORVO_ASAN)
#define KORVO_ASAN 1
#endif
#ifdef KORVO_ASAN
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#endif

namespace platform
{
namespace
{
// From this size on, memory is mapped: the system zeroes a page when it is first touched, so a block buffer
// costs nothing for the parts never filled, where clearing it all at once costs milliseconds per megabyte.
constexpr size_t kMappedFrom = size_t{1} << 20;
// Freed mappings kept for the next buffer of their size, up to this many and this much in all: a reader opened
// clip after clip then clears its blocks' pages instead of having the system fault each one in and unmap it.
constexpr size_t kKeptCount = 16;
constexpr size_t kKeptMax = size_t{64} << 20;

struct Mapping {
    size_t bytes;  // asked for
    size_t total;  // mapped, guard pages included
};

// The tables are never destroyed: buffers held by other statics are freed at exit too. They live in static
// storage, not on the heap, so a module unloaded with dlclose leaves no unreachable block behind once its buffers
// are freed.
struct Tables {
    std::mutex lock;
    std::map<void*, Mapping> mapped;  // by the address handed out
    void* kept[kKeptCount] = {};
    size_t keptTotal[kKeptCount] = {};
    size_t keptBytes = 0;
    bool keeping = true;  // false once the module's statics are going
};

Tables& TheTables()
{
    alignas(Tables) static unsigned char storage[sizeof(Tables)];
    static Tables* tables = new (storage) Tables;
    return *tables;
}

// Unmaps the kept mappings when the module is unloaded or the process ends; a buffer freed after that is
// unmapped at once.
struct ReleaseKept {
    ~ReleaseKept()
    {
        Tables& t = TheTables();
        std::lock_guard lock(t.lock);
        t.keeping = false;
        for (size_t i = 0; i < kKeptCount; ++i) {
            if (!t.kept[i])
                continue;
#ifdef KORVO_ASAN
            ASAN_UNPOISON_MEMORY_REGION(t.kept[i], t.keptTotal[i] - 2 * kPageSize);
#endif
            munmap(static_cast<uint8_t*>(t.kept[i]) - kPageSize, t.keptTotal[i]);
            t.kept[i] = nullptr;
        }
        t.keptBytes = 0;
    }
} g_releaseKept;

// Hands out a mapping as a buffer of bytes: what lies past them is off limits to the sanitizer, and what the
// buffer points to stays reachable for the leak checker, which does not look into mappings.
void* HandOut(void* p, size_t bytes, size_t total)
{
#ifdef KORVO_ASAN
    const size_t rounded = total - 2 * kPageSize;
    ASAN_POISON_MEMORY_REGION(static_cast<uint8_t*>(p) + bytes, rounded - bytes);
    __lsan_register_root_region(p, bytes);
#endif
    Tables& t = TheTables();
    std::lock_guard lock(t.lock);
    t.mapped.emplace(p, Mapping{bytes, total});
    return p;
}

// A kept mapping of that size, cleared when asked; nullptr when none is kept.
void* TakeKept(size_t bytes, size_t rounded, bool clear)
{
    const size_t total = rounded + 2 * kPageSize;
    void* p = nullptr;
    {
        Tables& t = TheTables();
        std::lock_guard lock(t.lock);
        for (size_t i = 0; i < kKeptCount && !p; ++i) {
            if (t.kept[i] && t.keptTotal[i] == total) {
                p = t.kept[i];
                t.kept[i] = nullptr;
                t.keptBytes -= total;
            }
        }
    }
    if (!p)
        return nullptr;
#ifdef KORVO_ASAN
    ASAN_UNPOISON_MEMORY_REGION(p, rounded);
#endif
    if (clear)
        std::memset(p, 0, rounded);
    return HandOut(p, bytes, total);
}

// A mapping with an inaccessible page on each side, so that running off either end faults as it would past an
// allocation's red zone.
void* MapPages(size_t bytes, size_t rounded)
{
    const size_t total = rounded + 2 * kPageSize;
    void* base = mmap(nullptr, total, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return nullptr;
    uint8_t* p = static_cast<uint8_t*>(base) + kPageSize;
    if (mprotect(p, rounded, PROT_READ | PROT_WRITE) != 0) {
        munmap(base, total);
        return nullptr;
    }
    return HandOut(p, bytes, total);
}

void* Allocate(size_t bytes, bool clear)
{
    if (bytes == 0 || bytes > SIZE_MAX - 3 * kPageSize)
        return nullptr;
    size_t rounded = (bytes + kPageSize - 1) / kPageSize * kPageSize;
    if (bytes >= kMappedFrom) {
        void* kept = TakeKept(bytes, rounded, clear);
        return kept ? kept : MapPages(bytes, rounded);
    }
    void* p = std::aligned_alloc(kPageSize, rounded);
    if (p && clear)
        std::memset(p, 0, rounded);
    return p;
}
}  // namespace

void* AllocPages(size_t bytes)
{
    return Allocate(bytes, true);
}

void* AllocUnclearedPages(size_t bytes)
{
    return Allocate(bytes, false);
}

void FreePages(void* p)
{
    if (!p)
        return;
    Mapping mapping{0, 0};
    bool kept = false;
    {
        Tables& t = TheTables();
        std::lock_guard lock(t.lock);
        auto it = t.mapped.find(p);
        if (it != t.mapped.end()) {
            mapping = it->second;
            t.mapped.erase(it);
            size_t slot = kKeptCount;
            if (t.keeping && t.keptBytes + mapping.total <= kKeptMax)
                for (size_t i = 0; i < kKeptCount && slot == kKeptCount; ++i)
                    if (!t.kept[i])
                        slot = i;
            kept = slot < kKeptCount;
#ifdef KORVO_ASAN
            __lsan_unregister_root_region(p, mapping.bytes);
            // A kept buffer is off limits until handed out again; unmapped addresses may be mapped again by
            // others. Before it is listed: another thread may take it at once.
            if (kept)
                ASAN_POISON_MEMORY_REGION(p, mapping.total - 2 * kPageSize);
            else
                ASAN_UNPOISON_MEMORY_REGION(p, mapping.total - 2 * kPageSize);
#endif
            if (kept) {
                t.kept[slot] = p;
                t.keptTotal[slot] = mapping.total;
                t.keptBytes += mapping.total;
            }
        }
    }
    if (mapping.total == 0)
        std::free(p);
    else if (!kept)
        munmap(static_cast<uint8_t*>(p) - kPageSize, mapping.total);
}

}  // namespace platform
