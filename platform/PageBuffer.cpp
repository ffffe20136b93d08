#include "platform/PageBuffer.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

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

struct Mapping {
    size_t bytes;  // asked for
    size_t total;  // mapped, guard pages included
};

// The mapped allocations, by the address handed out. Never destroyed: buffers held by other statics are freed
// at exit too.
std::mutex& MappedLock()
{
    static auto* lock = new std::mutex;
    return *lock;
}
std::unordered_map<void*, Mapping>& Mapped()
{
    static auto* mapped = new std::unordered_map<void*, Mapping>;
    return *mapped;
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
#ifdef KORVO_ASAN
    // The rest of the last page lies past the allocation too.
    ASAN_POISON_MEMORY_REGION(p + bytes, rounded - bytes);
    // The leak checker does not look into mappings: what the buffer points to stays reachable.
    __lsan_register_root_region(p, bytes);
#endif
    std::lock_guard lock(MappedLock());
    Mapped().emplace(p, Mapping{bytes, total});
    return p;
}
}  // namespace

void* AllocPages(size_t bytes)
{
    if (bytes == 0 || bytes > SIZE_MAX - 3 * kPageSize)
        return nullptr;
    size_t rounded = (bytes + kPageSize - 1) / kPageSize * kPageSize;
    if (bytes >= kMappedFrom)
        return MapPages(bytes, rounded);
    void* p = std::aligned_alloc(kPageSize, rounded);
    if (p)
        std::memset(p, 0, rounded);
    return p;
}

void FreePages(void* p)
{
    if (!p)
        return;
    Mapping mapping{0, 0};
    {
        std::lock_guard lock(MappedLock());
        auto it = Mapped().find(p);
        if (it != Mapped().end()) {
            mapping = it->second;
            Mapped().erase(it);
        }
    }
    if (mapping.total == 0) {
        std::free(p);
        return;
    }
#ifdef KORVO_ASAN
    __lsan_unregister_root_region(p, mapping.bytes);
    // The addresses may be mapped again: they must not stay poisoned.
    ASAN_UNPOISON_MEMORY_REGION(p, mapping.total - 2 * kPageSize);
#endif
    munmap(static_cast<uint8_t*>(p) - kPageSize, mapping.total);
}

}  // namespace platform
