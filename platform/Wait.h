#pragma once

#include <cstdint>

namespace platform
{

// Wait results and the endless time-out, numbered as the system's code expects them.
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 0x102;
constexpr uint32_t kWaitFailed = 0xFFFFFFFF;
constexpr uint32_t kInfinite = 0xFFFFFFFF;

}  // namespace platform
