#include "writers/quicktime/CQTDVWriter.h"

#include <algorithm>
#include <cmath>

#include "writers/mediafile/PcmSample.h"

namespace
{
void PutSample24(std::vector<uint8_t>* out, float sample)
{
    const int32_t v = PcmFromFloat(sample, 24);
    out->push_back(static_cast<uint8_t>(v >> 16));
    out->push_back(static_cast<uint8_t>(v >> 8));
    out->push_back(static_cast<uint8_t>(v));
}

void PutSample16(std::vector<uint8_t>* out, int16_t v)
{
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
}
}  // namespace

CQTDVWriter::CQTDVWriter(int dvKind, bool selfContained, bool audio24Bit)
    : CQTAudioVideoWriter(selfContained ? 3 : 4), CQTFileWriter(selfContained)
{
    _nDVKind = dvKind;
    _b24Bit = audio24Bit;
}

CQTDVWriter::~CQTDVWriter()
{
    if (_movie || _video)
        Close();
}

void CQTDVWriter::SetParameters(const char* parameters, const char* metadataPath)
{
    CMediaFileWriter::SetParameters(parameters, metadataPath);
    CQTFileWriter::SetParameters(parameters, metadataPath);
}

int CQTDVWriter::Open(const char* path)
{
    return CreateMovieWriter(path);
}

void CQTDVWriter::PrepareTrackBuffers()
{
    _bPairs = _bStereoPairs;
    _nTrackCapacity = _bStereoPairs ? 192000 : 96000;
    _trackBuffers.assign(static_cast<size_t>(_nAudioTracks), {});
    for (auto& buffer : _trackBuffers)
        buffer.reserve(_nTrackCapacity);
    _trackSamples.assign(static_cast<size_t>(_nAudioTracks), 0);
}

int CQTDVWriter::Begin(const MediaWriterClipInfo& info)
{
    _nAspect = info.aspectCode;
    _nWidthOverride = info.width;
    _nHeightOverride = info.height;
    _nDVKind = info.dvKind;
    if (!_movie)
        return -1;
    int result =
        StartMovie(info.standardCode, info.audioChannels, info.stereoPairs, info.startTimecode, info.durationFields);
    PrepareTrackBuffers();
    return result;
}

int CQTDVWriter::BeginEx(const char* path, uint8_t standardCode, uint32_t, int audioChannels, bool stereoPairs,
                         const CTimeCode& start, uint32_t durationFields)
{
    if (CreateMovieWriter(path) != 0)
        return -1;
    int result = StartMovie(standardCode, audioChannels, stereoPairs, start, durationFields);
    PrepareTrackBuffers();
    return result;
}

int CQTDVWriter::FlushAudio()
{
    int result = 0;
    for (int t = 0; t < _nAudioTracks; ++t) {
        auto& buffer = _trackBuffers[static_cast<size_t>(t)];
        if (!buffer.empty() && result == 0)
            result = WriteAudioChunk(t, buffer.data(), static_cast<uint32_t>(buffer.size()),
                                     _trackSamples[static_cast<size_t>(t)]);
        buffer.clear();
        _trackSamples[static_cast<size_t>(t)] = 0;
    }
    return result;
}

int CQTDVWriter::EnsureRoom(int track, int samples)
{
    const size_t bytes =
        static_cast<size_t>(samples) * static_cast<size_t>(AudioChannelsPerTrack() * AudioBytesPerSample());
    if (bytes > _nTrackCapacity)
        return -1;
    // A frame with more samples than planned must not run past the track buffer: write it out early.
    if (_trackBuffers[static_cast<size_t>(track)].size() + bytes > _nTrackCapacity)
        return FlushAudio();
    return 0;
}

int CQTDVWriter::AddVideo(const uint8_t* video, uint32_t videoLength)
{
    if (!_movie && !_video)
        return -1;
    return WriteVideoFrame(video, videoLength);
}

int CQTDVWriter::AfterFrame()
{
    if (_nFrames % kFlushFrames == 0)
        return FlushAudio();
    return 0;
}

