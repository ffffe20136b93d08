#pragma once
// What the fake plug-ins share: a journal of the calls they get (appended to the file that
// FAKE_JOURNAL names) and the test's settings from the environment.

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace fakeplugin
{

inline void Journal(const std::string& line)
{
    static std::mutex lock;
    std::lock_guard guard(lock);
    if (const char* path = std::getenv("FAKE_JOURNAL")) {
        if (std::FILE* file = std::fopen(path, "a")) {
            std::fprintf(file, "%s\n", line.c_str());
            std::fclose(file);
        }
    }
}

inline std::string Setting(const char* name, const char* otherwise = "")
{
    const char* value = std::getenv(name);
    return value ? value : otherwise;
}

// "error-at:N" and the like: N when the mode has that kind, else -1.
inline long ModeAt(const std::string& kind)
{
    std::string mode = Setting("FAKE_MODE");
    if (mode.rfind(kind + ":", 0) != 0)
        return -1;
    return std::strtol(mode.c_str() + kind.size() + 1, nullptr, 10);
}

inline bool Mode(const char* mode)
{
    return Setting("FAKE_MODE") == mode;
}

}  // namespace fakeplugin

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
