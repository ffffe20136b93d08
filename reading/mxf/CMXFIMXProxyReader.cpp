#include "reading/mxf/CMXFIMXProxyReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "reading/mxf/MXFKlv.h"
#include "reading/mxf/MXFReaderOps.h"

namespace
{
const uint8_t kSequenceHeader[4] = {0x00, 0x00, 0x01, 0xB3};
}  // namespace

// --- CMXFIMXProxyReaderBase ---

int32_t CMXFIMXProxyReaderBase::Open(uint32_t flag)
{
    const int32_t result = CMXFEssenceReader::Open(flag);
    if (result != 0)
        return result;
    _nUnitsPerEditUnit = _nTcSystem == 3 ? 50 : 60;
    return _nEditUnitSize == 0 || _nEditUnitSize > kMaxMetadataBytes ? kNoMoreData : 0;
}

int32_t CMXFIMXProxyReaderBase::GoToTime(double* seconds)
{
    if (!seconds)
        return kBeyondEnd;
    const double frames = std::trunc(_dEditRate * mxf::NonNegativeSeconds(*seconds) + 0.5);
    if (!(frames < 1.0e15))
        return kBeyondEnd;
    const int64_t field = (static_cast<int64_t>(frames) * _nFieldsPerEditUnit) & ~int64_t{1};
    *seconds = static_cast<double>(field) / _dFieldRate;
    return GoToFieldOffset(field);
}

double CMXFIMXProxyReaderBase::PositionToTime(uint64_t)
{
    return 0.0;
}

CMXFEssenceSegment* CMXFIMXProxyReaderBase::SegmentOfUnit(int64_t unit, size_t* index)
{
    for (size_t i = 0; i < _segments.size(); ++i)
        if (unit <= _segments[i].nFirstEditUnit + _segments[i].nDuration) {
            *index = i;
            return &_segments[i];
        }
    return nullptr;
}

// --- CMXFIMXProxyVideoReader ---

int32_t CMXFIMXProxyVideoReader::Open(uint32_t flag)
{
    _nAspect = 0;
    _bHasStreamHeader = false;
    const int32_t result = CMXFIMXProxyReaderBase::Open(flag);
    if (result != 0)
        return result;
    _nFrameSize = _nTcSystem == 3 ? 76800 : 64000;
    if (_nEditUnitSize < kLeadingBytes + kFrameArea || !GrowBuffer(_nEditUnitSize))
        return kNoMoreData;
    _nUnitStart = _nSegmentStart;
    _nCounter = 0;
    _bHeaderPending = true;
    return 0;
}

int32_t CMXFIMXProxyVideoReader::OnPictureDescriptor(const uint8_t* value, uint64_t length)
{
    mxf::ForEachLocalTag(value, length, [&](uint16_t tag, const uint8_t* v, uint32_t size) {
        if (tag == 0x8201 && size >= kStreamHeaderSize) {
            std::memcpy(_streamHeader, v, kStreamHeaderSize);
            _bHasStreamHeader = true;
        } else if (tag == 0x320E && size >= 8) {
            _nAspect = v[3] == 4 && v[7] == 3 ? 2 : 3;
        }
        return true;
    });
    return 0;
}

bool CMXFIMXProxyVideoReader::GetVideoInfo(VideoInfo* info)
{
    if (!info)
        return false;
    info->nVideoType = MP4ART_Video;
    info->bProgressive = true;
    info->nStandard = _nTcSystem == 3 ? 18 : 17;
    info->nAspect = _nAspect;
    info->nWidth = 352;
    info->nHeight = _nTcSystem == 3 ? 288 : 240;
    return true;
}

int32_t CMXFIMXProxyVideoReader::GetCurrentFieldInfo(uint32_t* rate, uint32_t* frameSize, uint8_t* aspect)
{
    if (rate)
        *rate = static_cast<uint32_t>(_dEditRate + 0.5);
    if (frameSize)
        *frameSize = _nFrameSize;
    if (aspect)
        *aspect = _nAspect;
    return 0;
}

