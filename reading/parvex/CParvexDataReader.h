#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "parvex/CMXF_Parvex_ClipInfo.h"
#include "parvex/ParvexLayout.h"
#include "platform/PageBuffer.h"
#include "reading/framework/CDataReader.h"
#include "reading/parvex/CMXF_Parvex_FileReader.h"
#include "serverblock/CBlockData.h"

// Reads Parvex clip files through the data-reader interface: the clip description and block index from the
// header and footer, then the essence block by block. A file without its footer is a clip still being recorded:
// its last complete block is found by scanning backwards from the end, and the blocks seen are kept in a map
// that a field search narrows by interpolation. The video and audio readers derive from it; by itself it
// delivers no data. Used by one thread at a time.
class CParvexDataReader : public CDataReader
{
public:
    static constexpr uint64_t kDataStart = parvex::kHeaderAreaSize;
    static constexpr uint32_t kDefaultBufferSize = 0x200000;
    // Open results besides the file reader's and the header reader's.
    static constexpr int32_t kOpenNoName = -1;
    static constexpr int32_t kOpenUnknownBlock = 3;
    static constexpr int32_t kOpenNoFirstTable = 4;
    static constexpr int32_t kOpenBadFirstTable = 5;
    static constexpr int32_t kOpenNoLastBlock = 6;
    // GoToFieldOffset: the field lies beyond what the file holds.
    static constexpr int32_t kBeyondEnd = 1;
    // SetBlockIndex: the block is not in the index.
    static constexpr int32_t kNoSuchBlock = 2;

    explicit CParvexDataReader(const std::string& logName, uint32_t bufferSize = kDefaultBufferSize);
    ~CParvexDataReader() override;

    int32_t Close() override;
    int32_t Seek(uint64_t position) override;
    bool IsAtEnd() override { return false; }
    bool IsOpen() override { return _bOpen; }
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GoToTime(double* seconds) override;
    int32_t GetInOut(int32_t* in, int32_t* out, int32_t* system) override;
    int64_t GetOffsetTC() override;
    // The flag set hands the source over: it is deleted and the file is read by name.
    int32_t Open(uint32_t flag) override;

    // Makes block n current and places the file reader on it: 0, kNoSuchBlock, or the index's failure.
    int32_t SetBlockIndex(int32_t n);
    // Refreshes the end of a clip still being recorded; true when a valid last block is known.
    bool FindLastValidBlock();
    // Seconds of a field from the clip's first field.
    double TimeOfField(uint32_t field) const;

    bool IsIndexed() const { return _bIndexed; }
    int32_t GetCurrentBlock() const { return _nCurrentBlock; }
    uint32_t GetBlockCount() const { return _pClipInfo ? _pClipInfo->_nBlocks : 0; }
    const CMXF_Parvex_ClipInfo* GetClipInfo() const { return _pClipInfo.get(); }

    // Log name of the Parvex readers' messages when the reader has none of its own.
    static constexpr const char* kLogTag = "CMXF_Parvex_DataReader";

protected:
    struct BlockSpan {
        uint32_t nFirst;
        uint32_t nCount;
    };

    // The first field that a seek reached, for GoToTime's answer.
    virtual uint32_t ReachedField() const;
    // Called before the file reader is moved or read by this class.
    virtual void BeforeFileAccess() {}

    // File position of block n: 0, or -1 when an indexed file does not list it.
    int32_t BlockPosition(uint32_t n, uint64_t* position) const;
    // Reads the table or header area of block n at the file reader into the table buffer and loads it into the
    // given block-data object: 0, -1 on a failed or short read, 5 when the block refuses it.
    int32_t ReadBlockTable(uint32_t n, CBlockData* blockData);
    // Records a block of a recording file: the map, the block count and the out point grow to cover it.
    void NoteBlock(uint32_t n, uint32_t first, uint32_t end);
    uint32_t FieldsPerFrame() const;
    uint32_t TcSystem() const;
    void Log(const char* format, ...) const __attribute__((format(printf, 2, 3)));

    CMXF_Parvex_FileReader _mxfFileReader;
    std::unique_ptr<CMXF_Parvex_ClipInfo> _pClipInfo;
    std::unique_ptr<CBlockData> _pBlockData;
    platform::PageBuffer _pTableBuffer;
    std::string _szFileName;
    bool _bIndexed = false;
    bool _bOpen = false;
    int32_t _nCurrentBlock = -1;
    int64_t _nTimecodeOffset = 0;
    uint64_t _nTcInStamp[2] = {kUnknownStamp, kUnknownStamp};
    std::map<uint32_t, BlockSpan> _blockMap;

private:
    int32_t SearchBlockMap(uint32_t target);
    // Whether the last picture of the block holds written bytes, read through the reader given.
    bool LastPictureWritten(CFileReader& reader, uint32_t block);
    void SetInPointStamps();
    uint64_t InPointStamp(const uint8_t* stored, uint32_t field) const;
};
