#include "reading/mxf/CMXFOP1aReader.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/CLogManager.h"
#include "reading/mxf/MXFKlv.h"
#include "reading/mxf/MXFReaderOps.h"

// --- CMXFOP1aReaderBase ---

int32_t CMXFOP1aReaderBase::Open(uint32_t flag)
{
    _bGrowing = false;
    int32_t result = CMXFEssenceReader::Open(flag);
    if (result != 0)
        return result;
    CMXFEssenceSegment* segment = CurrentSegment();
    const int64_t size = FileSize();
    CMXFPartition* partition = segment->pPartition;
    // A writer that could not patch 64-bit positions leaves a footer position below 4 GiB.
    if (size > 0xFFFFFFFF && partition->nEnd == partition->nFooter && partition->nFooter < (uint64_t{1} << 32))
        partition->nEnd = static_cast<uint64_t>(size) - 512;
    _nEssenceStart = Tell();
    if (_nEditUnitSize == 0) {
        for (const auto& p : _partitions) {
            if (p->entries.size() < 2)
                continue;
            const uint64_t step = p->entries[1].nStreamOffset - p->entries[0].nStreamOffset;
            if (p->entries[1].nStreamOffset > p->entries[0].nStreamOffset && step <= kMaxMetadataBytes)
                _nEditUnitSize = static_cast<uint32_t>(step);
            break;
        }
    }
    if (_nEditUnitSize == 0 && Ensure(17)) {
        uint64_t length = 0;
        uint32_t berSize = 0;
        if (Ensure(_pCursor[16] < 0x80 ? 17 : 17 + (_pCursor[16] & 0x7F)) &&
            mxf::ParseBerLength(_pCursor + 16, _pCursor + _nBytesLeft, &length, &berSize) &&
            length <= kMaxMetadataBytes)
            _nEditUnitSize = static_cast<uint32_t>(16 + berSize + length);
    }
    // An edit unit must fit in the file and in a buffer four times its size.
    if (_nEditUnitSize == 0 || _nEditUnitSize > kMaxMetadataBytes / 4 || _nEditUnitSize > Remaining(_nEssenceStart)) {
        theLogManager.LogTo(_szLogName, "(CMXFOP1aReaderBase::Open) no usable edit unit size (%u)", _nEditUnitSize);
        return kNoMoreData;
    }
    if (_nDuration <= 0) {
        RecomputeDuration();
        _bGrowing = true;
    }
    return 0;
}

void CMXFOP1aReaderBase::RecomputeDuration()
{
    const int64_t size = FileSize();
    if (size >= 0 && static_cast<uint64_t>(size) > _nEssenceStart && _nEditUnitSize != 0)
        _nDuration = static_cast<int64_t>((static_cast<uint64_t>(size) - _nEssenceStart) / _nEditUnitSize);
    else
        _nDuration = 0;
}

int32_t CMXFOP1aReaderBase::CheckEnd(uint64_t position)
{
    CMXFEssenceSegment* segment = CurrentSegment();
    if (!segment)
        return kNoMoreData;
    CMXFPartition* partition = segment->pPartition;
    if (position < partition->nEnd && partition->nEnd - position >= _nEditUnitSize)
        return 0;
    if (!_bGrowing)
        return kNoMoreData;
    const int64_t size = FileSize();
    if (size < 0 || static_cast<uint64_t>(size) == partition->nEnd)
        return kNoMoreData;
    RecomputeDuration();
    partition->nEnd = _nEssenceStart + static_cast<uint64_t>(_nDuration) * _nEditUnitSize;
    return position < partition->nEnd && partition->nEnd - position >= _nEditUnitSize ? 0 : kNoMoreData;
}

int32_t CMXFOP1aReaderBase::FieldToEditUnit(int64_t field, bool wholeFile, int64_t* editUnit)
{
    if (field < 0 || !CurrentSegment())
        return kBeyondEnd;
    const int64_t unit = _nFieldsPerEditUnit == 2 ? field / 2 : field;
    if (unit > _nDuration) {
        if (!_bGrowing)
            return kBeyondEnd;
        CMXFPartition* partition = CurrentSegment()->pPartition;
        const int64_t size = FileSize();
        if (size < 0 || static_cast<uint64_t>(size) == partition->nEnd)
            return kNoMoreData;
        RecomputeDuration();
        partition->nEnd = wholeFile ? static_cast<uint64_t>(size)
                                    : _nEssenceStart + static_cast<uint64_t>(_nDuration) * _nEditUnitSize;
        if (unit > _nDuration)
            return kNoMoreData;
    }
    *editUnit = unit;
    return 0;
}