bool CMXFIMXProxyVideoReader::LoadUnit()
{
    CMXFEssenceSegment* segment = CurrentSegment();
    if (!segment || _nUnitStart >= segment->pPartition->nEnd ||
        segment->pPartition->nEnd - _nUnitStart < _nEditUnitSize)
        return false;
    if (!LoadAt(_nUnitStart, _nEditUnitSize, segment->nEssenceStart))
        return false;
    // The leading bytes count from the start of the element's value.
    uint64_t length = 0;
    uint32_t berSize = 0;
    if (!mxf::ParseBerLength(_pCursor + 16, _pCursor + _nEditUnitSize, &length, &berSize) ||
        _nEditUnitSize - 16 - berSize < kLeadingBytes + kFrameArea)
        return false;
    _nAreaOffset = 16 + berSize + kLeadingBytes;
    return true;
}

bool CMXFIMXProxyVideoReader::HasFrame(uint32_t k) const
{
    return k < FramesPerUnit() && mxf::Matches(_pCursor + _nAreaOffset + k * _nFrameSize, kSequenceHeader, 4);
}

int32_t CMXFIMXProxyVideoReader::TakeFrame(uint32_t k, uint8_t* buffer, uint32_t* sizeOut, double* secondsOut)
{
    const uint8_t* frame = _pCursor + _nAreaOffset + k * _nFrameSize;
    uint32_t length = _nFrameSize;
    while (length > 0 && frame[length - 1] == 0x7F)
        --length;
    uint32_t written = 0;
    if (_bHeaderPending && _bHasStreamHeader) {
        std::memcpy(buffer, _streamHeader, kStreamHeaderSize);
        written = kStreamHeaderSize;
    }
    _bHeaderPending = false;
    std::memcpy(buffer + written, frame, length);
    if (sizeOut)
        *sizeOut = written + length;
    const uint32_t counter = _nCounter;
    _nCounter = k;
    if (secondsOut)
        *secondsOut = PositionToTime(_nUnitStart);
    _nCounter = counter;
    return kDataOk;
}

double CMXFIMXProxyVideoReader::PositionToTime(uint64_t position)
{
    const CMXFEssenceSegment* segment = CurrentSegment();
    if (!segment)
        return 0.0;
    const uint64_t units =
        _nUnitsPerEditUnit * (position - std::min(position, segment->nEssenceStart)) / _nEditUnitSize;
    return (static_cast<double>(units) + _nCounter * 10.0) / _dEditRate +
           static_cast<double>(segment->nFirstEditUnit) / _dEditRate;
}

int32_t CMXFIMXProxyVideoReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!CurrentSegment())
        return kNoMoreData;
    if (!buffer || !*buffer)
        return kNoBuffer;
    const uint32_t need = _nFrameSize + (_bHeaderPending && _bHasStreamHeader ? kStreamHeaderSize : 0);
    if (size < need) {
        if (sizeOut)
            *sizeOut = need;
        return kBufferTooSmall;
    }
    for (;;) {
        if (!LoadUnit())
            return kNoMoreData;
        if (HasFrame(_nCounter))
            break;
        // The frame area is finished: on to the next edit unit, or the next segment.
        _nUnitStart += _nEditUnitSize;
        _nCounter = 0;
        CMXFEssenceSegment* segment = CurrentSegment();
        if (_nUnitStart >= segment->pPartition->nEnd) {
            if (++_nSegment >= _segments.size())
                return kNoMoreData;
            _nUnitStart = _segments[_nSegment].nEssenceStart;
            _nSegmentStart = _nUnitStart;
        }
    }
    TakeFrame(_nCounter, *buffer, sizeOut, secondsOut);
    ++_nCounter;
    return kDataOk;
}

int32_t CMXFIMXProxyVideoReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!CurrentSegment() && _nSegment == 0)
        return kNoMoreData;
    if (!buffer || !*buffer)
        return kNoBuffer;
    const uint32_t need = _nFrameSize + (_bHeaderPending && _bHasStreamHeader ? kStreamHeaderSize : 0);
    if (size < need) {
        if (sizeOut)
            *sizeOut = need;
        return kBufferTooSmall;
    }
    const size_t segmentBefore = _nSegment;
    const uint64_t unitBefore = _nUnitStart;
    const uint32_t counterBefore = _nCounter;
    for (;;) {
        if (_nCounter == 0 || !CurrentSegment()) {
            // Back to the previous edit unit, into the previous segment at a segment's start.
            if (_nSegment < _segments.size() && _nUnitStart > _segments[_nSegment].nEssenceStart) {
                _nUnitStart -= _nEditUnitSize;
            } else if (_nSegment > 0) {
                --_nSegment;
                const CMXFEssenceSegment& s = _segments[_nSegment];
                const uint64_t span = s.pPartition->nEnd - std::min(s.pPartition->nEnd, s.nEssenceStart);
                if (span < _nEditUnitSize)
                    continue;
                _nUnitStart = s.nEssenceStart + (span / _nEditUnitSize - 1) * _nEditUnitSize;
                _nSegmentStart = s.nEssenceStart;
            } else {
                _nSegment = segmentBefore;
                _nUnitStart = unitBefore;
                _nCounter = counterBefore;
                return kNoMoreData;
            }
            _nCounter = FramesPerUnit();
            if (!LoadUnit())
                return kNoMoreData;
            while (_nCounter > 0 && !HasFrame(_nCounter - 1))
                --_nCounter;
            continue;
        }
        if (!LoadUnit())
            return kNoMoreData;
        --_nCounter;
        if (HasFrame(_nCounter))
            break;
    }
    return TakeFrame(_nCounter, *buffer, sizeOut, secondsOut);
}

int32_t CMXFIMXProxyVideoReader::GoToFieldOffset(int64_t field)
{
    const int64_t unit = UnitOf(field);
    if (field < 0 || _nDuration < 0 || unit >= _nDuration)
        return kBeyondEnd;
    size_t index = 0;
    CMXFEssenceSegment* segment = SegmentOfUnit(unit, &index);
    if (!segment)
        return kBeyondEnd;
    _nSegment = index;
    _nSegmentStart = segment->nEssenceStart;
    const int64_t inSegment = unit - segment->nFirstEditUnit;
    _nUnitStart = segment->nEssenceStart + static_cast<uint64_t>(inSegment / _nUnitsPerEditUnit) * _nEditUnitSize;
    _nCounter = 0;
    if (!LoadUnit())
        return kNoMoreData;
    const uint32_t wanted = static_cast<uint32_t>(inSegment % _nUnitsPerEditUnit) / 10;
    while (_nCounter < wanted && HasFrame(_nCounter + 1))
        ++_nCounter;
    return 0;
}

int32_t CMXFIMXProxyVideoReader::GoToTime(double* seconds)
{
    const int32_t result = CMXFIMXProxyReaderBase::GoToTime(seconds);
    if (result == 0 && seconds)
        *seconds = PositionToTime(_nUnitStart);
    return result;
}

int32_t CMXFIMXProxyVideoReader::GoToDataStart()
{
    _nCounter = 0;
    const int32_t result = CMXFEssenceReader::GoToDataStart();
    _nUnitStart = _nSegmentStart;
    return result;
}

int32_t CMXFIMXProxyVideoReader::GoToDataEnd()
{
    _nCounter = 0;
    const int32_t result = CMXFEssenceReader::GoToDataEnd();
    _nUnitStart = _segments.empty() ? 0 : _segments.back().pPartition->nEnd;
    return result;
}

// --- CMXFIMXProxyAudioReader ---

