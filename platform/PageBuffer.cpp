#include "platform/PageBuffer.h"

#include <cstdlib>
#include <cstring>

namespace platform
{

void* AllocPages(size_t bytes)
{
    if (bytes == 0 || bytes > SIZE_MAX - kPageSize)
        return nullptr;
    size_t rounded = (bytes + kPageSize - 1) / kPageSize * kPageSize;
    void* p = std::aligned_alloc(kPageSize, rounded);
    if (p)
        std::memset(p, 0, rounded);
    return p;
}

void FreePages(void* p)
{
    std::free(p);
}

}  // namespace platform