double CMXFOP1aReaderBase::SecondsAt(uint64_t position) const
{
    return static_cast<double>(position - _nEssenceStart) / (static_cast<double>(_nEditUnitSize) * _dEditRate);
}

int32_t CMXFOP1aReaderBase::GoToTime(double* seconds)
{
    return mxf::GoToEvenFieldTime(*this, seconds, _dFieldRate);
}

int32_t CMXFOP1aReaderBase::GetInOut(int32_t* in, int32_t* out, int32_t* system)
{
    if (_bGrowing)
        RecomputeDuration();
    return CMXFEssenceReader::GetInOut(in, out, system);
}

int32_t CMXFOP1aReaderBase::GoToDataStart()
{
    if (!CurrentSegment())
        _nSegment = 0;
    return Seek(_nEssenceStart);
}

int32_t CMXFOP1aReaderBase::GoToDataEnd()
{
    CMXFEssenceSegment* segment = CurrentSegment();
    if (!segment)
        return -1;
    CMXFPartition* partition = segment->pPartition;
    if (_bGrowing) {
        RecomputeDuration();
        partition->nEnd = _nEssenceStart + static_cast<uint64_t>(_nDuration) * _nEditUnitSize;
    }
    // The end of the last whole edit unit, so that stepping back lands on edit units.
    const uint64_t span = partition->nEnd > _nEssenceStart ? partition->nEnd - _nEssenceStart : 0;
    return Seek(_nEssenceStart + span / _nEditUnitSize * _nEditUnitSize);
}

// --- CMXFOP1aPictureReader ---

int32_t CMXFOP1aPictureReader::Open(uint32_t flag)
{
    _descriptor.clear();
    _nPictureOffset = 0;
    int32_t result = CMXFOP1aReaderBase::Open(flag);
    if (result != 0)
        return result;
    if (!GrowBuffer(uint64_t{4} * _nEditUnitSize) || !Ensure(_nEditUnitSize))
        return kNoMoreData;
    const uint8_t* unit = _pCursor;
    const uint8_t* end = _pCursor + _nEditUnitSize;
    auto isPicture = [](int32_t type) { return type == 0x05 || type == 0x18 || type == 0x15; };
    const CMXFPartition* header = HeaderPartition();
    bool found = false;
    // The delta entries name where each element starts; MPEG elementary streams (0x15) are taken there too.
    for (const CMXFDeltaEntry& delta : header->deltas) {
        if (delta.nElementDelta <= _nEditUnitSize - 16 && isPicture(mxf::EssenceItemType(unit + delta.nElementDelta))) {
            _nPictureOffset = delta.nElementDelta;
            found = true;
            break;
        }
    }
    for (const uint8_t* p = unit; !found && header->deltas.empty();) {
        mxf::Klv klv;
        if (!mxf::ParseKlv(p, end, &klv))
            break;
        if (isPicture(mxf::EssenceItemType(p))) {
            _nPictureOffset = static_cast<uint32_t>(p - unit);
            found = true;
        }
        p += klv.nTotal;
    }
    return 0;
}

bool CMXFOP1aPictureReader::GetVideoInfo(VideoInfo* info)
{
    if (_descriptor.empty())
        return false;
    return ParsePictureDescriptor(_descriptor.data(), _descriptor.size(), _nTcSystem, info);
}

int32_t CMXFOP1aPictureReader::OnPictureDescriptor(const uint8_t* value, uint64_t length)
{
    _descriptor.assign(value, value + length);
    return 0;
}

