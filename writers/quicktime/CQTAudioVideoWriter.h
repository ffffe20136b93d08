#pragma once

#include <cstdint>

#include "writers/mediafile/CMediaFileWriter.h"

// A media file writer that takes sound as 16-bit integers: AddFrame converts the float channels into its
// conversion buffer (channel after channel, or left/right interleaved per pair) and hands them on.
class CQTAudioVideoWriter : public CMediaFileWriter
{
public:
    static constexpr uint32_t kConvertBytes = 30720;  // 8 channels of 1920 samples

    explicit CQTAudioVideoWriter(int kind) : CMediaFileWriter(kind) {}

    int AddFrame(const uint8_t* video, uint32_t videoLength, const float* const* channelSamples, int sampleCount,
                 int channelCount) override;
    // samples: the 16-bit sound of every track, track after track.
    virtual int AddFrameInterleaved(const uint8_t* video, uint32_t videoLength, const int16_t* samples, int sampleCount,
                                    int channelCount);
    virtual void SetOption(int option) { _nOption = option; }

    static int16_t ToInt16(float sample);

protected:
    bool _bPairs = false;
    int _nOption = 0;

private:
    int16_t _convert[kConvertBytes / 2] = {};
};
