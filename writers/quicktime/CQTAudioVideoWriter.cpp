#include "writers/quicktime/CQTAudioVideoWriter.h"

#include <algorithm>
#include <cmath>

#include "writers/mediafile/PcmSample.h"

int16_t CQTAudioVideoWriter::ToInt16(float sample)
{
    return static_cast<int16_t>(PcmFromFloat(sample, 16));
}

int CQTAudioVideoWriter::AddFrame(const uint8_t* video, uint32_t videoLength, const float* const* channelSamples,
                                  int sampleCount, int channelCount)
{
    int channels = channelSamples ? std::clamp(channelCount, 0, 8) : 0;
    int count = std::max(sampleCount, 0);
    if (channels > 0 && static_cast<size_t>(count) * static_cast<size_t>(channels) * 2 > kConvertBytes) {
        // More than the buffer holds: the frame keeps what fits.
        count = static_cast<int>(kConvertBytes / 2 / static_cast<size_t>(channels));
        Message(1, "CQTAudioVideoWriter: too many samples for one frame, cut", sampleCount);
    }
    int16_t* out = _convert;
    if (_bPairs) {
        for (int pair = 0; pair + 1 < channels; pair += 2)
            for (int i = 0; i < count; ++i) {
                *out++ = ToInt16(channelSamples[pair][i]);
                *out++ = ToInt16(channelSamples[pair + 1][i]);
            }
    } else {
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < count; ++i)
                *out++ = ToInt16(channelSamples[c][i]);
    }
    return AddFrameInterleaved(video, videoLength, channels ? _convert : nullptr, channels ? count : 0, channels);
}

int CQTAudioVideoWriter::AddFrameInterleaved(const uint8_t*, uint32_t, const int16_t*, int, int)
{
    return -1;
}
