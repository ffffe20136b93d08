#include "reading/mxf/CMXFOPAtomReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/CLogManager.h"
#include "reading/framework/SourceReaderFactory.h"
#include "reading/mxf/MXFKlv.h"
#include "reading/mxf/MXFReaderOps.h"

// --- CMXFOPAtomReaderBase ---

int32_t CMXFOPAtomReaderBase::Open(uint32_t flag)
{
    _bGrowing = false;
    int32_t result = CMXFEssenceReader::Open(flag);
    if (result != 0)
        return result;
    uint8_t key[16];
    if (!ReadKey(key, &_nEssenceLength))
        return kKeyUnreadable;
    _nEssenceStart = Tell();
    if (_nReadUnit == 0)
        _nReadUnit = _nEditUnitSize;
    else if (_nEditUnitSize == 0)
        _nEditUnitSize = _nReadUnit;
    if (_nDuration <= 0)
        _bGrowing = true;
    return 0;
}

uint64_t CMXFOPAtomReaderBase::Limit() const
{
    const CMXFEssenceSegment* segment = _nSegment < _segments.size() ? &_segments[_nSegment] : &_segments.front();
    const uint64_t end = segment->pPartition->nEnd;
    // Fill after a finished element is no essence.
    if (!_bGrowing && _nEssenceLength <= end - std::min(end, _nEssenceStart))
        return _nEssenceStart + _nEssenceLength;
    return end;
}

int32_t CMXFOPAtomReaderBase::FollowGrowth(uint64_t position, bool plusOne)
{
    if (!_bGrowing || _segments.empty())
        return 0;
    const uint64_t limit = Limit();
    if (position < limit && limit - position >= _nEditUnitSize)
        return 0;
    const int64_t size = FileSize();
    CMXFPartition* partition = _segments.front().pPartition;
    if (size < 0 || static_cast<uint64_t>(size) == partition->nEnd || _nEditUnitSize == 0 || _nGroup == 0 ||
        static_cast<uint64_t>(size) < _nEssenceStart)
        return kNoMoreData;
    _nDuration = static_cast<int64_t>((static_cast<uint64_t>(size) - _nEssenceStart) / _nEditUnitSize / _nGroup) +
                 (plusOne ? 1 : 0);
    const uint64_t end = _nEssenceStart + static_cast<uint64_t>(_nDuration) * _nGroup * _nEditUnitSize;
    partition->nEnd = end;
    partition->nFooter = end;
    HeaderPartition()->nFooter = end;
    return 0;
}

int32_t CMXFOPAtomReaderBase::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer || _segments.empty() || _nReadUnit == 0)
        return !buffer ? kNoBuffer : kNoMoreData;
    const uint64_t position = Tell();
    if (FollowGrowth(position, true) != 0)
        return kNoMoreData;
    if (*buffer && size < _nReadUnit) {
        if (sizeOut)
            *sizeOut = _nReadUnit;
        return kBufferTooSmall;
    }
    const uint64_t limit = Limit();
    if (position >= limit || limit - position < _nReadUnit)
        return kNoMoreData;
    if (_nBytesLeft < _nReadUnit && !Ensure(_nReadUnit))
        return kNoMoreData;
    const uint32_t count = std::min(_nReadUnit, _nBytesLeft);
    if (count == 0)
        return kNoMoreData;
    if (!*buffer)
        *buffer = _pCursor;
    else
        std::memcpy(*buffer, _pCursor, count);
    Skip(count);
    if (sizeOut)
        *sizeOut = count;
    if (secondsOut)
        *secondsOut = PositionToTime(position);
    return kDataOk;
}

int32_t CMXFOPAtomReaderBase::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer || _segments.empty() || _nReadUnit == 0)
        return !buffer ? kNoBuffer : kNoMoreData;
    const uint64_t position = Tell();
    if (FollowGrowth(position, false) != 0)
        return kNoMoreData;
    if (*buffer && size < _nReadUnit) {
        if (sizeOut)
            *sizeOut = _nReadUnit;
        return kBufferTooSmall;
    }
    if (position > Limit())
        return kNoMoreData;
    uint64_t previous = 0;
    if (!DeliverBefore(position, _nEssenceStart, _nReadUnit, buffer, sizeOut, &previous))
        return kNoMoreData;
    if (secondsOut)
        *secondsOut = PositionToTime(previous);
    return kDataOk;
}

