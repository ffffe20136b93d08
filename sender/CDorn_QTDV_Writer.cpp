#include "sender/CDorn_QTDV_Writer.h"

#include <algorithm>

#include "common/CLogManager.h"
#include "media/DvcproFrames.h"
#include "writers/quicktime/CQTDVWriter.h"

CDorn_QTDV_Writer::CDorn_QTDV_Writer(const char* louthIdMain, const char* varIdMain, const char* louthIdBackup,
                                     const char* varIdBackup)
    : _szLouthIdMain(louthIdMain ? louthIdMain : ""),
      _szVarIdMain(varIdMain ? varIdMain : ""),
      _szLouthIdBackup(louthIdBackup ? louthIdBackup : ""),
      _szVarIdBackup(varIdBackup ? varIdBackup : "")
{
}

CDorn_QTDV_Writer::~CDorn_QTDV_Writer()
{
    CloseQuietly();
}

int CDorn_QTDV_Writer::Open(const char* path, uint8_t pictureCode, int64_t bitrate, int channels, int sampleBits, int,
                            CTimeCode start, int64_t)
{
    KeepOpenSettings(pictureCode, bitrate, channels, sampleBits, start);
    _nFrameSize = dvcpro::FrameSize(dvcpro::kDv25, pictureCode == 3);
    SetFrameCapacity(static_cast<uint32_t>(_nFrameSize));
    auto writer = std::make_unique<CQTDVWriter>(0, true, _b24Bit);
    if (const int result = writer->Open(path); result != 0)
        return result;
    MediaWriterClipInfo info = ClipInfo();
    info.dvKind = 0;
    if (const int result = writer->Begin(info); result != 0) {
        writer->Close();
        return result;
    }
    _pMovie = writer.get();
    _pWriter = std::move(writer);
    StartFrameAudio();
    return 0;
}

int CDorn_QTDV_Writer::AddPicture(const DornFrame* frame)
{
    if (!_pWriter)
        return -1;
    // Without a target aspect the movie shows the pictures as the first DV frame states them (its VAUX source
    // control pack).
    if (_nFramesWritten == 0 && _pictures.empty() && !_bAspectGiven && _pMovie && frame && frame->pData &&
        frame->nLength > dvcpro::kAspectByte) {
        _nAspectCode = (frame->pData[dvcpro::kAspectByte] & 0x02) ? 3 : 2;
        _pMovie->SetAspectCode(static_cast<uint8_t>(_nAspectCode));
    }
    CDornWriter::AddPicture(frame);
    return _nChannels == 0 ? WriteOldest(0) : 0;
}

int CDorn_QTDV_Writer::AddAudio(int channel, const DornFrame* frame)
{
    if (channel < 0 || channel >= _nChannels)
        return 0;
    if (!AppendSamples(channel, frame, true))
        return 1;
    if (channel + 1 != _nChannels)
        return 0;
    // Sound with no picture waiting is dropped.
    if (_pictures.empty())
        return 0;
    return WriteOldest(_fill[channel]);
}
