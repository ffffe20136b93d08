#pragma once

#include <cstdint>
#include <future>
#include <memory>

#include "platform/PageBuffer.h"
#include "writers/parvex/KorvoMXFBlockWriter.h"
#include "writers/parvex/KorvoMXFInfo.h"
#include "writers/parvex/KorvoMXFLog.h"
#include "writers/parvex/KorvoMXFResult.h"

class CMXF_Parvex_ClipInfo;
class CMXF_Parvex_FileWriter;

enum KorvoMXFOpenMode : uint32_t {
    KORVOMXF_OPEN_CREATE = 0,
    KORVOMXF_OPEN_UPDATE = 1,
};

enum KorvoMXFBlockFormat : uint32_t {
    KORVOMXF_FORMAT_TBL2K_2MB = 1,  // 0 counts as 1
    KORVOMXF_FORMAT_BAVD_8MB_V257 = 2,
    KORVOMXF_FORMAT_BAVD_8MB = 3,
    KORVOMXF_FORMAT_BAVD_2MB = 4,
};

// Writes one clip as a Parvex clip file: the 2 MB header area, the essence as whole server blocks from 0x200000
// and the footer with the block index. Pictures go into the current block; full blocks are written at their place,
// each in the background while the next one is filled, one write at a time and in the file's order.
class KorvoMXFWriter : public KorvoMXFLog
{
public:
    KorvoMXFWriter();
    ~KorvoMXFWriter() override;

    KorvoMXFResult Open(const char* path, uint32_t openMode, uint32_t blockFormat);
    // Takes the clip's description and writes the header (again).
    KorvoMXFResult SetInfo(const KorvoMXFInfo& info);
    KorvoMXFResult SetFirstField(uint32_t field);
    KorvoMXFResult AddPicture(uint32_t videoCount, const KorvoMXFVideoInfo* videoInfo, const uint8_t* videoData,
                              uint32_t audioCount, const KorvoMXFAudioInfo* audioInfo, const uint8_t* audioData,
                              uint32_t dataBlockCount, const uint32_t* dataBlockSizes, const uint8_t* dataBlocks);
    // Indexes the block being filled, starts writing it at its place and goes on in the other buffer; the
    // result of the block written before (or a failure to place this one).
    KorvoMXFResult WriteCurrentBlock();
    // Writes the last block, the footer and the final header, and closes the file: the first failure, else 0.
    // After a block was lost no footer or header is written over it: the file is closed with the failure.
    KorvoMXFResult Close();
    bool IsOpen() const { return _pFileWriter != nullptr; }
    int SetLog(const char* path, uint32_t maxSize) override;

private:
    KorvoMXFResult OpenForUpdate(const char* path);
    KorvoMXFResult ConfigureBlockWriter(uint32_t blockFormat);
    void Release();
    // Writes a full block from a buffer and clears the buffer for its next turn; runs beside the filling.
    KorvoMXFResult WriteBlock(uint8_t* block);
    // Waits for the block being written: the first failure kept, else 0.
    KorvoMXFResult FinishBlockWrite();
    // Keeps the first failure: the file has lost what it was to hold, whatever succeeds later.
    KorvoMXFResult Keep(KorvoMXFResult rc);

    std::unique_ptr<CMXF_Parvex_FileWriter> _pFileWriter;
    std::unique_ptr<CMXF_Parvex_ClipInfo> _pClipInfo;
    platform::PageBuffer _pBlock;  // being filled
    platform::PageBuffer _pSpare;  // being written, or clear for the next block
    std::future<KorvoMXFResult> _blockWrite;
    uint32_t _nBlockSize = 0;
    uint32_t _nBlocksWritten = 0;
    std::unique_ptr<KorvoMXFBlockWriter> _pBlockWriter;
    uint32_t _nOpenMode = KORVOMXF_OPEN_CREATE;
    // The first failure to write a block or the header; every later call returns it, Close included.
    KorvoMXFResult _nFailure = KORVOMXF_OK;
};