int32_t CMXFOPAtomReaderBase::GoToDataStart()
{
    const int32_t result = CMXFEssenceReader::GoToDataStart();
    if (result != 0)
        return result;
    uint8_t key[16];
    if (!ReadKey(key, &_nEssenceLength))
        return kKeyUnreadable;
    return 0;
}

int32_t CMXFOPAtomReaderBase::GoToDataEnd()
{
    if (_segments.empty() || _nReadUnit == 0)
        return -1;
    _nSegment = 0;
    CMXFPartition* partition = _segments.front().pPartition;
    const int64_t size = FileSize();
    if (_bGrowing && _nEditUnitSize != 0 && size >= 0 && static_cast<uint64_t>(size) >= _nEssenceStart) {
        _nDuration = static_cast<int64_t>((static_cast<uint64_t>(size) - _nEssenceStart) / _nEditUnitSize);
        partition->nEnd = _nEssenceStart + static_cast<uint64_t>(_nDuration) * _nEditUnitSize;
    }
    const uint64_t end = std::max(Limit(), _nEssenceStart);
    return Seek(end - (end - _nEssenceStart) % _nReadUnit);
}

double CMXFOPAtomReaderBase::PositionToTime(uint64_t)
{
    return -1.0;
}

// --- CMXFOPAtomVideoReader ---

int32_t CMXFOPAtomVideoReader::Open(uint32_t flag)
{
    _descriptor.clear();
    _nReadUnit = 0;
    int32_t result = CMXFOPAtomReaderBase::Open(flag);
    if (result != 0)
        return result;
    if (_nReadUnit == 0)
        _nReadUnit = _nEditUnitSize;
    if (_nReadUnit == 0 || _nReadUnit > kMaxMetadataBytes / 4) {
        theLogManager.LogTo(_szLogName, "(CMXFOPAtomVideoReader::Open) no usable frame size (%u)", _nReadUnit);
        return kNoMoreData;
    }
    if (_nDuration <= 0) {
        const int64_t size = FileSize();
        _nDuration = size > 0 && static_cast<uint64_t>(size) > _nEssenceStart
                         ? static_cast<int64_t>((static_cast<uint64_t>(size) - _nEssenceStart) / _nReadUnit)
                         : 0;
        _bGrowing = true;
    }
    if (!GrowBuffer(uint64_t{4} * _nReadUnit))
        return kNoMoreData;
    return 0;
}

int32_t CMXFOPAtomVideoReader::OnPictureDescriptor(const uint8_t* value, uint64_t length)
{
    _descriptor.assign(value, value + length);
    static const uint8_t kUnitPattern[12] = {0x80, 0x03, 0x00, 0x01, 0x85, 0xFF, 0xFE, 0x00, 0x04, 0x00, 0x00, 0x00};
    static const uint8_t kReadUnitTag[4] = {0xFF, 0xDB, 0x00, 0x04};
    CMXFPartition* header = HeaderPartition();
    for (uint64_t i = 0; i < length; ++i) {
        if (header->nEditUnitByteCount == 0 && length - i >= 21 && mxf::Matches(value + i, kUnitPattern, 12))
            header->nEditUnitByteCount = mxf::Be32(value + i + 17);
        if (_nReadUnit == 0 && length - i >= 8 && mxf::Matches(value + i, kReadUnitTag, 4))
            _nReadUnit = mxf::Be32(value + i + 4);
    }
    return 0;
}

bool CMXFOPAtomVideoReader::GetVideoInfo(VideoInfo* info)
{
    if (_descriptor.empty())
        return false;
    return ParsePictureDescriptor(_descriptor.data(), _descriptor.size(), _nTcSystem, info);
}

