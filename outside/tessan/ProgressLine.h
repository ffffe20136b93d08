#pragma once

#include <cstdint>
#include <string>

namespace tessan
{

// The progress line of a long transfer: frames done of the total, the rate and the time spent.
std::string FormatProgress(const char* direction, int64_t done, int64_t total, double seconds, bool paused);

}  // namespace tessan
