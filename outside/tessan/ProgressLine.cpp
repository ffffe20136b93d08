#include "outside/tessan/ProgressLine.h"

#include <cstdio>

namespace tessan
{

std::string FormatProgress(const char* direction, int64_t done, int64_t total, double seconds, bool paused)
{
    double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    char line[160];
    if (total > 0)
        std::snprintf(line, sizeof line, "%s: %lld/%lld frames (%.0f%%)  %.1f frames/s  %.1f s%s", direction,
                      static_cast<long long>(done), static_cast<long long>(total),
                      100.0 * static_cast<double>(done) / static_cast<double>(total), rate, seconds,
                      paused ? "  [paused]" : "");
    else
        std::snprintf(line, sizeof line, "%s: %lld frames  %.1f frames/s  %.1f s%s", direction,
                      static_cast<long long>(done), rate, seconds, paused ? "  [paused]" : "");
    return line;
}

}  // namespace tessan