int32_t CMXFOP1aPictureReader::TakePicture(uint64_t position, uint8_t** buffer, uint32_t size, uint32_t* sizeOut,
                                           double* secondsOut)
{
    const uint8_t* unit = _pCursor;
    const uint8_t* end = unit + _nEditUnitSize;
    const uint8_t* p = unit + _nPictureOffset;
    if (end - p < 16 || mxf::EssenceItemType(p) < 0)
        return kNoElementKey;
    uint64_t length = 0;
    uint32_t berSize = 0;
    // The element must lie inside its edit unit.
    if (!mxf::ParseBerLength(p + 16, end, &length, &berSize) || length > static_cast<uint64_t>(end - p - 16 - berSize))
        return kBadLength;
    if (sizeOut)
        *sizeOut = static_cast<uint32_t>(length);
    const uint8_t* value = p + 16 + berSize;
    if (!*buffer) {
        *buffer = const_cast<uint8_t*>(value);
    } else {
        if (size < length)
            return kBufferTooSmall;
        std::memcpy(*buffer, value, length);
    }
    if (secondsOut)
        *secondsOut = SecondsAt(position);
    return kDataOk;
}

int32_t CMXFOP1aPictureReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer)
        return kNoBuffer;
    const uint64_t position = Tell();
    if (CheckEnd(position) != 0 || !Ensure(_nEditUnitSize))
        return kNoMoreData;
    const int32_t result = TakePicture(position, buffer, size, sizeOut, secondsOut);
    if (result == kDataOk)
        Skip(_nEditUnitSize);
    return result;
}

int32_t CMXFOP1aPictureReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer)
        return kNoBuffer;
    const uint64_t position = Tell();
    if (position <= _nEssenceStart || position - _nEssenceStart < _nEditUnitSize)
        return kNoMoreData;
    const uint64_t previous = position - _nEditUnitSize;
    if (!LoadAt(previous, _nEditUnitSize, _nEssenceStart))
        return kNoMoreData;
    const int32_t result = TakePicture(previous, buffer, size, sizeOut, secondsOut);
    if (result != kDataOk)
        Seek(position);
    return result;
}

int32_t CMXFOP1aPictureReader::GoToFieldOffset(int64_t field)
{
    int64_t unit = 0;
    const int32_t result = FieldToEditUnit(field, false, &unit);
    if (result != 0)
        return result;
    return Seek(_nEssenceStart + static_cast<uint64_t>(unit) * _nEditUnitSize);
}

int32_t CMXFOP1aPictureReader::GetCurrentFieldInfo(uint32_t* rate, uint32_t* editUnitSize, uint8_t* aspect)
{
    if (rate)
        *rate = static_cast<uint32_t>(_dEditRate + 0.5);
    if (editUnitSize)
        *editUnitSize = _nEditUnitSize;
    if (aspect)
        mxf::AspectCode(_descriptor.data(), _descriptor.size(), aspect);
    return 0;
}

// --- CMXFOP1aSoundReader ---

int32_t CMXFOP1aSoundReader::Open(uint32_t flag)
{
    _nChannels = -1;
    _nBitsPerSample = 16;
    _nElements = 0;
    _nSelected = -2;
    int32_t result = CMXFOP1aReaderBase::Open(flag);
    if (result != 0)
        return result;
    if (!GrowBuffer(_nEditUnitSize) || !Ensure(_nEditUnitSize))
        return kNoMoreData;
    const uint8_t* unit = _pCursor;
    const uint8_t* end = _pCursor + _nEditUnitSize;
    auto isSound = [](int32_t type) { return type == 0x06 || type == 0x16; };
    auto record = [&](const uint8_t* p) {
        mxf::Klv klv;
        if (_nElements < kMaxElements && isSound(mxf::EssenceItemType(p)) && mxf::ParseKlv(p, end, &klv))
            _elements[_nElements++] = {static_cast<uint32_t>(p - unit), static_cast<uint32_t>(klv.nTotal)};
    };
    const CMXFPartition* header = HeaderPartition();
    for (const CMXFDeltaEntry& delta : header->deltas)
        if (delta.nElementDelta <= _nEditUnitSize - 17)
            record(unit + delta.nElementDelta);
    for (const uint8_t* p = unit; header->deltas.empty();) {
        mxf::Klv klv;
        if (!mxf::ParseKlv(p, end, &klv))
            break;
        record(p);
        p += klv.nTotal;
    }
    if (_nChannels <= 0)
        _nChannels = _nElements;
    if (_nChannels <= 0) {
        theLogManager.LogTo(_szLogName, "(CMXFOP1aSoundReader::Open) no sound element");
        return kNoSound;
    }
    if (_nElements == 0)
        return kNoSound;
    result = SelectAudioStream(-1);
    return result == -1 ? 0 : result;
}

