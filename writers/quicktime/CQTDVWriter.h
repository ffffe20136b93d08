#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "writers/quicktime/CQTAudioVideoWriter.h"
#include "writers/quicktime/CQTFileWriter.h"

// A DV, DVCPRO or DVCPRO 50 clip as a QuickTime movie, self-contained or as a reference movie.
class CQTDVWriter : public CQTAudioVideoWriter, public CQTFileWriter
{
public:
    static constexpr int kFlushFrames = 10;

    CQTDVWriter(int dvKind, bool selfContained, bool audio24Bit);
    ~CQTDVWriter() override;

    void SetParameters(const char* parameters, const char* metadataPath) override;
    int Open(const char* path) override;
    int Begin(const MediaWriterClipInfo& info) override;
    int Close() override;
    int AddFrame(const uint8_t* video, uint32_t videoLength, const float* const* channelSamples, int sampleCount,
                 int channelCount) override;
    int AddFrameInterleaved(const uint8_t* video, uint32_t videoLength, const int16_t* samples, int sampleCount,
                            int channelCount) override;
    // Opens the movie at path and starts it.
    virtual int BeginEx(const char* path, uint8_t standardCode, uint32_t bitRate, int audioChannels, bool stereoPairs,
                        const CTimeCode& start, uint32_t durationFields);

    void WriteSampleDescription(QTAtom& stsd) override;
    std::string PixelAspectName() override;
    std::string FieldDominanceName() override;

    const char* DefaultExtension() const { return ".dv"; }

private:
    void PrepareTrackBuffers();
    int FlushAudio();
    // Room in a track's buffer for a frame's samples; -1 when they could never fit.
    int EnsureRoom(int track, int samples);
    int AddVideo(const uint8_t* video, uint32_t videoLength);
    int AfterFrame();

    std::vector<std::vector<uint8_t>> _trackBuffers;
    std::vector<uint32_t> _trackSamples;
    size_t _nTrackCapacity = 96000;
};
