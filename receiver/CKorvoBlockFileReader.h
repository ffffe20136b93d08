#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "parvex/CMXF_Parvex_ClipInfo.h"
#include "reading/parvex/CMXF_Parvex_FileReader.h"
#include "receiver/CKorvoBlockReader.h"

// Reads the blocks of a local Parvex clip file, also while another program still writes it: a file held by a
// writer is read only up to a few blocks behind its end, and the reader waits a while for it to grow.
class CKorvoBlockFileReader : public CKorvoBlockReader
{
public:
    // ReadNextBlock results.
    enum : int {
        kReadOk = 0,
        kReadNotOpen = 1,
        kReadEnd = 2,
        kReadError = 3,
        kReadShort = 4,
        kReadDamaged = 5,  // the block's tables do not describe it
    };
    // Blocks held back from the end of a file that a writer holds.
    static constexpr uint32_t kHeldBackAtOpen = 5;
    static constexpr uint32_t kHeldBackWhileGrowing = 10;
    static constexpr uint32_t kGrowAttempts = 5;

    CKorvoBlockFileReader();
    ~CKorvoBlockFileReader() override;

    int Open(const std::string& fileName) override;
    int Close() override;
    int32_t StartFieldOffset(int32_t fields, uint32_t* elementsPerField) override;
    int32_t SetFirstField(uint32_t serverField, uint32_t* elementsPerField) override;

    // Wait between two looks at a growing file (1000 ms); tests shorten it.
    void SetGrowWaitMs(uint32_t ms) { _nGrowWaitMs = ms; }
    // How long Close waits for a read-ahead nobody will use (2000 ms); one still running then is left to end on
    // its own, with the file and the buffer it reads.
    void SetCloseWaitMs(uint32_t ms) { _nCloseWaitMs = ms; }
    bool IsIndexed() const { return _bIndexed; }
    uint64_t GetDataEnd() const { return _nDataEnd; }
    CMXF_Parvex_ClipInfo& GetClipInfo() { return _clipInfo; }

protected:
    int LoadNextBlock(uint32_t* elementsPerField) override;

private:
    class FileReader : public CMXF_Parvex_FileReader
    {
    public:
        FileReader() : CMXF_Parvex_FileReader("default") {}
        int OnReadComplete(const std::string&, uint32_t, double) override { return 1; }
    };

    // The end of whole blocks in a file of this size.
    uint64_t WholeBlocksEnd(uint64_t fileSize) const;
    // The end of the readable data when no writer holds the file: the essence that its header names, when the
    // writer has closed it with a footer, else its whole blocks.
    uint64_t FinishedEnd();
    int ReadBlockAt(uint64_t offset);
    // After a read in order, the next block is read into the spare buffer while the caller works on the current
    // one; the file is touched only after that read has ended.
    void StartReadAhead(uint64_t offset);
    void EndReadAhead();
    // EndReadAhead within the wait; false when the read still runs: it is then left to end on its own.
    bool EndReadAheadWithin(uint32_t ms);
    // Back to the first block after a failed search: element 0.
    int32_t BackToFirstBlock(uint32_t* elementsPerField);

    struct ReadAhead;

    std::shared_ptr<FileReader> _file = std::make_shared<FileReader>();  // shared with a read-ahead
    CMXF_Parvex_ClipInfo _clipInfo;
    std::string _szFileName;
    bool _bIndexed = false;
    uint64_t _nDataEnd = 0;
    uint64_t _nReadPos = 0;
    uint32_t _nGrowWaitMs = 1000;
    uint32_t _nCloseWaitMs = 2000;
    platform::PageBuffer _pSpareBuffer;  // lent to the read-ahead while it runs
    std::shared_ptr<ReadAhead> _pReadAhead;
    std::thread _readAheadThread;
};
