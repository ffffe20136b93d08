// The IMX writer on an arbitrary header sample file: Begin walks and patches it, Close rewrites it. The
// system and footer samples are minimal good ones; the output is a file of the fuzz temp folder (a device
// cannot be cut to size, and the writer would stop before the header). The seed corpus holds a good header:
// a run of several inputs in which no header was patched has tested nothing and aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzTempFolder.h"
#include "writers/op1a/CIMXMXFWriter.h"

namespace
{
void WriteFile(const std::string& path, const uint8_t* data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

const std::string& Samples()
{
    static const std::string folder = [] {
        const std::string dir = FuzzTempFolder() + "/";
        std::vector<uint8_t> system(1024, 0);
        const uint8_t key[16] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                 0x0D, 0x01, 0x03, 0x01, 0x04, 0x01, 0x01, 0x00};
        std::copy(key, key + 16, system.begin());
        WriteFile(dir + "IMX_System.MXF", system.data(), system.size());
        std::vector<uint8_t> footer(512, 0);
        const uint8_t pack[17] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D,
                                  0x01, 0x02, 0x01, 0x01, 0x04, 0x04, 0x00, 0x83};
        std::copy(pack, pack + 17, footer.begin());
        WriteFile(dir + "IMX_Footer.MXF", footer.data(), footer.size());
        return dir;
    }();
    return folder;
}
size_t g_nInputs = 0;
size_t g_nPatched = 0;

void CheckReached()
{
    if (g_nInputs > 1 && g_nPatched == 0) {
        std::fprintf(stderr, "ImxHeaderSampleFuzzer: no input reached the header patcher\n");
        std::abort();
    }
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (FuzzTempFolder().empty()) {
        std::fprintf(stderr, "ImxHeaderSampleFuzzer: no temp folder\n");
        std::abort();
    }
    std::atexit(CheckReached);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& dir = Samples();
    WriteFile(dir + "IMX_Header.MXF", data, size);
    CIMXMXFWriter writer(size % 2 ? 16 : 24, dir.c_str(), 0);
    // Opening a file of our own folder cannot fail on any input.
    if (writer.Open((dir + "out.mxf").c_str()) != 0)
        std::abort();
    ++g_nInputs;
    MediaWriterClipInfo info;
    info.standardCode = size % 3 ? 3 : 4;
    info.videoBitRate = (size % 3 ? 30 : 50) * 1000000u;
    if (writer.Begin(info) == 0) {
        ++g_nPatched;
        uint8_t picture[64] = {0x00, 0x00, 0x01, 0xB3};
        writer.AddFrame(picture, sizeof picture, nullptr, 0, 0);
    }
    writer.Close();
    return 0;
}
