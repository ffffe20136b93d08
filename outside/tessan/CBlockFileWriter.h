#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/File.h"
#include "platform/PageBuffer.h"

namespace tessan
{

// Writes a file front to back in whole blocks at block-aligned positions, gathering small appends in a
// page-aligned buffer; only the last write is shorter. Closing syncs the file, so a folder reported complete is
// on the disk.
class CBlockFileWriter
{
public:
    explicit CBlockFileWriter(uint32_t blockSize) : _nBlockSize(blockSize) {}
    ~CBlockFileWriter();
    CBlockFileWriter(const CBlockFileWriter&) = delete;
    CBlockFileWriter& operator=(const CBlockFileWriter&) = delete;

    // Creates or empties the file.
    bool Open(const std::string& path);
    bool Append(const uint8_t* data, size_t size);
    // Replaces bytes already appended.
    bool Overwrite(uint64_t offset, const uint8_t* data, size_t size);
    // Writes what is gathered, syncs and closes: false when any write failed.
    bool Close();
    bool IsOpen() const { return _file.IsOpen(); }
    uint64_t Size() const { return _nBlockPos + _nFill; }
    // The system's text for the first failure.
    std::string ErrorText() const;

private:
    bool Write(const uint8_t* data, size_t size, uint64_t offset);

    const uint32_t _nBlockSize;
    platform::File _file;
    platform::PageBuffer _buffer;
    uint64_t _nBlockPos = 0;  // the file position of the buffer's first byte
    uint32_t _nFill = 0;
    int _nError = 0;
};

}  // namespace tessan
