#pragma once

#include <unistd.h>

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
