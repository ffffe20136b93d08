#include "reading/formats/CDVDataReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/CLogManager.h"
#include "media/DvcproFrames.h"

namespace
{

constexpr uint32_t kHeaderBytes = dvcpro::kDifBlockSize;
constexpr uint32_t kStreamTypeByte = dvcpro::kStreamTypeByte;
constexpr uint32_t kVauxPackByte = 453;  // first pack of the VAUX block
constexpr uint32_t kVauxAspectByte = dvcpro::kAspectByte;
constexpr uint32_t kAudioSizeByte = 4324;  // the first channel's AAUX source pack: audio frame size
// The second channel's header block id byte.
constexpr uint32_t kSecondChannel50 = dvcpro::ChannelSize(true) + 1;
constexpr uint32_t kSecondChannel60 = dvcpro::ChannelSize(false) + 1;
constexpr double kNtscFieldRate = 60.0 / 1.001;

}  // namespace

CDVDataReader::CDVDataReader(const std::string& logName) : CFormatDataReader(kInitialBufferSize, logName) {}

uint32_t CDVDataReader::AudioWordIndex(uint32_t n, uint32_t channel, uint32_t sequences)
{
    const uint32_t row = 9 * sequences;    // samples per shuffling row
    const uint32_t group = 3 * sequences;  // samples per audio block group
    const uint32_t sequence = (n / 3 + (n % 3) * 2) % sequences + channel * sequences;
    const uint32_t block = (n % row) / group + (n % 3) * 3;
    // A DIF sequence is 6000 words, audio blocks lie 640 words apart, the first sample at word 244.
    return sequence * (dvcpro::kDifSequenceSize / 2) + block * 640 + n / row + 244;
}

int32_t CDVDataReader::Open(uint32_t)
{
    _nFrameSize = 0;
    _nAspect = 0;
    if (!Have(kHeaderBytes)) {
        theLogManager.LogTo(_szLogName, "CDVDataReader::Open fewer than %u bytes", kHeaderBytes);
        return 1;
    }
    const uint8_t* frame = _pCursor;
    if (frame[0] > 31) {
        theLogManager.LogTo(_szLogName, "CDVDataReader::Open no DIF header block (first byte 0x%02X)", frame[0]);
        return 1;
    }
    const bool fifty = (frame[dvcpro::kSystemByte] & 0x80) != 0;
    _nApt = frame[4] & 0x07;
    _dFieldRate = fifty ? 50.0 : kNtscFieldRate;
    _nSystem = fifty ? 3 : 4;
    // The whole first frame is needed for the stream type and the second channel's header.
    Have(_nBufferSize);
    const auto byteAt = [this](uint32_t i) -> int32_t { return i < _nBytesLeft ? _pCursor[i] : -1; };
    const int32_t streamType = byteAt(kStreamTypeByte);
    if (streamType >= 0 && (streamType & 0x1F) == dvcpro::kStreamType1080) {
        _nDataRate = 100;
        _nFrameSize = dvcpro::FrameSize(dvcpro::kDv1080, fifty);
    } else if (streamType >= 0 && (streamType & 0x1F) == dvcpro::kStreamType720) {
        _nDataRate = 100;
        _nFrameSize = dvcpro::FrameSize(dvcpro::kDv720, fifty);
        _nSystem = fifty ? 6 : 7;
    } else {
        const int32_t second = byteAt(fifty ? kSecondChannel50 : kSecondChannel60);
        _nDataRate = second >= 0 && (second & 0x08) ? 50 : 25;
        _nFrameSize = dvcpro::FrameSize(_nDataRate == 50 ? dvcpro::kDv50 : dvcpro::kDv25, fifty);
    }
    _dFramesPerSecond = _nSystem < 6 ? _dFieldRate * 0.5 : _dFieldRate;
    if (byteAt(kVauxPackByte) == 0x61)
        _nAspect = (byteAt(kVauxAspectByte) & 7) ? 3 : 2;
    if (ResizeBuffer(kBufferedFrames * _nFrameSize) != 0) {
        theLogManager.LogTo(_szLogName, "CDVDataReader::Open no buffer of %u frames", kBufferedFrames);
        _nFrameSize = 0;
        return 1;
    }
    RefreshLength();
    return 0;
}

void CDVDataReader::RefreshLength()
{
    _nKnownLength = SourceSize();
    _nFrameCount = _nFrameSize ? static_cast<uint32_t>(std::min<uint64_t>(_nKnownLength / _nFrameSize, UINT32_MAX)) : 0;
}

