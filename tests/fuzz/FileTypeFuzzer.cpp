// Any bytes as a file whose type is detected, with the video type asked for.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "reading/factory/FileTypeDetection.h"
#include "reading/source/CLocalFileReader.h"
#include "tests/fuzz/FuzzTempFolder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An incomplete link file sends detection to the server it names: not for a fuzzer on any host.
    static constexpr char kLink[] = "RixLink";
    if (FuzzTempFolder().empty() || std::search(data, data + size, kLink, kLink + 7) != data + size)
        return 0;
    const std::string path = FuzzTempFolder() + "/clip.bin";
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
