// Any bytes as a link file and as a side-car metadata file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "reading/framework/CDataReader.h"
#include "reading/framework/CRixLink.h"
#include "tests/fuzz/FuzzTempFolder.h"

namespace
{

class SideCarReader : public CDataReader
{
public:
    SideCarReader() : CDataReader(0, "") {}
    int32_t Open(uint32_t) override { return 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (FuzzTempFolder().empty())
        return 0;
    const std::string clip = FuzzTempFolder() + "/clip.mxf";
    const std::string xml = FuzzTempFolder() + "/clip.korvo.xml";
    for (const std::string* path : {&clip, &xml}) {
        FILE* file = std::fopen(path->c_str(), "wb");
        if (!file)
            return 0;
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    CRixLink link;
    link.Parse(xml.c_str());
    link.IsComplete();
    SideCarReader reader;
    reader.ReopenSource(clip.c_str(), 1);
    return 0;
}
