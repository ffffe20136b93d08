#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Event.h"
#include "platform/PageBuffer.h"
#include "receiver/CKorvoBlockData.h"

// A source of server blocks: it owns the current block's bytes and the block data that locates video and
// audio in them. Elements are counted from the start of the current block; a negative element lies before it.
class CKorvoBlockReader
{
public:
    // ReadNextBlock's result, beyond each source's own, for a block that does not continue the current one.
    static constexpr int kReadOutOfOrder = 6;

    explicit CKorvoBlockReader(uint32_t blockSize) : _nBlockSize(blockSize) {}
    virtual ~CKorvoBlockReader() = default;
    CKorvoBlockReader(const CKorvoBlockReader&) = delete;
    CKorvoBlockReader& operator=(const CKorvoBlockReader&) = delete;

    virtual int Open(const std::string& source) = 0;
    virtual int Close() { return -1; }
    virtual bool IsFieldInBlock(int32_t element);
    // The block after the current one, from the source. It must begin at the current block's end field: a block
    // repeated, skipped or out of place would hand out pictures twice, lose them or swap them. Such a block is
    // refused (kReadOutOfOrder), and so is every read after it until the source is opened again.
    int ReadNextBlock(uint32_t* elementsPerField);
    virtual const uint8_t* GetVideo(int32_t element, int32_t* size);
    virtual const uint8_t* GetAudio(int32_t unit, int32_t* size);
    virtual const uint8_t* DataEnd();
    virtual int32_t StartFieldOffset(int32_t fields, uint32_t* elementsPerField);
    virtual int32_t SetFirstField(uint32_t serverField, uint32_t* elementsPerField);
    virtual int FieldParity(uint32_t field);

    // Ends every wait of the reader at once (any thread); the reader then fails its reads until Close.
    virtual void Cancel();
    bool IsCancelled() const { return _bCancelled.load(); }
    // The first cause of a failed Open or read, in words; empty when none is known.
    std::string GetFailure() const;

    uint32_t GetBlockSize() const { return _nBlockSize; }
    const CKorvoBlockData* GetBlockData() const { return _pBlockData.get(); }
    const uint8_t* GetBlockBuffer() const { return _pBlockBuffer.get(); }

protected:
    // The source's own read of its next block.
    virtual int LoadNextBlock(uint32_t* elementsPerField);
    // Keeps the first cause of a failure (any thread).
    void SetFailure(const std::string& text);
    // The element of field f of the current block; negative before it; clamped to 32 bits.
    int32_t ElementOf(uint32_t field, uint32_t elementsPerField) const;
    // Forward-only sources: a valid block first, then blocks read on until the field lies before the block's end;
    // the field's element, negative before the block, 0 when no such block comes.
    int32_t ReadForwardToField(uint32_t serverField, uint32_t* elementsPerField);
    // Waits up to ms or until Cancel; false when cancelled.
    bool Sleep(uint32_t ms) const;

    std::unique_ptr<CKorvoBlockData> _pBlockData;
    platform::PageBuffer _pBlockBuffer;
    uint32_t _nBlockSize;
    std::atomic<bool> _bCancelled{false};
    platform::Event _cancelEvent{true, false};
    // The result that refused a block; every read gives it again until Open clears it.
    int _nRefused = 0;

private:
    mutable std::mutex _failureLock;
    std::string _strFailure;
};
