#pragma once

#include <cstdint>
#include <string>

#include "reading/formats/CFormatDataReader.h"

// The samples of a RIFF WAVE file of 48 kHz PCM, in blocks of whole sample frames.
class CWavDataReader : public CFormatDataReader
{
public:
    static constexpr uint32_t kBufferSize = 65536;
    static constexpr uint32_t kRate = 48000;
    // Open results besides 0.
    static constexpr int32_t kNotPcm = 1;  // also: no usable "fmt " chunk
    static constexpr int32_t kNot48k = 2;
    static constexpr int32_t kNoData = 3;

    explicit CWavDataReader(const std::string& logName);

    // The channel count; nothing is written into the array.
    int32_t GetAudioChannels(int32_t* channels, int32_t max) override;
    // Up to size bytes of whole frames; 101 (the frame size written back) when size holds no frame.
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GoToTime(double* seconds) override;
    // In 0 and out in milliseconds, system -1.
    int32_t GetInOut(int32_t* in, int32_t* out, int32_t* system) override;
    // The sample rate and the bits per sample.
    int32_t GetCurrentFieldInfo(uint32_t* first, uint32_t* second, uint8_t* code) override;
    int32_t GoToDataStart() override;
    int32_t GoToDataEnd() override;
    int32_t Open(uint32_t flag) override;

    uint32_t GetFrameSize() const { return _nFrameSize; }
    uint64_t GetDataStart() const { return _nDataStart; }
    uint64_t GetSampleCount() const { return _nSampleCount; }

private:
    // The block for a caller's size: whole frames, at most a buffer; 0 when not one frame fits.
    uint32_t BlockSize(uint32_t size) const;
    bool IsPcm() const { return _nFormatTag == 1; }

    uint16_t _nFormatTag = 0xFFFF;
    uint16_t _nChannels = 0;
    uint32_t _nSamplesPerSec = 0;
    uint32_t _nBytesPerSec = 0;
    uint16_t _nBlockAlign = 0;
    uint16_t _nBitsPerSample = 0;
    uint64_t _nDataStart = 0;
    uint64_t _nDataEnd = 0;
    uint32_t _nFrameSize = 0;
    uint64_t _nSampleCount = 0;
};
