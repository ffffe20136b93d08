#include "reading/formats/CSdiDataReader.h"

#include <algorithm>
#include <cstring>

#include "common/CLogManager.h"

namespace
{

constexpr uint32_t kAudioNumber = 62;  // field audio number, unsigned 16-bit little-endian
constexpr uint32_t kAudioBlocks = 64;
constexpr uint32_t kAudioBlockSize = 2928;
constexpr uint32_t kAudioEnd = kAudioBlocks + 4 * kAudioBlockSize;

uint32_t Le16(const uint8_t* p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8;
}

}  // namespace

CSdiDataReader::CSdiDataReader(const std::string& logName) : CFormatDataReader(kInitialBufferSize, logName) {}

int32_t CSdiDataReader::Open(uint32_t)
{
    if (!_pSource || !_pSource->IsOpen())
        return -1;
    _nKnownLength = SourceSize();
    _nFieldCount = _nKnownLength / kFieldSize;
    _nInPoint = 0;
    // The first read starts on the first frame, where positioning counts from.
    if (ResizeBuffer(kBufferedFrames * kFrameSize) != 0) {
        theLogManager.LogTo(_szLogName, "CSdiDataReader::Open no buffer of %u frames", kBufferedFrames);
        return -1;
    }
    return FillBuffer() < 0 ? -1 : 0;
}

double CSdiDataReader::SecondsAt(uint64_t position) const
{
    return static_cast<double>(position * 2 / kFrameSize) / _dFieldRate;
}

uint32_t CSdiDataReader::FrameBytesHere()
{
    const uint64_t position = Position();
    if (position >= _nKnownLength)
        return 0;
    const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(kFrameSize, _nKnownLength - position));
    if (_nBytesLeft < wanted)
        FillBuffer();
    return std::min(_nBytesLeft, wanted);
}

int32_t CSdiDataReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer)
        return kNoBuffer;
    if (size < kFrameSize) {
        if (sizeOut)
            *sizeOut = kFrameSize;
        return kBufferTooSmall;
    }
    const uint64_t position = Position();
    const uint32_t n = FrameBytesHere();
    if (n == 0)
        return kNoMoreData;
    if (*buffer)
        std::memcpy(*buffer, _pCursor, n);
    else
        *buffer = _pCursor;
    Skip(n);
    if (sizeOut)
        *sizeOut = n;
    if (secondsOut)
        *secondsOut = SecondsAt(position);
    return kDataOk;
}

int32_t CSdiDataReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer)
        return kNoBuffer;
    if (size < kFrameSize) {
        if (sizeOut)
            *sizeOut = kFrameSize;
        return kBufferTooSmall;
    }
    if (Position() < kFrameSize || !StepBack(kFrameSize, 0))
        return kNoMoreData;
    if (*buffer)
        std::memcpy(*buffer, _pCursor, kFrameSize);
    else
        *buffer = _pCursor;
    if (sizeOut)
        *sizeOut = kFrameSize;
    if (secondsOut)
        *secondsOut = SecondsAt(Position());
    return kDataOk;
}

int32_t CSdiDataReader::GoToFieldOffset(int64_t field)
{
    if (field < 0 || static_cast<uint64_t>(field) > _nFieldCount)
        return 1;
    Seek(static_cast<uint64_t>(field / 2) * kFrameSize);
    return 0;
}

int32_t CSdiDataReader::GoToTime(double* seconds)
{
    if (!seconds)
        return -1;
    if (!(*seconds > 0.0))
        *seconds = 0.0;
    const int64_t field = static_cast<int64_t>(std::min(_dFieldRate * *seconds + 0.5, 9.0e15)) & ~int64_t{1};
    *seconds = static_cast<double>(field) / _dFieldRate;
    return GoToFieldOffset(field);
}

int32_t CSdiDataReader::GetInOut(int32_t* in, int32_t* out, int32_t* system)
{
    if (!in || !out || !system)
        return -1;
    *in = static_cast<int32_t>(_nInPoint);
    *out = static_cast<int32_t>(_nFieldCount + _nInPoint);
    *system = _dFieldRate == 50.0 ? 3 : 4;
    return 0;
}

int32_t CSdiDataReader::GoToDataStart()
{
    return Seek(0);
}

int32_t CSdiDataReader::GoToDataEnd()
{
    const uint64_t length = SourceSize();
    return Seek(length - length % kFrameSize);
}

void CSdiAudioDataReader::BuildRecord(uint8_t* record) const
{
    const uint8_t* fields[2] = {_pCursor, _pCursor + kFieldSize};
    const uint32_t sum = Le16(fields[0] + kAudioNumber) + Le16(fields[1] + kAudioNumber);
    for (int i = 0; i < 4; ++i)
        record[i] = static_cast<uint8_t>(sum >> (8 * i));
    uint8_t* out = record + 4;
    for (uint32_t block = 0; block < 4; ++block)
        for (const uint8_t* field : fields) {
            std::memcpy(out, field + kAudioBlocks + block * kAudioBlockSize, kAudioBlockSize);
            out += kAudioBlockSize;
        }
}

int32_t CSdiAudioDataReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (size < kRecordSize) {
        if (sizeOut)
            *sizeOut = kRecordSize;
        return kBufferTooSmall;
    }
    if (!buffer || !*buffer)
        return kNoBuffer;
    const uint64_t position = Position();
    const uint32_t n = FrameBytesHere();
    // A frame cut before the second field's audio has no record.
    if (n < kFieldSize + kAudioEnd)
        return kNoMoreData;
    BuildRecord(*buffer);
    Skip(n);
    if (sizeOut)
        *sizeOut = kRecordSize;
    if (secondsOut)
        *secondsOut = SecondsAt(position);
    return kDataOk;
}

int32_t CSdiAudioDataReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (size < kRecordSize) {
        if (sizeOut)
            *sizeOut = kRecordSize;
        return kBufferTooSmall;
    }
    if (!buffer || !*buffer)
        return kNoBuffer;
    if (Position() < kFrameSize || !StepBack(kFrameSize, 0))
        return kNoMoreData;
    BuildRecord(*buffer);
    if (sizeOut)
        *sizeOut = kRecordSize;
    if (secondsOut)
        *secondsOut = SecondsAt(Position());
    return kDataOk;
}
