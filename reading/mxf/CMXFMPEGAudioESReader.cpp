#include "reading/mxf/CMXFMPEGAudioESReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/CLogManager.h"
#include "reading/mxf/MXFKlv.h"
#include "reading/mxf/MXFReaderOps.h"

int32_t CMXFMPEGAudioESReader::Open(uint32_t flag)
{
    int32_t result = CMXFEssenceReader::Open(flag);
    if (result != 0)
        return result;
    _nEssenceStart = Tell();
    _nElementSize = _nEditUnitSize;
    if (_nElementSize == 0) {
        mxf::Klv klv;
        Ensure(std::min<uint32_t>(_nBufferSize, 4096));
        if (_nBytesLeft < 21)
            return kTooFewBytes;
        uint64_t length = 0;
        uint32_t berSize = 0;
        if (!mxf::ParseBerLength(_pCursor + 16, _pCursor + _nBytesLeft, &length, &berSize) ||
            length > kMaxMetadataBytes / 50)
            return kTooFewBytes;
        _nElementSize = static_cast<uint32_t>(16 + berSize + length);
    }
    if (_nElementSize > kMaxMetadataBytes / 50 || !GrowBuffer(uint64_t{50} * _nElementSize)) {
        theLogManager.LogTo(_szLogName, "(CMXFMPEGAudioESReader::Open) element size %u refused", _nElementSize);
        return kTooFewBytes;
    }
    return 0;
}

int32_t CMXFMPEGAudioESReader::GetAudioChannels(int32_t* channels, int32_t max)
{
    for (int32_t i = 0; channels && i < max && i < 2; ++i)
        channels[i] = 1;
    return 2;
}

int32_t CMXFMPEGAudioESReader::TakeElement(uint64_t position, uint8_t* buffer, uint32_t size, uint32_t* sizeOut,
                                           double* secondsOut, int32_t unreadable, uint64_t* valueEnd)
{
    const uint8_t* end = _pCursor + _nBytesLeft;
    uint64_t length = 0;
    uint32_t berSize = 0;
    if (_nBytesLeft < 17 || !mxf::ParseBerLength(_pCursor + 16, end, &length, &berSize))
        return unreadable;
    const uint8_t* value = _pCursor + 16 + berSize;
    if (length > static_cast<uint64_t>(end - value))
        return unreadable;
    if (sizeOut)
        *sizeOut = static_cast<uint32_t>(length);
    if (size < length)
        return kBufferTooSmall;
    std::memcpy(buffer, value, length);
    if (secondsOut)
        *secondsOut = static_cast<double>(position - _nEssenceStart) * kFrameSeconds / _nElementSize;
    *valueEnd = position + 16 + berSize + length;
    return kDataOk;
}

int32_t CMXFMPEGAudioESReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer || !*buffer)
        return kNoBuffer;
    CMXFEssenceSegment* segment = CurrentSegment();
    const uint64_t position = Tell();
    if (!segment || position >= segment->pPartition->nEnd)
        return kNoMoreData;
    const uint32_t want =
        static_cast<uint32_t>(std::min<uint64_t>(_nElementSize, segment->pPartition->nEnd - position));
    if (!Ensure(want))
        return kNoMoreData;
    uint64_t next = 0;
    const int32_t result = TakeElement(position, *buffer, size, sizeOut, secondsOut, kKeyUnreadable, &next);
    if (result != kDataOk)
        return result;
    Seek(next);
    SkipFill();
    return kDataOk;
}

int32_t CMXFMPEGAudioESReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer || !*buffer)
        return kNoBuffer;
    const uint64_t position = Tell();
    if (position < _nEssenceStart || position - _nEssenceStart < _nElementSize)
        return kNoMoreData;
    const uint64_t previous = position - _nElementSize;
    if (!LoadAt(previous, _nElementSize, _nEssenceStart))
        return kNoMoreData;
    uint64_t next = 0;
    const int32_t result = TakeElement(previous, *buffer, size, sizeOut, secondsOut, kNoBuffer, &next);
    Seek(result == kDataOk ? previous : position);
    return result;
}

int32_t CMXFMPEGAudioESReader::GoToTime(double* seconds)
{
    if (!seconds)
        return kBeyondEnd;
    const double time = mxf::NonNegativeSeconds(*seconds);
    const double index = std::trunc(time * 41.666666666666664);
    if (index > static_cast<double>(kMaxEditUnits))
        return kBeyondEnd;
    *seconds = index * kFrameSeconds;
    return Seek(_nEssenceStart + static_cast<uint64_t>(index) * _nElementSize);
}

int32_t CMXFMPEGAudioESReader::GoToFieldOffset(int64_t field)
{
    return mxf::GoToFieldAt50(*this, field);
}

int32_t CMXFMPEGAudioESReader::GoToDataStart()
{
    return Seek(_nEssenceStart);
}

int32_t CMXFMPEGAudioESReader::GoToDataEnd()
{
    CMXFEssenceSegment* segment = CurrentSegment();
    return segment ? Seek(segment->pPartition->nEnd) : -1;
}
