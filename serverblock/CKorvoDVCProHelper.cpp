#include "serverblock/CKorvoDVCProHelper.h"

#include <cstring>

namespace
{

constexpr uint32_t kRunBytes = 15 * CKorvoDVCProHelper::kDifBlockSize;  // 15 video blocks after each audio block
constexpr uint32_t kRunsPerSequence = 9;
constexpr uint32_t kPackedSequence = dvcpro::kPackedSequenceSize;
static_assert(kPackedSequence == kRunsPerSequence * kRunBytes);
constexpr uint32_t kFirstRun = 7 * CKorvoDVCProHelper::kDifBlockSize;
constexpr uint32_t kRunStride = 16 * CKorvoDVCProHelper::kDifBlockSize;

// Places in a DIF frame.
constexpr uint32_t kIdByte = 1;
constexpr uint32_t kSystemByte = dvcpro::kSystemByte;
constexpr uint32_t kStreamTypeByte = dvcpro::kStreamTypeByte;
constexpr uint32_t kAspectByte = dvcpro::kAspectByte;
constexpr uint32_t kFrameHeaderBytes = kAspectByte + 1;

constexpr uint8_t kFirstPairBit = 0x04;
constexpr uint8_t kStreamTypeHD = dvcpro::kStreamType1080;
constexpr uint8_t kStreamTypePair = dvcpro::kStreamType720;

// The packed sizes of the layouts, by kept sequences: kind 4 keeps 12 + 3 x 11, kind 5 4 x 10, kind 6 and the
// 60 Hz kind 3 2 x 10, the 50 Hz kind 3 2 x 12.
constexpr uint32_t kPacked4 = 45 * kPackedSequence;   // 486000
constexpr uint32_t kPacked5 = 40 * kPackedSequence;   // 432000
constexpr uint32_t kPacked20 = 20 * kPackedSequence;  // 216000
constexpr uint32_t kPacked24 = 24 * kPackedSequence;  // 259200

uint32_t RoundUp256(uint32_t size)
{
    return (size + 255) & ~255u;
}

uint32_t RunOffset(uint32_t run)
{
    return kFirstRun + run * kRunStride;
}

}  // namespace

CKorvoDVCProHelper::CKorvoDVCProHelper(int32_t systemCode, int32_t aspectCode)
    : _nSystem(systemCode), _nAspect(aspectCode)
{
}

bool CKorvoDVCProHelper::SetLayout(uint32_t streamKind, bool fiftyHz)
{
    _nStreamKind = streamKind;
    _nSequences = dvcpro::Sequences(fiftyHz);
    _nChannels = streamKind == 3 ? 2 : 4;
    for (uint32_t c = 0; c < 4; ++c)
        _nKept[c] = c < _nChannels ? _nSequences : 0;
    if (streamKind == 4) {
        _nKept[1] = _nKept[2] = _nKept[3] = 11;
    } else if (streamKind == 6) {
        for (uint32_t c = 0; c < 4; ++c)
            _nKept[c] = 10;
    }
    _nPackedSize = 0;
    for (uint32_t c = 0; c < FrameChannels(); ++c)
        _nPackedSize += _nKept[c] * kPackedSequence;
    _nDifSize = FrameBytes();
    return true;
}

bool CKorvoDVCProHelper::CheckSequences(const uint8_t* frame, uint32_t channels) const
{
    for (uint32_t c = 0; c < channels; ++c) {
        for (uint32_t s = 0; s < _nKept[c]; ++s) {
            const uint8_t* sequence = frame + (c * _nSequences + s) * kDifSequenceSize;
            for (uint32_t b = 1; b < kDifSequenceSize / kDifBlockSize; ++b) {
                if (sequence[b * kDifBlockSize + kIdByte] != sequence[kIdByte])
                    return false;
            }
        }
    }
    return true;
}

bool CKorvoDVCProHelper::InitFromDVCProFrame(const uint8_t* frame, uint32_t size, int32_t systemOverride)
{
    _nStreamKind = 0;
    if (!frame || size < kFrameHeaderBytes)
        return false;
    const bool fiftyHz =
        systemOverride != kNone ? (systemOverride == 3 || systemOverride == 6) : (frame[kSystemByte] & 0x80) != 0;
    const uint8_t streamType = frame[kStreamTypeByte] & 0x1F;
    const uint32_t kind = streamType == kStreamTypeHD ? (fiftyHz ? 4 : 5) : streamType == kStreamTypePair ? 6 : 3;
    SetLayout(kind, fiftyHz);
    // Every layout is checked against the bytes given, the 2-channel kind too.
    if (size < FrameBytes() || !CheckSequences(frame, FrameChannels())) {
        _nStreamKind = 0;
        return false;
    }
    _nSystem = (fiftyHz ? 3 : 4) + (kind == 6 ? 3 : 0);
    _nAspect = (frame[kAspectByte] & 0x02) ? 3 : 2;
    _pBuffer = platform::MakePageBuffer(RoundUp256(_nPackedSize));
    _nBufferSize = _pBuffer ? RoundUp256(_nPackedSize) : 0;
    _bBufferIsTemplate = false;
    if (!_pBuffer) {
        _nStreamKind = 0;
        return false;
    }
    return true;
}

