#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/CTimeCode.h"
#include "reading/formats/CFormatDataReader.h"

// Raw DV-DIF files: nothing but DIF frames back to back. The base analyses the first frame (frame system, data
// rate, aspect) and positions by frame; the video and audio readers deliver the frames and their sound.
class CDVDataReader : public CFormatDataReader
{
public:
    static constexpr uint32_t kInitialBufferSize = 1152000;
    static constexpr uint32_t kBufferedFrames = 5;

    explicit CDVDataReader(const std::string& logName);

    // 0, or 1 when the first bytes are not a DIF header block.
    int32_t Open(uint32_t flag) override;
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GoToTime(double* seconds) override;
    int32_t GetInOut(int32_t* in, int32_t* out, int32_t* system) override;
    int32_t GoToDataStart() override;
    int32_t GoToDataEnd() override;

    uint32_t GetFrameSize() const { return _nFrameSize; }
    uint32_t GetFrameCount() const { return _nFrameCount; }
    uint32_t GetDataRate() const { return _nDataRate; }
    TcSystem GetSystem() const { return _nSystem; }
    double GetFramesPerSecond() const { return _dFramesPerSecond; }

    // Index of the 16-bit word of sample n of a channel within a DIF frame, after the IEC 61834 shuffling of
    // 48 kHz sound; sequences is the number of DIF sequences per channel (6 at 50 Hz, 5 at 60 Hz).
    static uint32_t AudioWordIndex(uint32_t n, uint32_t channel, uint32_t sequences);

protected:
    bool IsFiftyHz() const { return _nSystem == 3 || _nSystem == 6; }
    // Re-reads the source's length: the file may be growing.
    void RefreshLength();
    double SecondsAt(uint64_t position) const;

    TcSystem _nSystem = 3;
    uint32_t _nDataRate = 25;
    uint64_t _nKnownLength = 0;
    uint32_t _nFrameSize = 0;
    uint32_t _nFrameCount = 0;
    double _dFieldRate = 50.0;
    double _dFramesPerSecond = 25.0;
    uint8_t _nAspect = 0;
    uint8_t _nApt = 0;  // 0 consumer DV, 1 DVCPRO
};

// Whole DIF frames as video.
class CDVVideoDataReader : public CDVDataReader
{
public:
    using CDVDataReader::CDVDataReader;

    bool GetVideoInfo(VideoInfo* info) override;
    // The field rate (50 or 60), the frame size and the aspect code.
    int32_t GetCurrentFieldInfo(uint32_t* first, uint32_t* second, uint8_t* code) override;
    // One frame per call; a null *buffer gets a pointer into the reader's buffer.
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;

private:
    int32_t Deliver(uint8_t** buffer, uint32_t* sizeOut, double* secondsOut);
};

// The 16-bit sound of each frame, channels interleaved, samples most significant byte first as DV stores them.
class CDVAudioDataReader : public CDVDataReader
{
public:
    static constexpr uint32_t kMaxSamples = 1920;

    using CDVDataReader::CDVDataReader;

    int32_t Open(uint32_t flag) override;
    int32_t GetAudioChannels(int32_t* channels, int32_t max) override;
    // 48000 and 16.
    int32_t GetCurrentFieldInfo(uint32_t* first, uint32_t* second, uint8_t* code) override;
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;

    uint32_t GetChannels() const { return _nChannels; }

private:
    uint32_t SamplesInFrame(const uint8_t* frame) const;
    // Writes the samples of the frame at the cursor; 101 when they do not fit.
    int32_t Extract(uint8_t* buffer, uint32_t size, uint32_t* sizeOut);

    uint32_t _nChannels = 2;
    uint32_t _nSequences = 6;
    std::vector<uint32_t> _table;  // kMaxSamples word indexes per channel
};
