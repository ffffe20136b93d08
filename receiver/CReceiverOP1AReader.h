#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/Event.h"
#include "platform/File.h"
#include "platform/PageBuffer.h"
#include "receiver/CReceiverFReader.h"

// Reads a D-10 style OP1a MXF file edit unit by edit unit, without a block reader: each edit unit's picture
// element becomes the video frame, one channel of its 8-channel AES3 sound element an audio frame. A file that
// a writer still holds is waited for as it grows.
class CReceiverOP1AReader : public CReceiverFReader
{
public:
    // Open results beyond 0.
    enum : int { kOpenFailed = 1, kOpenNotD10 = 2, kOpenNoMemory = 3 };
    static constexpr uint32_t kUnitsInBuffer = 5;
    static constexpr uint32_t kMaxSamples = 1920;
    // Edit units above this are no D-10 edit units (the largest holds about 320 kB).
    static constexpr uint32_t kMaxEditUnitSize = 0x800000;
    static constexpr uint32_t kVideoLengthOffset = 529;
    static constexpr uint32_t kVideoDataOffset = 532;

    CReceiverOP1AReader();
    ~CReceiverOP1AReader() override;

    int Open(const std::string& fileName, int32_t videoSystem, int32_t rate, int32_t audioTracks,
             int32_t audioBits) override;
    void Close() override;
    bool ReadNextFrame() override;
    KorvoFrame* GetVideoFrame() override;
    KorvoFrame* GetTrackFrame(int32_t track) override;
    void SetStartFrame(int32_t frames) override;
    void SetFirstField(uint32_t serverField) override;
    void Cancel() override;
    // Closes the file; 0.
    virtual int Stop();

    // Wait between two reads of a file that a writer holds (500 ms); tests shorten it.
    void SetRetryWaitMs(uint32_t ms) { _nRetryWaitMs = ms; }
    uint32_t GetEditUnitSize() const { return _nEditUnitSize; }
    uint32_t GetSoundOffset() const { return _nSoundOffset; }
    uint32_t GetUnitsInBuffer() const { return _nUnitsInBuffer; }
    std::optional<uint64_t> GetFilePosition() { return _file.Tell(); }

private:
    bool Refill();
    const uint8_t* CurrentUnit() const;

    platform::File _file;
    std::string _szFileName;
    uint32_t _nEditUnitSize = 0;
    uint32_t _nSoundOffset = 0;
    platform::PageBuffer _pReadBuffer;
    uint32_t _nUnitsInBuffer = 0;
    uint32_t _nPosition = 100;
    int32_t _nVideoSystem = 3;
    int32_t _nRate = 0;
    bool _b24Bit = false;
    platform::PageBuffer _pWorkBuffer;
    uint32_t _nRetryWaitMs = 500;
    std::atomic<bool> _bCancelled{false};
    platform::Event _cancelEvent{true, false};
};
