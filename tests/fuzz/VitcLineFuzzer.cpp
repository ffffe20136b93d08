// Any bytes as a video line: the decoder answers a timecode or none, never reading past the line.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "parvex/CSdiFrameTimecode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly the input's size, so that any read beyond it is caught.
    std::vector<uint8_t> line(data, data + size);
    CSdiFrameTimecode decoder;
    decoder.DecodeLine(line.data(), line.size());
    return 0;
}