int32_t CMXFIMXProxyAudioReader::Open(uint32_t flag)
{
    _nSelected = -2;
    const int32_t result = CMXFIMXProxyReaderBase::Open(flag);
    if (result != 0)
        return result;
    if (!GrowBuffer(_nEditUnitSize))
        return kNoMoreData;
    _nSelectedOffset = DeltaOf(0);
    if (_nSelectedOffset >= _nEditUnitSize)
        return kNoMoreData;
    _nReadSize = _nEditUnitSize - _nSelectedOffset;
    _nSelected = -1;
    return Seek(_nSegmentStart) == 0 ? 0 : kNoMoreData;
}

int32_t CMXFIMXProxyAudioReader::Streams() const
{
    // Streams are named by delta entries 2 to 5; only those present are offered.
    const size_t deltas = HeaderPartition()->deltas.size();
    return deltas <= 2 ? 1 : static_cast<int32_t>(std::min<size_t>(4, deltas - 2));
}

uint32_t CMXFIMXProxyAudioReader::DeltaOf(int32_t stream) const
{
    const auto& deltas = HeaderPartition()->deltas;
    const size_t at = static_cast<size_t>(stream) + 2;
    return at < deltas.size() ? deltas[at].nElementDelta : 0;
}

int32_t CMXFIMXProxyAudioReader::GetAudioChannels(int32_t* channels, int32_t max)
{
    for (int32_t i = 0; channels && i < max && i < 2 * Streams(); ++i)
        channels[i] = 2;
    return Streams();
}

int32_t CMXFIMXProxyAudioReader::SelectAudioStream(int32_t index)
{
    if (index == _nSelected)
        return index;
    if (HeaderPartition()->deltas.empty())
        return _nSelected;
    if (index < -1 || index >= Streams())
        return kBadStream;
    const uint32_t offset = DeltaOf(index < 0 ? 0 : index);
    const uint32_t end = index < 0 || index + 1 >= Streams() ? _nEditUnitSize : DeltaOf(index + 1);
    if (offset >= end || end > _nEditUnitSize)
        return kBadStream;
    _nSelectedOffset = offset;
    _nReadSize = end - offset;
    _nSelected = index;
    Seek(_nSegmentStart);
    return index;
}

double CMXFIMXProxyAudioReader::PositionToTime(uint64_t position)
{
    const CMXFEssenceSegment* segment = CurrentSegment();
    if (!segment || position < segment->nEssenceStart)
        return 0.0;
    return static_cast<double>(position - segment->nEssenceStart) / (_nEditUnitSize * _dEditRate);
}

int32_t CMXFIMXProxyAudioReader::TakeSound(uint64_t unit, uint8_t* buffer, uint32_t size, uint32_t* sizeOut,
                                           double* secondsOut)
{
    const CMXFEssenceSegment* segment = CurrentSegment();
    const uint8_t* p = _pCursor;
    const uint8_t* end = p + _nReadSize;
    const int32_t count = _nSelected == -1 ? Streams() : 1;
    uint64_t length = 0;
    uint32_t berSize = 0;
    if (end - p < 17 || !mxf::ParseBerLength(p + 16, end, &length, &berSize))
        return kKeyUnreadable;
    const double start = PositionToTime(unit);
    // Sound past the clip's end is cut from every stream alike.
    const double endUnit = std::round((static_cast<double>(length) / 16000.0 + start) * _dEditRate);
    uint64_t trim = 0;
    if (endUnit > static_cast<double>(segment->nDuration))
        trim = static_cast<uint64_t>(
            std::round((endUnit - static_cast<double>(segment->nDuration)) * 16000.0 / _dEditRate));
    uint64_t total = 0;
    int32_t result = mxf::WalkElements(p, end, count, trim, nullptr, &total);
    if (result == mxf::kWalkNoKey || result == mxf::kWalkFurtherUnreadable)
        result = kKeyUnreadable;
    if (result != 0)
        return result;
    if (total > size) {
        if (sizeOut)
            *sizeOut = static_cast<uint32_t>(total);
        return kBufferTooSmall;
    }
    mxf::WalkElements(p, end, count, trim, buffer, &total);
    if (sizeOut)
        *sizeOut = static_cast<uint32_t>(total);
    if (secondsOut)
        *secondsOut = static_cast<double>(segment->nFirstEditUnit) / _dEditRate + start;
    return kDataOk;
}

int32_t CMXFIMXProxyAudioReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    CMXFEssenceSegment* segment = CurrentSegment();
    if (!segment)
        return kNoMoreData;
    if (!buffer || !*buffer)
        return kNoBuffer;
    const uint64_t unit = Tell();
    if (unit >= segment->pPartition->nEnd || segment->pPartition->nEnd - unit < _nEditUnitSize ||
        !LoadAt(unit + _nSelectedOffset, _nReadSize))
        return kNoMoreData;
    const int32_t result = TakeSound(unit, *buffer, size, sizeOut, secondsOut);
    if (result != kDataOk) {
        Seek(unit);
        return result;
    }
    Seek(unit + _nEditUnitSize);
    if (Tell() >= segment->pPartition->nEnd - std::min<uint64_t>(segment->pPartition->nEnd, _nEditUnitSize - 1) &&
        _nSegment + 1 < _segments.size()) {
        ++_nSegment;
        _nSegmentStart = _segments[_nSegment].nEssenceStart;
        Seek(_nSegmentStart);
    }
    return kDataOk;
}

int32_t CMXFIMXProxyAudioReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer || !*buffer)
        return kNoBuffer;
    if (_segments.empty())
        return kNoMoreData;
    const size_t segmentBefore = _nSegment;
    const uint64_t position = Tell();
    if (_nSegment >= _segments.size())
        _nSegment = _segments.size() - 1;
    uint64_t unit = 0;
    CMXFEssenceSegment* segment = &_segments[_nSegment];
    if (position > segment->nEssenceStart && position - segment->nEssenceStart >= _nEditUnitSize) {
        unit = position - _nEditUnitSize;
    } else if (_nSegment > 0) {
        segment = &_segments[--_nSegment];
        const uint64_t span = segment->pPartition->nEnd - std::min(segment->pPartition->nEnd, segment->nEssenceStart);
        if (span < _nEditUnitSize) {
            _nSegment = segmentBefore;
            return kNoMoreData;
        }
        unit = segment->nEssenceStart + (span / _nEditUnitSize - 1) * _nEditUnitSize;
    } else {
        _nSegment = segmentBefore;
        return kNoMoreData;
    }
    _nSegmentStart = segment->nEssenceStart;
    if (!LoadAt(unit + _nSelectedOffset, _nReadSize, segment->nEssenceStart))
        return kNoMoreData;
    const int32_t result = TakeSound(unit, *buffer, size, sizeOut, secondsOut);
    Seek(result == kDataOk ? unit : position);
    return result;
}

int32_t CMXFIMXProxyAudioReader::GoToFieldOffset(int64_t field)
{
    const int64_t unit = UnitOf(field);
    if (field < 0 || _nDuration < 0 || unit > _nDuration)
        return kBeyondEnd;
    size_t index = 0;
    CMXFEssenceSegment* segment = SegmentOfUnit(unit, &index);
    if (!segment)
        return kBeyondEnd;
    _nSegment = index;
    _nSegmentStart = segment->nEssenceStart;
    return Seek(segment->nEssenceStart +
                static_cast<uint64_t>((unit - segment->nFirstEditUnit) / _nUnitsPerEditUnit) * _nEditUnitSize);
}

int32_t CMXFIMXProxyAudioReader::GoToTime(double* seconds)
{
    const int32_t result = CMXFIMXProxyReaderBase::GoToTime(seconds);
    if (result == 0 && seconds && CurrentSegment())
        *seconds = static_cast<double>(CurrentSegment()->nFirstEditUnit) / _dEditRate + PositionToTime(Tell());
    return result;
}
