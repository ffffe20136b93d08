// The receiver's block data on arbitrary bytes. The first input byte picks the layout and size: 0 a 2 MB block
// with a table, 1 a 2 MB BAVD block, 2 an 8 MB BAVD block; the rest of the input becomes the table or the header
// area of an otherwise zeroed block. Every element and audio unit the block data hands out is touched whole.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "receiver/CKorvoBlockData.h"
#include "serverblock/ServerBlock.h"

namespace
{

volatile uint32_t g_nSink;

void Touch(const CKorvoBlockData& data, const uint8_t* block, uint32_t blockSize)
{
    uint32_t sum = data.GetFirstField() + data.GetEndField() + data.ElementsPerField() + data.Flag();
    for (int32_t i = -2; i < 260; ++i) {
        int32_t size = 0;
        if (const uint8_t* p = data.GetVideo(i, &size); p && size > 0) {
            if (p < block || p + size > block + blockSize)
                __builtin_trap();
            sum += p[0] + p[size - 1];
        }
        if (const uint8_t* p = data.GetAudio(i, &size); p && size > 0) {
            if (p < block || p + size > block + blockSize)
                __builtin_trap();
            sum += p[0] + p[size - 1];
        }
    }
    g_nSink = sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::vector<uint8_t> block2(kBlockSize2MB);
    static std::vector<uint8_t> block8(kBlockSize8MB);
    if (size == 0)
        return 0;
    const uint8_t kind = data[0] % 3;
    const uint8_t* payload = data + 1;
    const size_t length = size - 1;
    if (kind == 0) {
        const size_t n = length < k2kTableSize ? length : k2kTableSize;
        std::memcpy(block2.data() + k2kTableOffset, payload, n);
        CKorvo2kBlockData blockData;
        if (blockData.SetBlockData(block2.data(), kBlockSize2MB) == kBlockDataOk)
            Touch(blockData, block2.data(), kBlockSize2MB);
        std::memset(block2.data() + k2kTableOffset, 0, n);
        return 0;
    }
    std::vector<uint8_t>& block = kind == 1 ? block2 : block8;
    const uint32_t blockSize = static_cast<uint32_t>(block.size());
    const size_t n = length < kBavdHeaderAreaSize ? length : kBavdHeaderAreaSize;
    std::memcpy(block.data(), payload, n);
    CKorvo8MBlockData blockData;
    if (blockData.SetBlockData(block.data(), blockSize) == kBlockDataOk)
        Touch(blockData, block.data(), blockSize);
    std::memset(block.data(), 0, n);
    return 0;
}
