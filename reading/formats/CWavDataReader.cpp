#include "reading/formats/CWavDataReader.h"

#include <algorithm>
#include <cstring>

#include "common/CLogManager.h"

namespace
{

constexpr uint32_t kMaxBuffer = 64u << 20;
constexpr uint32_t kHalfSecond = 24000;  // frames in the buffer

uint16_t Le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Le32(const uint8_t* p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// WAVE_FORMAT_EXTENSIBLE names the coding by a GUID whose first two bytes are the plain format tag.
constexpr uint16_t kExtensible = 0xFFFE;
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// The plain tag of an extensible format's sub-format (at the GUID), 0xFFFF for a GUID of another family.
uint16_t SubFormatTag(const uint8_t* guid)
{
    return std::memcmp(guid + 2, kSubFormatTail, sizeof kSubFormatTail) == 0 ? Le16(guid) : 0xFFFF;
}

}  // namespace

CWavDataReader::CWavDataReader(const std::string& logName) : CFormatDataReader(kBufferSize, logName) {}

int32_t CWavDataReader::Open(uint32_t)
{
    _nFormatTag = 0xFFFF;
    _nFrameSize = 0;
    // The RIFF header is passed over as it stands.
    if (!Have(12) || Skip(12) != 0)
        return kNotPcm;
    bool hasData = false;
    uint32_t dataSize = 0;
    for (;;) {
        if (_nBytesLeft <= 12 && (FillBuffer() != 0 || _nBytesLeft <= 12))
            break;
        const uint8_t* p = _pCursor;
        const uint64_t chunk = 8 + uint64_t{Le32(p + 4)};
        if (std::memcmp(p, "fmt ", 4) == 0 && Have(24)) {
            p = _pCursor;
            _nFormatTag = Le16(p + 8);
            _nChannels = Le16(p + 10);
            _nSamplesPerSec = Le32(p + 12);
            _nBytesPerSec = Le32(p + 16);
            _nBlockAlign = Le16(p + 20);
            _nBitsPerSample = Le16(p + 22);
            if (_nFormatTag == kExtensible)
                _nFormatTag = Le32(p + 4) >= 40 && Have(48) ? SubFormatTag(_pCursor + 32) : 0xFFFF;
            Seek(Position() + chunk);
        } else if (std::memcmp(p, "PAD ", 4) == 0) {
            Seek(Position() + chunk);
        } else if (std::memcmp(p, "data", 4) == 0) {
            dataSize = Le32(p + 4);
            Skip(8);
            hasData = true;
            break;
        } else {
            Skip(1);
        }
    }
    if (!IsPcm()) {
        theLogManager.LogTo(_szLogName, "CWavDataReader::Open format tag 0x%04X is not PCM", _nFormatTag);
        return kNotPcm;
    }
    if (_nSamplesPerSec != kRate) {
        theLogManager.LogTo(_szLogName, "CWavDataReader::Open sample rate %u is not %u", _nSamplesPerSec, kRate);
        return kNot48k;
    }
    const uint64_t frameSize = uint64_t{_nBitsPerSample / 8u} * _nChannels;
    if (frameSize == 0 || frameSize * kHalfSecond > kMaxBuffer) {
        theLogManager.LogTo(_szLogName, "CWavDataReader::Open %u channels of %u bits cannot be read", _nChannels,
                            _nBitsPerSample);
        return kNotPcm;
    }
    if (!hasData) {
        theLogManager.LogTo(_szLogName, "CWavDataReader::Open no data chunk");
        return kNoData;
    }
    _nFrameSize = static_cast<uint32_t>(frameSize);
    _nDataStart = Position();
    _nDataEnd = std::max(SourceSize(), _nDataStart);
    // Chunks after the samples are not samples; sizes of 0 and all ones are left by writers that could not
    // go back to fill them in.
    if (dataSize != 0 && dataSize != UINT32_MAX && dataSize < _nDataEnd - _nDataStart)
        _nDataEnd = _nDataStart + dataSize;
    _nSampleCount = (_nDataEnd - _nDataStart) / _nFrameSize;
    ResizeBuffer(_nFrameSize * kHalfSecond);
    return 0;
}

uint32_t CWavDataReader::BlockSize(uint32_t size) const
{
    if (_nFrameSize == 0)
        return 0;
    return std::min(size, _nBufferSize) / _nFrameSize * _nFrameSize;
}

int32_t CWavDataReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer || !*buffer || !sizeOut || _nFrameSize == 0)
        return kNotSupported;
    const uint64_t position = Position();
    if (position >= _nDataEnd)
        return kNoMoreData;
    uint32_t block = BlockSize(size);
    if (block == 0) {
        *sizeOut = _nFrameSize;
        return kBufferTooSmall;
    }
    block = static_cast<uint32_t>(std::min<uint64_t>(block, (_nDataEnd - position) / _nFrameSize * _nFrameSize));
    if (_nBytesLeft < block) {
        FillBuffer();
        block = std::min(block, _nBytesLeft / _nFrameSize * _nFrameSize);
    }
    if (block == 0)
        return kNoMoreData;
    std::memcpy(*buffer, _pCursor, block);
    Skip(block);
    *sizeOut = block;
    if (secondsOut)
        *secondsOut = static_cast<double>(position - _nDataStart) / (_nFrameSize * double{kRate});
    return kDataOk;
}

