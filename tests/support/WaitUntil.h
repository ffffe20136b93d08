#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testsupport
{

// Polls until the event has come or the limit passed; whether it came. The limit is a bound for a broken run,
// not a timing the test relies on.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(60))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace testsupport