int32_t CMXFOP1aSoundReader::OnSoundDescriptor(const uint8_t* value, uint64_t length)
{
    mxf::ForEachLocalTag(value, length, [&](uint16_t tag, const uint8_t* v, uint32_t size) {
        if (tag == 0x3D01 && size >= 1)
            _nBitsPerSample = v[size - 1];
        else if (tag == 0x3D07 && size >= 1)
            _nChannels = v[size - 1];
        return true;
    });
    return 0;
}

int32_t CMXFOP1aSoundReader::GetAudioChannels(int32_t* channels, int32_t max)
{
    for (int32_t i = 0; channels && i < max && i < _nElements; ++i)
        channels[i] = _nChannels;
    return _nElements;
}

int32_t CMXFOP1aSoundReader::SelectAudioStream(int32_t index)
{
    if (index == _nSelected)
        return index;
    if (index >= _nElements || index < -1 || _nElements == 0)
        return kBadStream;
    if (index == -1) {
        _nSelectedOffset = _elements[0].nOffset;
        _nReadSize = _nEditUnitSize - _nSelectedOffset;
    } else {
        _nSelectedOffset = _elements[index].nOffset;
        _nReadSize = _elements[index].nSize;
    }
    _nSelected = index;
    Seek(_nEssenceStart);
    return index;
}

int32_t CMXFOP1aSoundReader::TakeSound(uint64_t editUnit, uint8_t** buffer, uint32_t size, uint32_t* sizeOut,
                                       double* secondsOut)
{
    const uint8_t* p = _pCursor;
    const uint8_t* end = p + _nReadSize;
    const int32_t count = _nSelected == -1 ? _nElements : 1;
    uint64_t total = 0;
    // Every element is checked against the room before any is copied.
    int32_t result = mxf::WalkElements(p, end, count, 0, nullptr, &total);
    if (result != 0)
        return result;
    if (total > size) {
        if (sizeOut)
            *sizeOut = static_cast<uint32_t>(total);
        return kBufferTooSmall;
    }
    mxf::WalkElements(p, end, count, 0, *buffer, &total);
    if (sizeOut)
        *sizeOut = static_cast<uint32_t>(total);
    if (secondsOut)
        *secondsOut = SecondsAt(editUnit);
    return kDataOk;
}

int32_t CMXFOP1aSoundReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer || !*buffer)
        return kNoBuffer;
    const uint64_t unit = Tell();
    if (CheckEnd(unit) != 0 || !LoadAt(unit + _nSelectedOffset, _nReadSize))
        return kNoMoreData;
    const int32_t result = TakeSound(unit, buffer, size, sizeOut, secondsOut);
    Seek(result == kDataOk ? unit + _nEditUnitSize : unit);
    return result;
}

int32_t CMXFOP1aSoundReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer || !*buffer)
        return kNoBuffer;
    const uint64_t position = Tell();
    if (position <= _nEssenceStart || position - _nEssenceStart < _nEditUnitSize)
        return kNoMoreData;
    const uint64_t unit = position - _nEditUnitSize;
    if (!LoadAt(unit + _nSelectedOffset, _nReadSize, _nEssenceStart))
        return kNoMoreData;
    int32_t result = TakeSound(unit, buffer, size, sizeOut, secondsOut);
    // Going backwards, an unreadable key is the same failure whichever element it is.
    if (result == mxf::kWalkFirstUnreadable)
        result = kFurtherKeyUnreadable;
    Seek(result == kDataOk ? unit : position);
    return result;
}

int32_t CMXFOP1aSoundReader::GoToFieldOffset(int64_t field)
{
    int64_t unit = 0;
    const int32_t result = FieldToEditUnit(field, true, &unit);
    if (result != 0)
        return result;
    return Seek(_nEssenceStart + static_cast<uint64_t>(unit) * _nEditUnitSize);
}

int32_t CMXFOP1aSoundReader::GetCurrentFieldInfo(uint32_t* sampleRate, uint32_t* bits, uint8_t*)
{
    if (!sampleRate || !bits)
        return 1;
    *sampleRate = _nSampleRate;
    *bits = _nBitsPerSample;
    return 0;
}
