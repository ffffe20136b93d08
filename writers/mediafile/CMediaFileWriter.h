#pragma once

#include <cstdint>
#include <string>

#include "common/CTimeCode.h"

// What a media file writer's Begin receives.
struct MediaWriterClipInfo {
    CTimeCode startTimecode;
    // 3 = 625 lines 25 Hz, 4 = 525 lines 29.97 Hz; 6 and above progressive.
    uint8_t standardCode = 3;
    uint32_t videoBitRate = 0;  // bits per second
    uint8_t aspectCode = 0;     // 3 = 16:9, anything else 4:3
    // Read by the QuickTime writers only.
    int width = -1;  // -1: the standard's
    int height = -1;
    int dvKind = 0;  // 0 DV, 1 DVCPRO, 2 DVCPRO 50
    int audioChannels = 0;
    bool stereoPairs = false;
    uint32_t durationFields = 0;  // announced duration, 0 = unknown
};

// Receives every message of a media file writer.
class CMediaFileWriterObserver
{
public:
    virtual ~CMediaFileWriterObserver() = default;
    virtual void OnMessage(int level, const char* text, int code) = 0;
};

// The writers that turn decoded frames into a finished media file. Operations return 0, -1 when the
// operation is not available, small positive codes for their own failures, or the data writer's code.
class CMediaFileWriter
{
public:
    explicit CMediaFileWriter(int kind) : _nKind(kind) {}
    virtual ~CMediaFileWriter();
    CMediaFileWriter(const CMediaFileWriter&) = delete;
    CMediaFileWriter& operator=(const CMediaFileWriter&) = delete;

    virtual void SetParameters(const char* parameters, const char* text);
    virtual int Reserved2() { return 0; }
    virtual int Open(const char* path);
    virtual int Begin(const MediaWriterClipInfo& info);
    virtual int GetAudioChannelCount(int requested) { return requested; }
    // 0 when the file is complete; an error code when a part of it could not be written.
    virtual int Close() { return 0; }
    // channelSamples: channelCount arrays of sampleCount floats (full scale +-1.0), or null with counts 0.
    virtual int AddFrame(const uint8_t* video, uint32_t videoLength, const float* const* channelSamples,
                         int sampleCount, int channelCount) = 0;
    // Skips the padding blocks that lead the video buffer, then AddFrame.
    virtual int AddPackedFrame(const uint8_t* video, uint32_t videoLength, const float* const* channelSamples,
                               int sampleCount, int channelCount);
    virtual void Reserved9(int, int, int, int) {}
    virtual int SetPacingRate(int rate);
    virtual void Reserved11(int, int) {}
    virtual void Reserved12(int, int) {}

    int GetKind() const { return _nKind; }
    const std::string& GetText() const { return _szText; }
    void SetObserver(CMediaFileWriterObserver* observer) { _pObserver = observer; }
    void SetMinLogLevel(int level) { _nMinLogLevel = level; }

    // The start of the video data after its padding blocks (FF FE FD FC, length in 128-byte units).
    static const uint8_t* SkipPadding(const uint8_t* video, uint32_t* videoLength);

protected:
    // To the observer, and to the default log from the minimum level on: the text and " [code]".
    void Message(int level, const char* text, int code) const;

    std::string _szText;
    int _nKind;
    CMediaFileWriterObserver* _pObserver = nullptr;
    int _nMinLogLevel = 1;
};

// A media file writer whose AddFrame is not available.
class CDefaultMediaFileWriter : public CMediaFileWriter
{
public:
    explicit CDefaultMediaFileWriter(int kind) : CMediaFileWriter(kind) {}
    int AddFrame(const uint8_t*, uint32_t, const float* const*, int, int) override { return -1; }
};