bool CKorvoDVCProHelper::PackFrame(const uint8_t* frame, uint32_t size, uint8_t* destination, uint32_t* packedSize)
{
    if (_nStreamKind == 0 && !InitFromDVCProFrame(frame, size))
        return false;
    if (!frame || !destination || size < FrameBytes())
        return false;
    if (_nStreamKind == 6)
        _bSecondPair = !(frame[kIdByte] & kFirstPairBit);
    uint8_t* out = destination;
    for (uint32_t c = 0; c < FrameChannels(); ++c) {
        for (uint32_t s = 0; s < _nKept[c]; ++s) {
            const uint8_t* sequence = frame + (c * _nSequences + s) * kDifSequenceSize;
            for (uint32_t r = 0; r < kRunsPerSequence; ++r, out += kRunBytes)
                std::memcpy(out, sequence + RunOffset(r), kRunBytes);
        }
    }
    if (packedSize)
        *packedSize = _nPackedSize;
    return true;
}

bool CKorvoDVCProHelper::ConvertFromDVCPro(const uint8_t* frame, uint32_t size)
{
    if (_nStreamKind == 0 && !InitFromDVCProFrame(frame, size))
        return false;
    if (_bBufferIsTemplate || _nBufferSize < _nPackedSize) {
        _pBuffer = platform::MakePageBuffer(RoundUp256(_nPackedSize));
        _nBufferSize = _pBuffer ? RoundUp256(_nPackedSize) : 0;
        _bBufferIsTemplate = false;
        if (!_pBuffer)
            return false;
    }
    return PackFrame(frame, size, _pBuffer.get(), nullptr);
}

const uint8_t* CKorvoDVCProHelper::GetPackedFrame(uint32_t* size) const
{
    if (size)
        *size = _bBufferIsTemplate ? 0 : _nPackedSize;
    return _bBufferIsTemplate ? nullptr : _pBuffer.get();
}

bool CKorvoDVCProHelper::InitFromPackedFrame(const uint8_t*, uint32_t size, int32_t systemOverride,
                                             int32_t aspectOverride)
{
    _nStreamKind = 0;
    const int32_t system = systemOverride != kNone ? systemOverride : _nSystem;
    if (aspectOverride != kNone)
        _nAspect = aspectOverride;
    if (size >= kPacked4) {
        SetLayout(4, true);
        _nSystem = 3;
    } else if (size >= kPacked5) {
        SetLayout(5, false);
        _nSystem = 4;
    } else if ((system == 6 || system == 7) && size >= kPacked20) {
        SetLayout(6, system == 6);
        _nSystem = system;
    } else if (system == 3 && size >= kPacked24) {
        SetLayout(3, true);
        _nSystem = 3;
    } else if ((system == 4 || system == 5) && size >= kPacked20) {
        SetLayout(3, false);
        _nSystem = system;
    } else {
        return false;
    }
    if (!BuildBlankDIFFrame()) {
        _nStreamKind = 0;
        return false;
    }
    _bSecondPair = false;
    return true;
}

