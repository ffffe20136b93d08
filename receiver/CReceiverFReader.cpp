#include "receiver/CReceiverFReader.h"

#include <algorithm>
#include <cstring>

#include "common/CLogManager.h"

namespace
{
constexpr uint32_t kFillerMark = 0xFCFDFEFF;
constexpr uint32_t kFillerUnit = 128;
constexpr uint32_t kAudioHeaderBytes = 3;  // a byte, then the sample count
}  // namespace

CReceiverFReader::~CReceiverFReader()
{
    theLogManager.Log("ReceiverFReader destructor ...");
}

int CReceiverFReader::Open(const std::string&, int32_t, int32_t, int32_t, int32_t)
{
    return -1;
}

KorvoFrame* CReceiverFReader::GetTrackFrame(int32_t)
{
    return nullptr;
}

void CReceiverFReader::SetStartFrame(int32_t) {}

void CReceiverFReader::SetFirstField(uint32_t) {}

bool SkipFillerUnits(const uint8_t** data, int32_t* size)
{
    const uint8_t* p = *data;
    int64_t left = *size;
    while (left > 4 && (p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24) == kFillerMark) {
        const int64_t length = left < 8 ? 0 : int64_t{p[6] * 256 + p[7]} * kFillerUnit;
        if (length == 0 || length > left) {
            theLogManager.Log("SkipFillerUnits: damaged filler [ Len: %lld / Left: %lld ]",
                              static_cast<long long>(length), static_cast<long long>(left));
            return false;
        }
        p += length;
        left -= length;
    }
    *data = p;
    *size = static_cast<int32_t>(left);
    return true;
}

void ReleaseHeld(KorvoFrame*& held)
{
    if (held)
        TakeHeld(held)->Release();
}

bool CReceiverAudioTrack::Allocate(uint32_t bufferBytes, uint32_t bytesPerSample)
{
    _nBytesPerSample = bytesPerSample;
    _nCapacity = bufferBytes / bytesPerSample;
    _nSamples = 0;
    _pBuffer = platform::MakePageBuffer(bufferBytes);
    return _pBuffer != nullptr;
}

void CReceiverAudioTrack::Free()
{
    _pBuffer.reset();
    _nCapacity = 0;
    _nSamples = 0;
}

uint32_t CReceiverAudioTrack::AppendUnit(const uint8_t* unit, uint32_t unitBytes, bool swapped, uint32_t maxSamples)
{
    if (!_pBuffer || !unit || unitBytes < kAudioHeaderBytes)
        return 0;
    // In a swapped block byte b of the unit lies at the other end of its 32-bit word; only whole words exist.
    const uint32_t usable = swapped ? unitBytes & ~3u : unitBytes;
    auto at = [unit, swapped](uint32_t b) { return swapped ? unit[(b & ~3u) + 3 - (b & 3)] : unit[b]; };
    uint32_t count = uint32_t{at(1)} << 8 | at(2);
    if (count > maxSamples) {
        theLogManager.Log("Strange audio samples number !! [%li / Max. %li]", static_cast<long>(count),
                          static_cast<long>(maxSamples));
        count = maxSamples;
    }
    count = std::min(count, usable < kAudioHeaderBytes ? 0 : (usable - kAudioHeaderBytes) / 3);
    if (count > _nCapacity - _nSamples) {
        theLogManager.Log("CReceiverAudioTrack: samples beyond the track buffer dropped [ %u + %u / Max. %u ]",
                          _nSamples, count, _nCapacity);
        count = _nCapacity - _nSamples;
    }
    uint8_t* out = _pBuffer.get() + size_t{_nSamples} * _nBytesPerSample;
    for (uint32_t s = 0, b = kAudioHeaderBytes; s < count; ++s, b += 3) {
        const uint8_t msb = at(b), middle = at(b + 1), lsb = at(b + 2);
        if (_nBytesPerSample == 3)
            *out++ = lsb;
        *out++ = middle;
        *out++ = msb;
    }
    _nSamples += count;
    return count;
}

KorvoFrame* CReceiverAudioTrack::TakeFrame(uint32_t want, int32_t typeCode)
{
    if (!_pBuffer)
        return nullptr;
    want = std::min(want, _nCapacity);
    uint8_t* buffer = _pBuffer.get();
    const uint32_t bps = _nBytesPerSample;
    if (_nSamples < want) {
        const uint32_t shortfall = want - _nSamples;
        std::memmove(buffer + size_t{shortfall} * bps, buffer, size_t{_nSamples} * bps);
        for (uint32_t s = 0; s < shortfall; ++s) {
            if (_nSamples)
                std::memcpy(buffer + size_t{s} * bps, buffer + size_t{shortfall} * bps, bps);
            else
                std::memset(buffer + size_t{s} * bps, 0, bps);
        }
        _nSamples = want;
    }
    auto* frame = new KorvoFrame(buffer, want * bps, want, 0);
    if (!frame->GetData()) {
        frame->Release();
        frame = nullptr;
    } else {
        frame->SetTypeCode(typeCode);
    }
    _nSamples -= want;
    std::memmove(buffer, buffer + size_t{want} * bps, size_t{_nSamples} * bps);
    return frame;
}
