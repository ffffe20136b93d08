#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform
{

constexpr size_t kPageSize = 4096;

// Page-aligned, zeroed memory, as page allocation gives it; nullptr when it cannot be had.
void* AllocPages(size_t bytes);
// The same, but not cleared when it is memory freed before: for a buffer whose bytes are all written before any is
// read (a block being received), which spares clearing megabytes for each use.
void* AllocUnclearedPages(size_t bytes);
void FreePages(void* p);

struct PageDeleter {
    void operator()(void* p) const { FreePages(p); }
};
using PageBuffer = std::unique_ptr<uint8_t[], PageDeleter>;

inline PageBuffer MakePageBuffer(size_t bytes)
{
    return PageBuffer(static_cast<uint8_t*>(AllocPages(bytes)));
}

inline PageBuffer MakeUnclearedPageBuffer(size_t bytes)
{
    return PageBuffer(static_cast<uint8_t*>(AllocUnclearedPages(bytes)));
}

}  // namespace platform
