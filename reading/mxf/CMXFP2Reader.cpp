#include "reading/mxf/CMXFP2Reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "reading/mxf/MXFKlv.h"
#include "reading/mxf/MXFReaderOps.h"

// --- CMXFP2ReaderBase ---

int32_t CMXFP2ReaderBase::Open(uint32_t flag)
{
    _nPendingExtra = 0;
    _bPending = true;
    const int32_t result = CMXFEssenceReader::Open(flag);
    if (result != 0)
        return result;
    uint8_t key[16];
    if (!ReadKey(key, &_nEssenceLength))
        return kKeyUnreadable;
    _nEssenceStart = Tell();
    return 0;
}

uint64_t CMXFP2ReaderBase::Limit() const
{
    const CMXFPartition* header = HeaderPartition();
    uint64_t end = header && header->nFooter != 0 ? header->nFooter : _segments.front().pPartition->nEnd;
    if (_nEssenceLength <= end - std::min(end, _nEssenceStart))
        end = _nEssenceStart + _nEssenceLength;
    return end;
}

int32_t CMXFP2ReaderBase::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer)
        return kNoBuffer;
    if (_segments.empty() || _nChunk == 0)
        return kNoMoreData;
    const uint64_t position = Tell();
    const uint64_t limit = Limit();
    uint64_t count = position < limit ? std::min<uint64_t>(_nChunk, limit - position) : 0;
    if (count == 0)
        return kNoMoreData;
    // The first frame may be longer; the room is checked against what will be copied.
    if (_bPending)
        count = std::min(count + _nPendingExtra, limit - position);
    if (*buffer && size < count) {
        if (sizeOut)
            *sizeOut = static_cast<uint32_t>(count);
        return kBufferTooSmall;
    }
    if (_nBytesLeft < count)
        Ensure(static_cast<uint32_t>(std::min<uint64_t>(count, _nBufferSize)));
    count = std::min<uint64_t>(count, _nBytesLeft);
    if (count == 0)
        return kNoMoreData;
    _bPending = false;
    if (!*buffer)
        *buffer = _pCursor;
    else
        std::memcpy(*buffer, _pCursor, count);
    Skip(static_cast<uint32_t>(count));
    if (sizeOut)
        *sizeOut = static_cast<uint32_t>(count);
    if (secondsOut)
        *secondsOut = PositionToTime(position);
    return kDataOk;
}

int32_t CMXFP2ReaderBase::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer)
        return kNoBuffer;
    if (_segments.empty() || _nChunk == 0)
        return kNoMoreData;
    if (*buffer && size < _nChunk) {
        if (sizeOut)
            *sizeOut = _nChunk;
        return kBufferTooSmall;
    }
    const uint64_t position = Tell();
    uint64_t previous = 0;
    if (!DeliverBefore(position, _nEssenceStart, _nChunk, buffer, sizeOut, &previous))
        return kNoMoreData;
    if (secondsOut)
        *secondsOut = PositionToTime(previous);
    return kDataOk;
}

int32_t CMXFP2ReaderBase::GoToDataStart()
{
    const int32_t result = CMXFEssenceReader::GoToDataStart();
    if (result != 0)
        return result;
    uint8_t key[16];
    if (!ReadKey(key, &_nEssenceLength))
        return kKeyUnreadable;
    _bPending = true;
    return 0;
}

double CMXFP2ReaderBase::PositionToTime(uint64_t)
{
    return -1.0;
}

// --- CMXFP2VideoReader ---

int32_t CMXFP2VideoReader::Open(uint32_t flag)
{
    _descriptor.clear();
    const int32_t result = CMXFP2ReaderBase::Open(flag);
    if (result != 0)
        return result;
    _nChunk = _nEditUnitSize;
    if (_nChunk == 0 || _nChunk > kMaxMetadataBytes / 4 || !GrowBuffer(uint64_t{4} * _nChunk))
        return kNoMoreData;
    // An access unit delimiter and a sequence parameter set: the first AVC-Intra frame carries 512 more bytes.
    static const uint8_t kAvcStart[11] = {0x00, 0x00, 0x00, 0x01, 0x09, 0x10, 0x00, 0x00, 0x00, 0x01, 0x67};
    if (Ensure(11) && mxf::Matches(_pCursor, kAvcStart, 11))
        _nPendingExtra = 512;
    return 0;
}

int32_t CMXFP2VideoReader::OnPictureDescriptor(const uint8_t* value, uint64_t length)
{
    _descriptor.assign(value, value + length);
    return 0;
}

bool CMXFP2VideoReader::GetVideoInfo(VideoInfo* info)
{
    if (_descriptor.empty())
        return false;
    return ParsePictureDescriptor(_descriptor.data(), _descriptor.size(), _nTcSystem, info);
}

int32_t CMXFP2VideoReader::GoToFieldOffset(int64_t field)
{
    if (field < 0)
        return kBeyondEnd;
    const int64_t unit = _nFieldsPerEditUnit == 2 ? field / 2 : field;
    if (unit > _nDuration)
        return kBeyondEnd;
    if (unit == 0) {
        _bPending = true;
        return Seek(_nEssenceStart);
    }
    _bPending = false;
    return Seek(_nEssenceStart + static_cast<uint64_t>(unit) * _nChunk + _nPendingExtra);
}

int32_t CMXFP2VideoReader::GoToTime(double* seconds)
{
    return mxf::GoToEvenFieldTime(*this, seconds, _dFieldRate);
}

double CMXFP2VideoReader::PositionToTime(uint64_t position)
{
    return mxf::UnitPositionToTime(position, _nEssenceStart, _nChunk, _nFieldsPerEditUnit, _dFieldRate);
}

// --- CMXFP2AudioReader ---

int32_t CMXFP2AudioReader::Open(uint32_t flag)
{
    const int32_t result = CMXFP2ReaderBase::Open(flag);
    if (result != 0)
        return result;
    _nChunk = 32768;
    if (ResizeBuffer(std::max<uint32_t>(_nBufferSize, 0x20000)) != 0)
        return kNoMoreData;
    _dDurationSeconds = static_cast<double>(_nDuration) / _dEditRate;
    return 0;
}

int32_t CMXFP2AudioReader::GetAudioChannels(int32_t* channels, int32_t max)
{
    if (channels && max > 0)
        channels[0] = 1;
    return 1;
}

int32_t CMXFP2AudioReader::GoToFieldOffset(int64_t field)
{
    double seconds = static_cast<double>(field) / _dFieldRate;
    return GoToTime(&seconds);
}

int32_t CMXFP2AudioReader::GoToTime(double* seconds)
{
    if (!seconds || *seconds > _dDurationSeconds)
        return kBeyondEnd;
    const double time = mxf::NonNegativeSeconds(*seconds);
    return Seek(_nEssenceStart + static_cast<uint64_t>(std::trunc(time * 48000.0)) * 2);
}

int32_t CMXFP2AudioReader::GetExtendedInfo(double fieldRate)
{
    mxf::SetSoundFieldRate(fieldRate, _nDuration, &_nFieldsPerEditUnit, &_dEditRate, &_dDurationSeconds);
    return 0;
}

double CMXFP2AudioReader::PositionToTime(uint64_t position)
{
    return position < _nEssenceStart ? 0.0 : static_cast<double>(position - _nEssenceStart) * 1.0416666666666666e-5;
}