double CDVDataReader::SecondsAt(uint64_t position) const
{
    return static_cast<double>(position / _nFrameSize) / _dFramesPerSecond;
}

int32_t CDVDataReader::GetNextData(uint8_t**, uint32_t, uint32_t*, double*)
{
    return kNotSupported;
}

int32_t CDVDataReader::GetPrevData(uint8_t**, uint32_t, uint32_t*, double*)
{
    return kNotSupported;
}

int32_t CDVDataReader::GoToFieldOffset(int64_t field)
{
    if (_nFrameSize == 0 || field < 0)
        return -1;
    const uint64_t frame = static_cast<uint64_t>(_nSystem < 6 ? field / 2 : field);
    if (frame > _nFrameCount) {
        RefreshLength();
        if (frame > _nFrameCount)
            return -1;
    }
    return Seek(frame * _nFrameSize);
}

int32_t CDVDataReader::GoToTime(double* seconds)
{
    if (!seconds)
        return -1;
    if (!(*seconds > 0.0))
        *seconds = 0.0;
    // Far times stay far without overflowing the field number.
    const double fields = std::min(_dFieldRate * *seconds + 0.5, 9.0e15);
    const int64_t field = static_cast<int64_t>(fields) & ~int64_t{1};
    *seconds = static_cast<double>(field) / _dFieldRate;
    return GoToFieldOffset(field);
}

int32_t CDVDataReader::GetInOut(int32_t* in, int32_t* out, int32_t* system)
{
    if (in)
        *in = 0;
    if (out)
        *out = static_cast<int32_t>(_nSystem < 6 ? _nFrameCount * 2 : _nFrameCount);
    if (system)
        *system = static_cast<int32_t>(_nSystem);
    return 0;
}

int32_t CDVDataReader::GoToDataStart()
{
    return Seek(0);
}

int32_t CDVDataReader::GoToDataEnd()
{
    if (_nFrameSize == 0)
        return -1;
    return Seek(_nKnownLength - _nKnownLength % _nFrameSize);
}

bool CDVVideoDataReader::GetVideoInfo(VideoInfo* info)
{
    if (!info)
        return false;
    info->nAspect = _nAspect;
    if (_nSystem >= 6) {
        info->nVideoType = DVCPro720P_Video;
        info->nStandard = 3;
        info->bProgressive = true;
        info->nWidth = dvcpro::Width(dvcpro::kDv720, _nSystem == 6);
        info->nHeight = dvcpro::Lines(dvcpro::kDv720, _nSystem == 6);
    } else if (_nDataRate == 100) {
        info->nVideoType = DVCPro100_Video;
        info->nStandard = 4;
        info->bProgressive = false;
        info->nWidth = dvcpro::Width(dvcpro::kDv1080, _nSystem == 3);
        info->nHeight = dvcpro::Lines(dvcpro::kDv1080, _nSystem == 3);
    } else {
        // Standard-definition frames are described as what they are, not as 1080-line ones.
        info->nVideoType = _nDataRate == 50 ? DVCPro50_Video : _nApt ? DVCPro25_Video : DV25_Video;
        info->nStandard = IsFiftyHz() ? 2 : 1;
        info->bProgressive = false;
        info->nWidth = dvcpro::Width(dvcpro::kDv25, IsFiftyHz());
        info->nHeight = dvcpro::Lines(dvcpro::kDv25, IsFiftyHz());
    }
    return true;
}

int32_t CDVVideoDataReader::GetCurrentFieldInfo(uint32_t* first, uint32_t* second, uint8_t* code)
{
    if (first)
        *first = static_cast<uint32_t>(_dFieldRate + 0.5);
    if (second)
        *second = _nFrameSize;
    if (code)
        *code = _nAspect;
    return 0;
}

int32_t CDVVideoDataReader::Deliver(uint8_t** buffer, uint32_t* sizeOut, double* secondsOut)
{
    const uint64_t position = Position();
    if (*buffer)
        std::memcpy(*buffer, _pCursor, _nFrameSize);
    else
        *buffer = _pCursor;
    if (sizeOut)
        *sizeOut = _nFrameSize;
    if (secondsOut)
        *secondsOut = SecondsAt(position);
    return kDataOk;
}

