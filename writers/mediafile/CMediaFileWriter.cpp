#include "writers/mediafile/CMediaFileWriter.h"

#include "common/CLogManager.h"

CMediaFileWriter::~CMediaFileWriter() = default;

void CMediaFileWriter::SetParameters(const char*, const char* text)
{
    if (text)
        _szText = text;
}

int CMediaFileWriter::Open(const char*)
{
    return -1;
}

int CMediaFileWriter::Begin(const MediaWriterClipInfo&)
{
    return -1;
}

int CMediaFileWriter::SetPacingRate(int)
{
    return -1;
}

const uint8_t* CMediaFileWriter::SkipPadding(const uint8_t* video, uint32_t* videoLength)
{
    if (!video)
        return video;
    uint32_t left = *videoLength;
    while (left >= 8 && video[0] == 0xFF && video[1] == 0xFE && video[2] == 0xFD && video[3] == 0xFC) {
        const uint32_t block = ((static_cast<uint32_t>(video[6]) << 8) | video[7]) * 128u;
        // A block of length 0 would never end the loop; one longer than the rest is not padding.
        if (block == 0 || block > left)
            break;
        video += block;
        left -= block;
    }
    *videoLength = left;
    return video;
}

int CMediaFileWriter::AddPackedFrame(const uint8_t* video, uint32_t videoLength, const float* const* channelSamples,
                                     int sampleCount, int channelCount)
{
    video = SkipPadding(video, &videoLength);
    return AddFrame(video, videoLength, channelSamples, sampleCount, channelCount);
}

void CMediaFileWriter::Message(int level, const char* text, int code) const
{
    if (_pObserver)
        _pObserver->OnMessage(level, text, code);
    if (level >= _nMinLogLevel)
        theLogManager.Log("%s [%i]", text, code);
}
