#include "sender/CDorn_Op1a_Writer.h"

#include <algorithm>

#include "common/CLogManager.h"
#include "sender/DornCodecFrames.h"
#include "writers/op1a/CIMXMXFWriter.h"

CDorn_Op1a_Writer::~CDorn_Op1a_Writer()
{
    CloseQuietly();
}

int CDorn_Op1a_Writer::Open(const char* path, uint8_t pictureCode, int64_t bitrate, int channels, int sampleBits, int,
                            CTimeCode start, int64_t)
{
    KeepOpenSettings(pictureCode, bitrate, channels, sampleBits, start);
    _nFrameSize = -1;
    _bBegun = false;
    const int system = pictureCode == 3 || pictureCode == 6 ? 3 : 4;
    if (bitrate != 0) {
        const int megabits = dorncodec::ImxMegabits(bitrate);
        if (megabits == 0) {
            theLogManager.Log("Dorn_Op1a_Writer::Open - IMX bitrate %li not supported", static_cast<long>(bitrate));
            return -1;
        }
        _nBitrate = int64_t{megabits} * 1000000;
        _nFrameSize = dorncodec::ImxFrameSize(megabits, system);
        SetFrameCapacity(static_cast<uint32_t>(_nFrameSize));
    }
    auto writer =
        std::make_unique<CIMXMXFWriter>(24, _szSampleFolder.empty() ? nullptr : _szSampleFolder.c_str(), 64000);
    if (const int result = writer->Open(path); result != 0)
        return result;
    writer->SetAudioSampleBits(sampleBits == 24 ? 24 : 16);
    _pWriter = std::move(writer);
    StartFrameAudio();
    return _nFrameSize > 0 ? Begin() : 0;
}

int CDorn_Op1a_Writer::Begin()
{
    const int result = _pWriter->Begin(ClipInfo());
    if (result != 0) {
        theLogManager.Log("Dorn_Op1a_Writer::IMXWriter Initialization FAILED !! [%i]", result);
        return result;
    }
    _bBegun = true;
    return 0;
}

int CDorn_Op1a_Writer::AddPicture(const DornFrame* frame)
{
    if (!_pWriter)
        return -1;
    if (_nFrameSize < 0) {
        if (LearnImxFrame(frame, _nPictureCode == 3 || _nPictureCode == 6 ? 3 : 4, &_nFrameSize, &_nBitrate) == 0)
            return -1;
    }
    if (!_bBegun)
        if (const int result = Begin(); result != 0)
            return result;
    CDornWriter::AddPicture(frame);
    return _nChannels == 0 ? WriteOldest(0) : 0;
}

int CDorn_Op1a_Writer::AddAudio(int channel, const DornFrame* frame)
{
    if (channel < 0 || channel >= _nChannels) {
        theLogManager.Log("Dorn_Op1a_Writer::AddAudio - channel %i not opened [%i channels]", channel, _nChannels);
        return 1;
    }
    if (!AppendSamples(channel, frame, false))
        return 1;
    if (channel + 1 != _nChannels)
        return 0;
    int result = 0;
    while (result == 0 && !_pictures.empty() && _fill[channel] >= SamplesOfFrame(_nFramesWritten)) {
        try {
            result = WriteOldest(SamplesOfFrame(_nFramesWritten));
        } catch (...) {
            theLogManager.Log("IMXWriter Exception caught !!");
            throw;
        }
    }
    return result;
}
