#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/PageBuffer.h"
#include "receiver/CKorvoBlockReader.h"
#include "receiver/KorvoFrame.h"

// Reads a clip as frame sets: one video frame and one audio frame per track. The receiver asks for a set with
// ReadNextFrame and then takes its frames one by one; a frame taken belongs to the caller.
class CReceiverFReader
{
public:
    CReceiverFReader() = default;
    virtual ~CReceiverFReader();
    CReceiverFReader(const CReceiverFReader&) = delete;
    CReceiverFReader& operator=(const CReceiverFReader&) = delete;

    // Video system: 3 25 frames/s, 4 and 5 29.97 frames/s, 6 50 frames/s, 7 and 8 59.94 frames/s.
    virtual int Open(const std::string& source, int32_t videoSystem, int32_t rate, int32_t audioTracks,
                     int32_t audioBits);
    virtual void Close() {}
    virtual bool ReadNextFrame() { return false; }
    virtual KorvoFrame* GetVideoFrame() { return nullptr; }
    virtual KorvoFrame* GetTrackFrame(int32_t track);
    virtual void SetStartFrame(int32_t frames);
    virtual void SetFirstField(uint32_t serverField);
    // Ends every wait of the reader at once (any thread); later reads fail.
    virtual void Cancel() {}
    // The next set is the last one asked for: its audio frames carry every sample received, also those the
    // cadence would carry over to a next frame.
    virtual void SetLastSet() {}
    // The first cause of a failed Open or read, in words; empty when none is known.
    virtual std::string GetFailure() const { return {}; }
    // The sound tracks the clip declares, from the first block to be read; -1 when the reader cannot tell.
    virtual int32_t DeclaredTracks() { return -1; }
};

// Frame set building results.
constexpr int kFrameSetOk = 0;
constexpr int kFrameSetNoMemory = 1;  // allocation or conversion failure
constexpr int kFrameSetNoVideo = 2;   // no usable video in the block

// Tracks a reader hands out at most.
constexpr int32_t kMaxAudioTracks = 8;

// Skips the filler units at the start of a video element (each begins with the word 0xFCFDFEFF and gives its
// length in 128-byte units at bytes 6-7). False when a filler's length is 0 or runs past the element.
bool SkipFillerUnits(const uint8_t** data, int32_t* size);

// One audio track's samples on their way from the block units to the frames: samples carried over from the
// last frame stay at the buffer's start. The buffer is never written past its end.
class CReceiverAudioTrack
{
public:
    bool Allocate(uint32_t bufferBytes, uint32_t bytesPerSample);
    void Free();
    // Appends the samples of one channel's unit (a byte, a 16-bit count, 24-bit big-endian samples); in a
    // word-swapped block every 32-bit word of the unit has its bytes reversed. At most maxSamples are taken,
    // and no more than the buffer holds. Returns the samples appended.
    uint32_t AppendUnit(const uint8_t* unit, uint32_t unitBytes, bool swapped, uint32_t maxSamples);
    // A frame of want samples: a shortfall is filled at the front with the first sample received (silence when
    // none came); the surplus stays for the next frame. nullptr on allocation failure.
    KorvoFrame* TakeFrame(uint32_t want, int32_t typeCode);
    uint32_t GetCarried() const { return _nSamples; }
    uint32_t GetCapacity() const { return _nCapacity; }
    void Reset() { _nSamples = 0; }

private:
    platform::PageBuffer _pBuffer;
    uint32_t _nBytesPerSample = 3;
    uint32_t _nCapacity = 0;  // samples
    uint32_t _nSamples = 0;
};

// Hands over a held frame: the holder forgets it.
inline KorvoFrame* TakeHeld(KorvoFrame*& held)
{
    KorvoFrame* frame = held;
    held = nullptr;
    return frame;
}

// Gives a held frame back to the pool.
void ReleaseHeld(KorvoFrame*& held);
