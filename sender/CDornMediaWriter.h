#pragma once

#include <array>
#include <memory>
#include <vector>

#include "sender/CDornWriter.h"
#include "writers/mediafile/CMediaFileWriter.h"

// What the OP1a and QuickTime writers share: a media file writer fed frame by frame, the host's audio turned
// into float samples per channel, and the samples per frame of the picture format.
class CDornMediaWriter : public CDornWriter
{
public:
    static constexpr uint32_t kSampleBufferBytes = 15760;
    static constexpr uint32_t kSampleCapacity = kSampleBufferBytes / sizeof(float);
    static constexpr int kMaxChannels = 8;

    void SetAspectRatio(int code) override
    {
        _nAspectCode = code;
        _bAspectGiven = true;
    }
    // The frame's samples of silence, through AddAudio. Throws Qo::Generic::ErrorIF(5) when the buffer cannot
    // be allocated.
    int AddNULLAudioFrame(int channel, int64_t frameNumber) override;
    // Writes every queued picture (with silence where its sound is missing) unless cancelled, then closes the
    // media writer: the first failure, else 0.
    int Close(bool cancelled) override;

protected:
    // For the destructors: a file still open is finished; nothing leaves.
    void CloseQuietly() noexcept;
    // Keeps Open's settings (at most 8 channels) and starts the frame count.
    void KeepOpenSettings(uint8_t pictureCode, int64_t bitrate, int channels, int sampleBits, const CTimeCode& start);
    // Samples of frame n: 1920 at 25 Hz; 1602, 1601, 1602, 1601, 1602 at 29.97 Hz.
    uint32_t SamplesOfFrame(int64_t n) const;
    // Appends the host's little-endian samples of the width to the channel's buffer; false when it has no room.
    bool AppendSamples(int channel, const DornFrame* frame, bool fromStart);
    // The oldest picture with count samples of every channel; the samples are consumed.
    int WriteOldest(uint32_t count);
    void StartFrameAudio();
    MediaWriterClipInfo ClipInfo() const;
    void Log(const char* what, int code) const;

    std::unique_ptr<CMediaFileWriter> _pWriter;
    int _nAspectCode = 2;
    bool _bAspectGiven = false;  // SetAspectRatio called: the target's aspect overrides the pictures'
    int _nChannels = 0;
    bool _b24Bit = false;
    uint8_t _nPictureCode = 3;
    int64_t _nBitrate = 0;
    int64_t _nFrameSize = -1;
    CTimeCode _start;
    int64_t _nFramesWritten = 0;
    std::array<std::vector<float>, kMaxChannels> _samples;
    std::array<uint32_t, kMaxChannels> _fill{};
    std::vector<uint8_t> _silence;
};