int CQTDVWriter::AddFrame(const uint8_t* video, uint32_t videoLength, const float* const* channelSamples,
                          int sampleCount, int channelCount)
{
    int result = AddVideo(video, videoLength);
    if (result != 0)
        return result;
    const int per = AudioChannelsPerTrack();
    const int channels = channelSamples ? std::clamp(channelCount, 0, 16) : 0;
    const int count = std::max(sampleCount, 0);
    for (int t = 0; t < _nAudioTracks && count > 0; ++t) {
        if ((result = EnsureRoom(t, count)) != 0)
            return result;
        auto& buffer = _trackBuffers[static_cast<size_t>(t)];
        for (int i = 0; i < count; ++i)
            for (int c = 0; c < per; ++c) {
                const int channel = t * per + c;
                const float sample = channel < channels ? channelSamples[channel][i] : 0.0f;
                if (_b24Bit)
                    PutSample24(&buffer, sample);
                else
                    PutSample16(&buffer, ToInt16(sample));
            }
        _trackSamples[static_cast<size_t>(t)] += static_cast<uint32_t>(count);
    }
    return AfterFrame();
}

int CQTDVWriter::AddFrameInterleaved(const uint8_t* video, uint32_t videoLength, const int16_t* samples,
                                     int sampleCount, int channelCount)
{
    int result = AddVideo(video, videoLength);
    if (result != 0)
        return result;
    const int per = AudioChannelsPerTrack();
    const int tracks = samples ? std::min(_nAudioTracks, std::max(channelCount, 0) / per) : 0;
    const int count = std::max(sampleCount, 0);
    for (int t = 0; t < tracks && count > 0; ++t) {
        if ((result = EnsureRoom(t, count)) != 0)
            return result;
        auto& buffer = _trackBuffers[static_cast<size_t>(t)];
        const int16_t* part = samples + static_cast<size_t>(t) * static_cast<size_t>(count * per);
        for (int i = 0; i < count * per; ++i) {
            if (_b24Bit) {
                const int32_t v = static_cast<int32_t>(part[i]) * 256;
                buffer.push_back(static_cast<uint8_t>(v >> 16));
                buffer.push_back(static_cast<uint8_t>(v >> 8));
                buffer.push_back(0);
            } else {
                PutSample16(&buffer, part[i]);
            }
        }
        _trackSamples[static_cast<size_t>(t)] += static_cast<uint32_t>(count);
    }
    return AfterFrame();
}

int CQTDVWriter::Close()
{
    if (!_movie && !_video)
        return 0;
    int result = FlushAudio();
    int finished = FinishMovie();
    _trackBuffers.clear();
    return result != 0 ? result : finished;
}

void CQTDVWriter::WriteSampleDescription(QTAtom& stsd)
{
    static const char* const codecs625[] = {"dvcp", "dvpp", "dv5p"};
    static const char* const codecs525[] = {"dvc ", "dvc ", "dv5n"};
    static const char* const names[] = {"DV", "DVCPRO", "DVCPRO 50"};
    const int kind = std::clamp(_nDVKind, 0, 2);
    const bool is625 = _nStandard == 3;
    QTAtom& entry = stsd.Add(is625 ? codecs625[kind] : codecs525[kind]);
    entry.Zero(6)
        .U16(1)
        .U16(0)
        .U16(0)
        .Text("appl")
        .U32(0)
        .U32(0x200)
        .U16(static_cast<uint32_t>(_nWidth))
        .U16(static_cast<uint32_t>(_nHeight))
        .U32(0x480000)
        .U32(0x480000)
        .U32(0)
        .U16(1)
        .Pascal(names[kind], 32)
        .U16(24)
        .U16(0xFFFF);
    // The pixel aspect that makes the whole 720-sample line 4:3 or 16:9, as the DV frames themselves state it:
    // readers that take the pixel aspect from this atom then show the picture as the ones that read the frames.
    const bool wide = _nAspect == 3;
    QTAtom& pasp = entry.Add("pasp");
    if (is625)
        pasp.U32(wide ? 64 : 16).U32(wide ? 45 : 15);
    else
        pasp.U32(wide ? 32 : 8).U32(wide ? 27 : 9);
}

std::string CQTDVWriter::PixelAspectName()
{
    if (_nWidth == 1080 || _nHeight == 1080)
        return _nStandard == 3 ? "HD-(1440x1080)" : "HD-(1280x1080)";
    if (_nStandard == 3 && _nWidth < 720)
        return "PAL-601";
    return "square";
}

std::string CQTDVWriter::FieldDominanceName()
{
    if (_nStandard >= 6)
        return "none";
    return _nDVKind == 3 ? "upper" : "lower";
}