bool CKorvoDVCProHelper::BuildBlankDIFFrame()
{
    if (_nStreamKind == 0)
        return false;
    const uint32_t total = _nChannels * _nSequences * kDifSequenceSize;
    _pBuffer = platform::MakePageBuffer(total);
    _nBufferSize = _pBuffer ? total : 0;
    _bBufferIsTemplate = true;
    if (!_pBuffer)
        return false;
    uint8_t* frame = _pBuffer.get();
    std::memset(frame, 0xFF, total);
    _nDifSize = _nStreamKind == 6 ? total / 2 : total;

    const bool fiftyHz = _nSystem == 3 || _nSystem == 6;
    uint8_t videoType;
    switch (_nStreamKind) {
        case 4:
            videoType = 0xF4;
            break;
        case 5:
            videoType = 0xD4;
            break;
        case 6:
            videoType = fiftyHz ? 0xF8 : 0xD8;
            break;
        default:
            videoType = fiftyHz ? 0xE4 : 0xC4;
    }
    const uint8_t aspect = _nStreamKind == 3 && _nAspect == 2 ? 0xC8 : 0xCA;
    const uint8_t audioType = static_cast<uint8_t>((_nStreamKind == 3 ? 0xC2 : 0xC3) + (fiftyHz ? 0x20 : 0));
    const uint8_t videoPack[10] = {0x60, 0xFF, 0xFF, videoType, 0x7F, 0x61, 0x3F, aspect, 0xFC, 0xFF};
    const uint8_t audioPacks[2][5] = {{0x50, 0x58, 0x1F, audioType, 0xC0}, {0x51, 0x3C, 0xCF, 0xF8, 0xFF}};

    for (uint32_t c = 0; c < _nChannels; ++c) {
        for (uint32_t s = 0; s < _nSequences; ++s) {
            uint8_t* sequence = frame + (c * _nSequences + s) * kDifSequenceSize;
            const uint8_t id = static_cast<uint8_t>((s << 4) + (c % 2 ? 8 : 0) + (c < 2 ? 7 : 3));
            auto block = [&](uint32_t n) { return sequence + n * kDifBlockSize; };
            const uint8_t header[8] = {0x1F, id,   0x00, static_cast<uint8_t>(_nSequences == 12 ? 0xBF : 0x3F),
                                       0xF9, 0xF9, 0x79, 0xF9};
            std::memcpy(block(0), header, sizeof header);
            for (uint8_t i = 0; i < 2; ++i) {
                const uint8_t subcode[3] = {0x3F, id, i};
                std::memcpy(block(1 + i), subcode, 3);
            }
            for (uint8_t i = 0; i < 3; ++i) {
                const uint8_t vaux[3] = {0x5F, id, i};
                std::memcpy(block(3 + i), vaux, 3);
            }
            const bool odd = s % 2;
            std::memcpy(odd ? block(3) + 3 : block(5) + 48, videoPack, sizeof videoPack);
            for (uint8_t a = 0; a < kRunsPerSequence; ++a) {
                uint8_t* audio = block(6 + 16u * a);
                audio[0] = 0x7F;
                audio[1] = id;
                audio[2] = a;
                std::memset(audio + 8, 0, 72);
                const uint8_t packBlock = odd ? 0 : 3;
                if (a == packBlock || a == packBlock + 1)
                    std::memcpy(audio + 3, audioPacks[a - packBlock], 5);
            }
            if (s < _nKept[c])
                continue;
            for (uint32_t v = 0; v < 135; ++v) {
                uint8_t* video = block(7 + v / 15 * 16 + v % 15);
                video[0] = 0x9F;
                video[1] = id;
                video[2] = static_cast<uint8_t>(v);
            }
        }
    }
    return true;
}

bool CKorvoDVCProHelper::Unpack(const uint8_t* packed, uint32_t size, uint8_t* destination, uint32_t* difSize)
{
    if (_nStreamKind == 0 && !InitFromPackedFrame(packed, size))
        return false;
    if (!packed || size < _nPackedSize || !_bBufferIsTemplate)
        return false;
    if (_nStreamKind == 6)
        _bSecondPair = !(packed[kIdByte] & kFirstPairBit);
    const uint8_t* blank = _pBuffer.get() + (_bSecondPair ? _nDifSize : 0);
    uint8_t* frame = destination ? destination : const_cast<uint8_t*>(blank);
    if (destination)
        std::memcpy(destination, blank, _nDifSize);
    const uint8_t* in = packed;
    for (uint32_t c = 0; c < FrameChannels(); ++c) {
        for (uint32_t s = 0; s < _nKept[c]; ++s) {
            uint8_t* sequence = frame + (c * _nSequences + s) * kDifSequenceSize;
            for (uint32_t r = 0; r < kRunsPerSequence; ++r, in += kRunBytes)
                std::memcpy(sequence + RunOffset(r), in, kRunBytes);
        }
    }
    if (difSize)
        *difSize = _nDifSize;
    return true;
}

bool CKorvoDVCProHelper::UnpackFrame(const uint8_t* packed, uint32_t size, uint8_t* destination, uint32_t* difSize)
{
    return destination && Unpack(packed, size, destination, difSize);
}

bool CKorvoDVCProHelper::ConvertToDVCPro(const uint8_t* packed, uint32_t size)
{
    return Unpack(packed, size, nullptr, nullptr);
}

const uint8_t* CKorvoDVCProHelper::GetDVCProFrame(uint32_t* size) const
{
    if (!_bBufferIsTemplate || !_pBuffer) {
        if (size)
            *size = 0;
        return nullptr;
    }
    if (size)
        *size = _nDifSize;
    return _pBuffer.get() + (_bSecondPair ? _nDifSize : 0);
}
