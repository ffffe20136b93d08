// The receiver's frame readers on arbitrary units. The first input byte picks the reader (0 IMX, 1 DVCPRO,
// 2 VC-3, 3 OP1A); the second its video system, track count, sample width and high-frame-rate flag; the third
// the elements per field. For the block readers the rest is a list of pieces, each a 16-bit big-endian length
// and its bytes, taken in turn as a video element and a field's audio unit of one block held in memory; for the
// OP1A reader the rest is the file. Every frame handed out is touched whole and given back.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "receiver/CReceiverKorvoDVCProReader.h"
#include "receiver/CReceiverKorvoIMXReader.h"
#include "receiver/CReceiverKorvoVC3Reader.h"
#include "receiver/CReceiverOP1AReader.h"
#include "tests/fuzz/FuzzFrames.h"
#include "tests/fuzz/FuzzTempFolder.h"
#include "tests/receiver/FakeBlockReader.h"

using fuzzframes::ReadAll;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const uint8_t kind = data[0] % 4;
    const int32_t system = 3 + (data[1] & 0x07) % 6;
    const int32_t tracks = (data[1] >> 3) % 9;
    const int32_t bits = data[1] & 0x80 ? 24 : 16;
    const bool highFrameRate = (data[2] & 0x80) != 0;
    const uint32_t perField = 1 + (data[2] & 0x03);
    data += 3;
    size -= 3;

    if (kind == 3) {
        const std::string path = FuzzTempFolder() + "/op1a.mxf";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        CReceiverOP1AReader reader;
        reader.SetRetryWaitMs(1);
        if (reader.Open(path, system, 50, tracks, bits) == 0)
            ReadAll(reader, 8);
        return 0;
    }

    auto blocks = std::make_unique<framereadertest::FakeBlockReader>();
    framereadertest::FakeBlockReader::Block block;
    block.nElementsPerField = perField;
    for (size_t at = 0, n = 0; at + 2 <= size; ++n) {
        const size_t length = std::min<size_t>(size_t{data[at]} << 8 | data[at + 1], size - at - 2);
        std::vector<uint8_t> piece(data + at + 2, data + at + 2 + length);
        (n % 2 ? block.audio : block.elements).push_back(std::move(piece));
        at += 2 + length;
    }
    blocks->_blocks.push_back(block);
    std::unique_ptr<CReceiverFReader> reader;
    if (kind == 0)
        reader = std::make_unique<CReceiverKorvoIMXReader>(std::move(blocks), highFrameRate, 1);
    else if (kind == 1)
        reader = std::make_unique<CReceiverKorvoDVCProReader>(std::move(blocks), highFrameRate, 1);
    else
        reader = std::make_unique<CReceiverKorvoVC3Reader>(std::move(blocks), highFrameRate, 1);
    if (reader->Open("fuzz", system, 50, tracks, bits) == 0)
        ReadAll(*reader, tracks);
    return 0;
}