int32_t CDVVideoDataReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (_nFrameSize == 0)
        return kNotSupported;
    if (!buffer)
        return kNoBuffer;
    if (*buffer && size < _nFrameSize) {
        if (sizeOut)
            *sizeOut = _nFrameSize;
        return kBufferTooSmall;
    }
    if (!Have(_nFrameSize))
        return kNoMoreData;
    if (Position() >= _nKnownLength)
        RefreshLength();
    Deliver(buffer, sizeOut, secondsOut);
    Skip(_nFrameSize);
    return kDataOk;
}

int32_t CDVVideoDataReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (_nFrameSize == 0)
        return kNotSupported;
    if (!buffer)
        return kNoBuffer;
    if (size < _nFrameSize) {
        if (sizeOut)
            *sizeOut = _nFrameSize;
        return kBufferTooSmall;
    }
    if (Position() < _nFrameSize || !StepBack(_nFrameSize, 0))
        return kNoMoreData;
    return Deliver(buffer, sizeOut, secondsOut);
}

int32_t CDVAudioDataReader::Open(uint32_t flag)
{
    const int32_t result = CDVDataReader::Open(flag);
    if (result != 0)
        return result;
    _nChannels = _nDataRate == 100 ? 8 : _nDataRate == 50 ? 4 : 2;
    _nSequences = IsFiftyHz() ? 6 : 5;
    _table.resize(size_t{_nChannels} * kMaxSamples);
    for (uint32_t c = 0; c < _nChannels; ++c)
        for (uint32_t n = 0; n < kMaxSamples; ++n)
            _table[c * kMaxSamples + n] = AudioWordIndex(n, c, _nSequences);
    return 0;
}

int32_t CDVAudioDataReader::GetAudioChannels(int32_t*, int32_t)
{
    return static_cast<int32_t>(_nChannels);
}

int32_t CDVAudioDataReader::GetCurrentFieldInfo(uint32_t* first, uint32_t* second, uint8_t*)
{
    if (first)
        *first = 48000;
    if (second)
        *second = 16;
    return 0;
}

uint32_t CDVAudioDataReader::SamplesInFrame(const uint8_t* frame) const
{
    if (_nSystem == 3)
        return 1920;
    switch (frame[kAudioSizeByte] & 0x3F) {
        case 20:
            return 1600;
        case 24:
            return 1920;
        default:
            return 1602;
    }
}

int32_t CDVAudioDataReader::Extract(uint8_t* buffer, uint32_t size, uint32_t* sizeOut)
{
    const uint8_t* frame = _pCursor;
    const uint32_t samples = SamplesInFrame(frame);
    const uint32_t needed = _nChannels * samples * 2;
    if (sizeOut)
        *sizeOut = needed;
    if (size < needed)
        return kBufferTooSmall;
    uint8_t* out = buffer;
    for (uint32_t n = 0; n < samples; ++n) {
        for (uint32_t c = 0; c < _nChannels; ++c, out += 2) {
            const uint64_t byte = uint64_t{_table[c * kMaxSamples + n]} * 2;
            // Channels whose sequences lie beyond a 720-line frame are silent.
            if (byte + 2 <= _nFrameSize) {
                out[0] = frame[byte];
                out[1] = frame[byte + 1];
            } else {
                out[0] = out[1] = 0;
            }
        }
    }
    return kDataOk;
}

int32_t CDVAudioDataReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (_nFrameSize == 0)
        return kNotSupported;
    if (!Have(_nFrameSize))
        return kNoMoreData;
    if (!buffer || !*buffer)
        return kNoBuffer;
    const uint64_t position = Position();
    if (position >= _nKnownLength)
        RefreshLength();
    const int32_t result = Extract(*buffer, size, sizeOut);
    if (result != kDataOk)
        return result;
    if (secondsOut)
        *secondsOut = SecondsAt(position);
    Skip(_nFrameSize);
    return kDataOk;
}

int32_t CDVAudioDataReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (_nFrameSize == 0)
        return kNotSupported;
    if (!buffer || !*buffer)
        return kNoBuffer;
    if (Position() < _nFrameSize || !StepBack(_nFrameSize, 0))
        return kNoMoreData;
    const int32_t result = Extract(*buffer, size, sizeOut);
    if (result != kDataOk) {
        // Nothing is consumed when the samples do not fit.
        Skip(_nFrameSize);
        return result;
    }
    if (secondsOut)
        *secondsOut = SecondsAt(Position());
    return kDataOk;
}
