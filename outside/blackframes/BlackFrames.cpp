// libBlackFrames.so: ready-coded black frames by resource name, in place of a resource library.
#include <cstdint>
#include <cstring>

#include "outside/blackframes/BlackFramesTable.h"

extern "C" __attribute__((visibility("default"))) const uint8_t* FindBlackFrame(const char* name, uint32_t* size)
{
    if (size)
        *size = 0;
    if (!name)
        return nullptr;
    for (const BlackFrameEntry& entry : kBlackFrames) {
        if (std::strcmp(entry.name, name) == 0) {
            if (size)
                *size = static_cast<uint32_t>(entry.end - entry.begin);
            return entry.begin;
        }
    }
    return nullptr;
}
