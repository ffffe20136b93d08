#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/PageBuffer.h"

namespace tessan
{

// Reads a file in whole blocks at block-aligned positions: a request is served from the block held in a
// page-aligned buffer, and whole blocks of a large request go straight into the caller's memory.
class CBlockFileReader
{
public:
    explicit CBlockFileReader(uint32_t blockSize) : _nBlockSize(blockSize) {}
    CBlockFileReader(const CBlockFileReader&) = delete;
    CBlockFileReader& operator=(const CBlockFileReader&) = delete;

    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return _file.IsOpen(); }
    uint64_t Size() const { return _nSize; }
    // The size bytes at offset; false when the file holds fewer or a read fails.
    bool Read(uint64_t offset, uint8_t* data, size_t size);
    // The whole file, when it holds at most limit bytes.
    bool ReadAll(std::vector<uint8_t>& bytes, uint64_t limit);

private:
    const uint32_t _nBlockSize;
    platform::File _file;
    platform::PageBuffer _buffer;
    uint64_t _nSize = 0;
    uint64_t _nHeldPos = 0;  // the file position of the block in the buffer
    uint32_t _nHeld = 0;
};

}  // namespace tessan
