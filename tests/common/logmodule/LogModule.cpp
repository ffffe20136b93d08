// A plug-in-like module with its own log manager, loaded and unloaded by the log tests.
#include "common/CLogManager.h"

extern "C" __attribute__((visibility("default"))) int LogModuleOpen(const char* path)
{
    return theLogManager.OpenLog(path, 1 << 20, "");
}

extern "C" __attribute__((visibility("default"))) int LogModuleLog(const char* text)
{
    return theLogManager.Log("module: %s", text);
}
