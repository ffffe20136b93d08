#pragma once

#include <cstdint>
#include <string>
#include <thread>

#include "platform/Event.h"
#include "reading/parvex/CParvexDataReader.h"

// Delivers the video of a Parvex clip file picture by picture. Whole blocks are read into two slots of the read
// buffer: while the caller walks the pictures of the current block, a preload thread reads the next block into
// the other slot. The raw flag keeps the metadata chunks in front of a picture; the all-channels flag steps
// through every video channel's picture instead of channel 0 only.
class CParvexVideoDataReader : public CParvexDataReader
{
public:
    // Results besides the interface's.
    static constexpr int32_t kWaitFailed = 1;       // also: a metadata chunk that does not fit the picture
    static constexpr int32_t kShortBlock = 2;       // the block is not whole in the file
    static constexpr int32_t kIncompleteBlock = 3;  // a block of a recording file without its first or last picture
    static constexpr int32_t kNoPicture = -2;

    CParvexVideoDataReader(const std::string& logName, bool raw, bool allChannels);
    ~CParvexVideoDataReader() override;

    int32_t Close() override;
    uint32_t GetFormat(uint8_t** format) override;
    bool GetDataDescriptor(char** text, uint32_t* length) override;
    bool GetVideoInfo(VideoInfo* info) override;
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t SkipNextData() override;
    int32_t SkipPrevData() override;
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GetCurrentFieldInfo(uint32_t* first, uint32_t* second, uint8_t* code) override;
    int32_t GoToDataStart() override;
    int32_t GoToDataEnd() override;
    int32_t Open(uint32_t flag) override;

    // Skips the metadata chunks (marker bytes FF FE FD FC, length in 128-byte units at bytes 6..7) in front of
    // a picture of more than 3 bytes; false when a chunk has no length or does not fit the picture.
    static bool StripMetadataChunks(const uint8_t** picture, uint32_t* size);

protected:
    uint32_t ReachedField() const override;
    void BeforeFileAccess() override { WaitForPreload(); }

    // Moves the cursor onto the next (previous) picture, loading the block that holds it: 0 or a result code.
    int32_t StepForward();
    int32_t StepBackward();
    // The picture at the cursor, stripped unless raw: 0, kNoPicture or kWaitFailed.
    int32_t PictureAtCursor(const uint8_t** picture, uint32_t* size);
    double CursorTime() const;
    uint32_t Step() const { return _nFieldsPerPicture * (_bAllChannels ? 1 : _nVideoChannels); }
    // The video channel count and aspect code of the clip.
    uint32_t AspectCode() const;

    uint32_t _nFieldsPerPicture = 1;
    uint32_t _nVideoChannels = 1;
    uint32_t _nCursor = 0;  // element of the current block delivered next

private:
    void PreloadLoop();
    void StartPreload();
    void WaitForPreload();
    void StopThread();
    // Loads the current block into a slot: 0, -1 (read failure, the reader closes), kWaitFailed, kShortBlock,
    // kIncompleteBlock or the block's refusal.
    int32_t ReadDataBlock();
    int32_t LoadBlock(int32_t n);
    uint8_t* Slot(uint32_t i) const { return _pBuffer.get() + uint64_t{i} * _nBlockSize; }
    // The cursor position of a field of the current block, kept inside the block.
    uint32_t CursorOfField(uint32_t field) const;

    bool _bRaw;
    bool _bAllChannels;
    uint32_t _nBlockSize = 0;
    uint32_t _nSlot = 0;
    uint32_t _nElementCount = 0;
    uint32_t _nBlockFirst = 0;
    uint32_t _nBlockEnd = 0;

    // The preload: the main thread fills the request, sets go and does not touch the file reader or the target
    // slot until done is set; the thread fills the result.
    std::thread _thread;
    platform::Event _go{false, false};
    platform::Event _done{false, false};
    platform::Event _stop{false, false};
    bool _bPreloadPending = false;
    int32_t _nPreloadBlock = -1;
    uint64_t _nPreloadPosition = 0;
    uint32_t _nPreloadSlot = 0;
    uint32_t _nPreloadResult = 0;
    uint32_t _nPreloadRead = 0;
};