int32_t CWavDataReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer || !*buffer || !sizeOut || _nFrameSize == 0)
        return kNotSupported;
    const uint64_t position = Position();
    if (position <= _nDataStart)
        return kNoMoreData;
    uint32_t block = BlockSize(size);
    if (block == 0) {
        *sizeOut = _nFrameSize;
        return kBufferTooSmall;
    }
    block = static_cast<uint32_t>(std::min<uint64_t>(block, (position - _nDataStart) / _nFrameSize * _nFrameSize));
    if (block == 0 || !StepBack(block, _nDataStart))
        return kNoMoreData;
    std::memcpy(*buffer, _pCursor, block);
    *sizeOut = block;
    if (secondsOut)
        *secondsOut = static_cast<double>(Position() - _nDataStart) / (_nFrameSize * double{kRate});
    return kDataOk;
}

int32_t CWavDataReader::GoToTime(double* seconds)
{
    if (!seconds || _nFrameSize == 0)
        return -1;
    const double t = *seconds > 0.0 ? *seconds : 0.0;
    // Whole frames only, and not beyond the data.
    const uint64_t frames = static_cast<uint64_t>(std::min(t * kRate, static_cast<double>(_nSampleCount)));
    return Seek(_nDataStart + frames * _nFrameSize);
}

int32_t CWavDataReader::GoToFieldOffset(int64_t field)
{
    double seconds = static_cast<double>(field) * 0.02;
    return GoToTime(&seconds);
}

int32_t CWavDataReader::GoToDataStart()
{
    return Seek(_nDataStart);
}

int32_t CWavDataReader::GoToDataEnd()
{
    return Seek(_nDataStart + uint64_t{_nFrameSize} * _nSampleCount);
}

int32_t CWavDataReader::GetInOut(int32_t* in, int32_t* out, int32_t* system)
{
    if (!IsPcm())
        return -1;
    if (in)
        *in = 0;
    if (system)
        *system = -1;
    if (out)
        *out = static_cast<int32_t>(_nSampleCount / 48);
    return 0;
}

int32_t CWavDataReader::GetAudioChannels(int32_t*, int32_t)
{
    return _nChannels;
}

int32_t CWavDataReader::GetCurrentFieldInfo(uint32_t* first, uint32_t* second, uint8_t*)
{
    if (!IsPcm())
        return -1;
    if (first)
        *first = _nSamplesPerSec;
    if (second)
        *second = _nBitsPerSample;
    return 0;
}
