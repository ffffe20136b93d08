// The server block parsers on arbitrary bytes. The first input byte picks the layout: even bytes give a 2kTable
// block whose table is the rest of the input, odd bytes a BAVD block whose header area is the rest of the input;
// either is padded into a zeroed block. The raw input also goes to the parser with its exact length.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "serverblock/Bavd.h"
#include "serverblock/C2kBlockData.h"
#include "serverblock/CBavdBlockData.h"
#include "serverblock/ServerBlock.h"

namespace
{

volatile uint32_t g_nSink;

void Touch(const CBlockData& data)
{
    uint32_t sum = data.GetFirstField() + data.GetEndField() + data.GetVideoFormat() + data.GetVideoChannels() +
                   data.GetFieldsPerPicture() + data.GetAudioBase();
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t size = 0;
        if (const uint8_t* p = data.GetFieldData(i, &size); p && size)
            sum += p[0] + p[size - 1];
    }
    g_nSink = sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::vector<uint8_t> block(kBlockSize2MB);
    if (size == 0)
        return 0;
    const uint8_t* payload = data + 1;
    const size_t length = size - 1;

    {
        std::vector<uint8_t> exact(payload, payload + length);
        Bavd bavd;
        bavd.LoadFromBuffer(exact.data(), exact.size());
        bavd.LoadFrom2kTable(exact.data(), exact.size());
    }

    if (data[0] % 2 == 0) {
        const size_t n = length < k2kTableSize ? length : k2kTableSize;
        std::memcpy(block.data() + k2kTableOffset, payload, n);
        C2kBlockData blockData;
        if (blockData.SetBlock(block.data()) == 0)
            Touch(blockData);
        Bavd bavd;
        bavd.LoadFrom2kTable(block.data() + k2kTableOffset, k2kTableSize);
        std::memset(block.data() + k2kTableOffset, 0, n);
    } else {
        const size_t n = length < kBavdHeaderAreaSize ? length : kBavdHeaderAreaSize;
        std::memcpy(block.data(), payload, n);
        CBavdBlockData blockData(kBlockSize2MB);
        if (blockData.SetBlock(block.data()) == 0)
            Touch(blockData);
        if (blockData.SetTable(block.data()) == 0)
            Touch(blockData);
        std::memset(block.data(), 0, n);
    }
    return 0;
}