int32_t CMXFOPAtomVideoReader::GoToFieldOffset(int64_t field)
{
    if (field < 0)
        return kBeyondEnd;
    const int64_t unit = _nFieldsPerEditUnit == 2 ? field / 2 : field;
    // The end position itself is allowed, nothing beyond it.
    if (unit > _nDuration)
        return kBeyondEnd;
    return Seek(_nEssenceStart + static_cast<uint64_t>(unit) * _nReadUnit);
}

int32_t CMXFOPAtomVideoReader::GoToTime(double* seconds)
{
    return mxf::GoToEvenFieldTime(*this, seconds, _dFieldRate);
}

int32_t CMXFOPAtomVideoReader::GetInOut(int32_t* in, int32_t* out, int32_t* system)
{
    const int64_t size = FileSize();
    if (_bGrowing && size >= 0 && static_cast<uint64_t>(size) >= _nEssenceStart)
        _nDuration = static_cast<int64_t>((static_cast<uint64_t>(size) - _nEssenceStart) / _nReadUnit);
    return CMXFEssenceReader::GetInOut(in, out, system);
}

double CMXFOPAtomVideoReader::PositionToTime(uint64_t position)
{
    return mxf::UnitPositionToTime(position, _nEssenceStart, _nReadUnit, _nFieldsPerEditUnit, _dFieldRate);
}

// --- CMXFOPAtomAudioReader ---

std::vector<std::string> CMXFOPAtomAudioReader::FindSoundFiles(const std::string& picture, const std::string& logName)
{
    struct Row {
        const char* szToken;
        const char* szFirst;  // the first sound name; the others count up from it
        bool bLetters;
    };
    static const Row kRows[] = {{"V01", "A", false}, {"v01", "a", false}, {"V1", "A", false},
                                {"v1", "a", false},  {"V", "A", true},    {"v", "a", true}};
    auto soundName = [](const Row& row, int i) {
        if (row.bLetters)
            return std::string(1, static_cast<char>(row.szFirst[0] + i));
        char text[8];
        std::snprintf(text, sizeof text, std::strlen(row.szToken) == 3 ? "%s%02d" : "%s%d", row.szFirst, i + 1);
        return std::string(text);
    };
    for (const Row& row : kRows) {
        const std::string token = row.szToken;
        for (size_t at = picture.rfind(token); at != std::string::npos;
             at = at ? picture.rfind(token, at - 1) : std::string::npos) {
            std::vector<std::string> found;
            for (int i = 0; i < kMaxFiles; ++i) {
                std::string name = picture;
                name.replace(at, token.size(), soundName(row, i));
                if (!CreateSourceReader(name.c_str(), 0, 0, logName))
                    break;
                found.push_back(name);
            }
            if (!found.empty())
                return found;
            if (at == 0)
                break;
        }
    }
    return {};
}

int32_t CMXFOPAtomAudioReader::Open(uint32_t flag)
{
    _children.clear();
    _files.clear();
    _nBitsPerSample = 0;
    _nChannels = 0;
    _nPatternCursor = 0;
    int32_t result = CMXFOPAtomReaderBase::Open(flag);
    if (result != 0)
        return result;
    const int64_t whole = static_cast<int64_t>(_dEditRate);
    _nFieldMultiplier = whole == 50 || whole == 59 || whole == 60 ? 1 : 2;
    if (_dEditRate == 25.0 || _dEditRate == 50.0)
        _pattern = {960};
    else
        _pattern = {801, 801, 801, 801, 800};
    _nGroup = _pattern.back() * _nFieldMultiplier;
    if (_nStart > 0)
        _nStart /= _nFieldsPerEditUnit == 1 ? _nGroup * 2 : _nGroup;

    std::string name;
    _pSource->GetName(name);
    _nMode = _detect ? _detect(name.c_str()) : Unknown_File;
    if (_nMode == OPAtomAudio_File) {
        _nChannels = 1;
        if (_nReadUnit == 0 || _nReadUnit > _nBitsPerSample) {
            _nReadUnit = _nBitsPerSample / 8;
            _nEditUnitSize = _nReadUnit;
        }
        if (_nReadUnit == 0) {
            theLogManager.LogTo(_szLogName, "(CMXFOPAtomAudioReader::Open) no sample size in %s", name.c_str());
            return kNoSound;
        }
        if (_nDuration <= 0) {
            const int64_t size = FileSize();
            _nDuration =
                size > 0 && static_cast<uint64_t>(size) > _nEssenceStart
                    ? static_cast<int64_t>((static_cast<uint64_t>(size) - _nEssenceStart) / _nReadUnit / _nGroup)
                    : 0;
            _bGrowing = true;
        }
        _dDurationSeconds = static_cast<double>(_nDuration) / _dEditRate;
        return 0;
    }
    _files = FindSoundFiles(name, _szLogName);
    if (_files.empty()) {
        theLogManager.LogTo(_szLogName, "(CMXFOPAtomAudioReader::Open) no sound file beside %s", name.c_str());
        return kNoSoundFile;
    }
    for (const std::string& file : _files) {
        auto child = std::make_unique<CMXFOPAtomAudioReader>(_szLogName, _detect);
        result = child->ReopenSource(file.c_str(), flag);
        if (result != 0)
            return result;
        _children.push_back(std::move(child));
    }
    _nChannels = static_cast<int32_t>(_children.size());
    _nBitsPerSample = _children.front()->_nBitsPerSample;
    return 0;
}

