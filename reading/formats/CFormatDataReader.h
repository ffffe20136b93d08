#pragma once

#include <cstdint>
#include <string>

#include "reading/framework/CDataReader.h"

// The common ground of the readers of media files made by other systems (QuickTime, AVI, WAV, DV, SDI): byte
// access at file positions through the root's read buffer.
class CFormatDataReader : public CDataReader
{
public:
    using CDataReader::CDataReader;

protected:
    // File position of the cursor.
    uint64_t Position() const { return _nBufferPos + (_nFill - _nBytesLeft); }
    // Whether count bytes lie at the cursor, after one refill when needed.
    bool Have(uint32_t count);
    // Seeks only when the cursor is not already there.
    int32_t SeekTo(uint64_t position);
    // Copies count bytes from the file position through the buffer; the cursor ends behind them.
    // kDataOk, or kNoMoreData when the source cannot give them all.
    int32_t CopyAt(uint64_t position, uint8_t* dest, uint64_t count);
    // Reloads the buffer so that it ends at the position, starting a buffer size before it but not below
    // lowest, and puts the cursor back on the position; false when the bytes before it cannot be had.
    bool LoadEndingAt(uint64_t position, uint64_t lowest);
    // Moves the cursor count bytes back, reloading the buffer first when fewer lie before it; false when the
    // bytes between lowest and the cursor cannot be had (the cursor stays then).
    bool StepBack(uint32_t count, uint64_t lowest);
    // Forgets the buffered bytes, as when the source now reads another file.
    void DropBuffer();
    // The source's size, 0 when unknown.
    uint64_t SourceSize();
};
