// Any bytes as a file whose type is detected, with the video type asked for.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "reading/framework/CLocalFileReader.h"
#include "reading/framework/FileTypeDetection.h"

namespace
{

// A folder of the run's own, removed when the run ends.
struct TempFolder {
    std::string path;
    TempFolder()
    {
        char name[] = "/tmp/korvo-typefuzz-XXXXXX";
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

const std::string& Folder()
{
    static const TempFolder folder;
    return folder.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An incomplete link file sends detection to the server it names: not for a fuzzer on any host.
    static constexpr char kLink[] = "RixLink";
    if (Folder().empty() || std::search(data, data + size, kLink, kLink + 7) != data + size)
        return 0;
    const std::string path = Folder() + "/clip.bin";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    CLocalFileReader source;
    if (source.Open(path.c_str(), 0, 0) != 0)
        return 0;
    int32_t video = 0;
    DetectFileType(&source, &video);
    return 0;
}