int32_t CMXFOPAtomAudioReader::OnSoundDescriptor(const uint8_t* value, uint64_t length)
{
    mxf::ForEachLocalTag(value, length, [&](uint16_t tag, const uint8_t* v, uint32_t size) {
        if (tag == 0x3D01 && size >= 1)
            _nBitsPerSample = v[size - 1];
        return true;
    });
    return 0;
}

int32_t CMXFOPAtomAudioReader::GetAudioChannels(int32_t* channels, int32_t max)
{
    for (int32_t i = 0; channels && i < max; ++i)
        channels[i] = 1;
    return _nChannels;
}

template <typename Op>
int32_t CMXFOPAtomAudioReader::ForEachChild(Op op)
{
    for (auto& child : _children) {
        const int32_t result = op(*child);
        if (result != 0)
            return result;
    }
    return 0;
}

int32_t CMXFOPAtomAudioReader::ReadWithChildren(bool forwards, uint8_t** buffer, uint32_t size, uint32_t* sizeOut,
                                                double* secondsOut)
{
    if (!buffer || !*buffer)
        return kNoBuffer;
    const uint32_t samples = _pattern[_nPatternCursor];
    const uint32_t bytes = BytesPerSample();
    const uint64_t total = uint64_t{samples} * bytes * _children.size();
    if (total > size) {
        if (sizeOut)
            *sizeOut = static_cast<uint32_t>(total);
        return kBufferTooSmall;
    }
    double seconds = 0;
    for (size_t c = 0; c < _children.size(); ++c) {
        uint8_t* block = *buffer + c * samples * bytes;
        for (uint32_t s = 0; s < samples; ++s) {
            // Going backwards the samples come last first; each goes to its place in file order.
            uint8_t* p = block + (forwards ? s : samples - 1 - s) * bytes;
            uint32_t got = 0;
            double* at = c == 0 && (forwards ? s == 0 : s == samples - 1) ? &seconds : nullptr;
            const int32_t result = forwards ? _children[c]->GetNextData(&p, bytes, &got, at)
                                            : _children[c]->GetPrevData(&p, bytes, &got, at);
            if (result != 0)
                return result;
        }
    }
    if (forwards)
        _nPatternCursor = (_nPatternCursor + 1) % _pattern.size();
    else
        _nPatternCursor = _nPatternCursor == 0 ? _pattern.size() - 1 : _nPatternCursor - 1;
    if (sizeOut)
        *sizeOut = static_cast<uint32_t>(total);
    if (secondsOut)
        *secondsOut = seconds;
    return kDataOk;
}

int32_t CMXFOPAtomAudioReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (_children.empty())
        return CMXFOPAtomReaderBase::GetNextData(buffer, size, sizeOut, secondsOut);
    return ReadWithChildren(true, buffer, size, sizeOut, secondsOut);
}

int32_t CMXFOPAtomAudioReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (_children.empty())
        return CMXFOPAtomReaderBase::GetPrevData(buffer, size, sizeOut, secondsOut);
    return ReadWithChildren(false, buffer, size, sizeOut, secondsOut);
}

int32_t CMXFOPAtomAudioReader::GoToFieldOffset(int64_t field)
{
    if (!_children.empty())
        return ForEachChild([&](CMXFOPAtomAudioReader& child) { return child.GoToFieldOffset(field); });
    double seconds = static_cast<double>(field) / _dFieldRate;
    return GoToTime(&seconds);
}

int32_t CMXFOPAtomAudioReader::GoToTime(double* seconds)
{
    if (!seconds)
        return kBeyondEnd;
    if (!_children.empty())
        return ForEachChild([&](CMXFOPAtomAudioReader& child) {
            double s = *seconds;
            return child.GoToTime(&s);
        });
    if (*seconds > _dDurationSeconds)
        return kBeyondEnd;
    const double time = mxf::NonNegativeSeconds(*seconds);
    return Seek(_nEssenceStart + static_cast<uint64_t>(std::trunc(time * 48000.0)) * BytesPerSample());
}

int32_t CMXFOPAtomAudioReader::GetInOut(int32_t* in, int32_t* out, int32_t* system)
{
    if (!_children.empty())
        return _children.front()->GetInOut(in, out, system);
    if (!system)
        return 1;
    const int64_t size = FileSize();
    if (_bGrowing && _nEditUnitSize != 0 && size >= 0 && static_cast<uint64_t>(size) >= _nEssenceStart) {
        _nDuration = static_cast<int64_t>((static_cast<uint64_t>(size) - _nEssenceStart) / _nEditUnitSize / _nGroup);
        _dDurationSeconds = static_cast<double>(_nDuration) / _dEditRate;
    }
    if (_nTcSystem != 0) {
        *system = _nTcSystem;
        if (in)
            *in = static_cast<int32_t>(_nStart * _nFieldsPerEditUnit);
        if (out)
            *out = static_cast<int32_t>((_nStart + _nDuration) * _nFieldsPerEditUnit);
    } else {
        *system = -1;
        if (in)
            *in = mxf::RoundedMilliseconds(_nStart, _dEditRate);
        if (out)
            *out = mxf::RoundedMilliseconds(_nStart + _nDuration, _dEditRate);
    }
    return 0;
}

int32_t CMXFOPAtomAudioReader::GetExtendedInfo(double fieldRate)
{
    mxf::SetSoundFieldRate(fieldRate, _nDuration, &_nFieldsPerEditUnit, &_dEditRate, &_dDurationSeconds);
    for (auto& child : _children)
        child->GetExtendedInfo(fieldRate);
    return 0;
}

int32_t CMXFOPAtomAudioReader::GetCurrentFieldInfo(uint32_t* first, uint32_t* bits, uint8_t*)
{
    if (!first || !bits)
        return 1;
    *first = _children.empty() ? 1920 : 1;
    *bits = _children.empty() ? _nBitsPerSample : _children.front()->_nBitsPerSample;
    return 0;
}

int32_t CMXFOPAtomAudioReader::GoToDataStart()
{
    _nPatternCursor = 0;
    if (!_children.empty())
        return ForEachChild([](CMXFOPAtomAudioReader& child) { return child.GoToDataStart(); });
    return CMXFOPAtomReaderBase::GoToDataStart();
}

int32_t CMXFOPAtomAudioReader::GoToDataEnd()
{
    if (!_children.empty())
        return ForEachChild([](CMXFOPAtomAudioReader& child) { return child.GoToDataEnd(); });
    return CMXFOPAtomReaderBase::GoToDataEnd();
}

double CMXFOPAtomAudioReader::PositionToTime(uint64_t position)
{
    if (!_children.empty())
        return _children.front()->PositionToTime(position);
    if (BytesPerSample() == 0 || position < _nEssenceStart)
        return 0.0;
    return static_cast<double>(position - _nEssenceStart) / (BytesPerSample() * 48000.0);
}
