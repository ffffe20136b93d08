#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

// A temp folder of the fuzz run's own, removed when the run ends; empty when it cannot be made.
inline const std::string& FuzzTempFolder()
{
    struct TempFolder {
        std::string path;
        TempFolder()
        {
            char name[] = "/tmp/korvo-fuzz-XXXXXX";
            if (mkdtemp(name))
                path = name;
        }
        ~TempFolder()
        {
            std::error_code ec;
            if (!path.empty())
                std::filesystem::remove_all(path, ec);
        }
    };
    static const TempFolder folder;
    return folder.path;
}

// Points the platform's registry, drive root and runtime folder into the temp folder, so that what the code
// under test stores or logs stays in this run; aborts when there is no temp folder.
inline void FuzzIsolate()
{
    const std::string& root = FuzzTempFolder();
    if (root.empty())
        std::abort();
    const char* const kFolders[][2] = {{"KORVO_REGISTRY_ROOT", "/registry"},
                                       {"KORVO_DRIVE_ROOT", "/drives"},
                                       {"KORVO_RUNTIME_DIR", "/run"},
                                       {"KORVO_NODWELL_LOG_DIR", "/log"}};
    for (const auto& folder : kFolders) {
        const std::string path = root + folder[1];
        std::filesystem::create_directories(path);
        setenv(folder[0], path.c_str(), 1);
    }
}
