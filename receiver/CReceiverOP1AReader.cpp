#include "receiver/CReceiverOP1AReader.h"

#include "common/CLogManager.h"

namespace
{
constexpr uint32_t kProbeBytes = 512;
constexpr uint32_t kHeaderByteCountOffset = 56;  // low half of the header partition's header byte count
constexpr uint32_t kEditUnitSizeOffset = 80;     // the index segment's edit unit byte count
constexpr uint32_t kSoundOffsetOffset = 131;     // the sound element's delta entry
constexpr uint32_t kSoundCountOffset = 21;
constexpr uint32_t kSoundSamplesOffset = 24;
constexpr uint32_t kSoundChannels = 8;
constexpr uint32_t kSoundSampleStride = 4 * kSoundChannels;

uint32_t BigEndian32(const uint8_t* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
}  // namespace

CReceiverOP1AReader::CReceiverOP1AReader() : _pWorkBuffer(platform::MakePageBuffer(kMaxSamples * 3)) {}

CReceiverOP1AReader::~CReceiverOP1AReader()
{
    theLogManager.Log("ReceiverOP1AReader destructor ...");
    Close();
}

int CReceiverOP1AReader::Open(const std::string& fileName, int32_t videoSystem, int32_t rate, int32_t,
                              int32_t audioBits)
{
    Close();
    if (!_file.Open(fileName, platform::File::Access::Read, platform::File::Disposition::OpenExisting)) {
        theLogManager.Log("OP1AReceiver: cannot open %s", fileName.c_str());
        return kOpenFailed;
    }
    _szFileName = fileName;
    uint8_t probe[kProbeBytes];
    uint64_t firstUnit = 0;
    bool ok = _file.Read(probe, kProbeBytes) == int64_t{kProbeBytes};
    if (ok) {
        firstUnit = uint64_t{kProbeBytes} + BigEndian32(probe + kHeaderByteCountOffset);
        ok = _file.Seek(firstUnit) && _file.Read(probe, kProbeBytes) == int64_t{kProbeBytes};
    }
    if (ok) {
        _nEditUnitSize = BigEndian32(probe + kEditUnitSizeOffset);
        _nSoundOffset = BigEndian32(probe + kSoundOffsetOffset);
        // The picture's length field and the sound element's header must lie inside the edit unit.
        ok = _nEditUnitSize > kVideoDataOffset && _nEditUnitSize <= kMaxEditUnitSize &&
             _nSoundOffset <= _nEditUnitSize - kSoundSamplesOffset && _nSoundOffset >= kVideoDataOffset;
    }
    if (!ok) {
        theLogManager.Log("OP1AReceiver: not a D-10 OP1a file %s [ Edit unit: %u, Sound: %u ]", fileName.c_str(),
                          _nEditUnitSize, _nSoundOffset);
        Close();
        return kOpenNotD10;
    }
    _pReadBuffer = platform::MakePageBuffer(size_t{kUnitsInBuffer} * _nEditUnitSize);
    if (!_pReadBuffer || !_pWorkBuffer) {
        Close();
        return kOpenNoMemory;
    }
    _nUnitsInBuffer = 0;
    _nPosition = 100;
    _nVideoSystem = videoSystem;
    _nRate = rate;
    _b24Bit = audioBits == 24;
    return 0;
}

void CReceiverOP1AReader::Close()
{
    _file.Close();
    _pReadBuffer.reset();
    _nUnitsInBuffer = 0;
}

int CReceiverOP1AReader::Stop()
{
    Close();
    return 0;
}

void CReceiverOP1AReader::Cancel()
{
    _bCancelled = true;
    _cancelEvent.Set();
}

bool CReceiverOP1AReader::ReadNextFrame()
{
    if (!_pReadBuffer)
        return false;
    if (++_nPosition < _nUnitsInBuffer)
        return true;
    return Refill();
}

bool CReceiverOP1AReader::Refill()
{
    const uint64_t want = uint64_t{kUnitsInBuffer} * _nEditUnitSize;
    uint64_t have = 0;
    while (have < want && !_bCancelled) {
        const int64_t n = _file.Read(_pReadBuffer.get() + have, want - have);
        if (n > 0)
            have += static_cast<uint64_t>(n);
        if (have == want)
            break;
        if (n < 0 || !platform::File::IsLockedForWriting(_szFileName)) {
            // No writer: the partial edit unit at the end is read again next time.
            const uint64_t partial = have % _nEditUnitSize;
            if (const auto at = _file.Tell(); at && partial)
                _file.Seek(*at - partial);
            have -= partial;
            break;
        }
        if (_cancelEvent.Wait(_nRetryWaitMs) == platform::kWaitObject0)
            break;
    }
    if (_bCancelled || have < _nEditUnitSize) {
        _nUnitsInBuffer = 0;
        return false;
    }
    _nPosition = 0;
    _nUnitsInBuffer = static_cast<uint32_t>(have / _nEditUnitSize);
    return _nUnitsInBuffer > 0;
}

const uint8_t* CReceiverOP1AReader::CurrentUnit() const
{
    if (!_pReadBuffer || _nPosition >= _nUnitsInBuffer)
        return nullptr;
    return _pReadBuffer.get() + uint64_t{_nPosition} * _nEditUnitSize;
}

KorvoFrame* CReceiverOP1AReader::GetVideoFrame()
{
    const uint8_t* unit = CurrentUnit();
    if (!unit)
        return nullptr;
    const uint8_t* p = unit + kVideoLengthOffset;
    const uint32_t length = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    if (length > _nEditUnitSize - kVideoDataOffset) {
        theLogManager.Log("OP1AReceiver: picture past the edit unit [ %u / %u ]", length,
                          _nEditUnitSize - kVideoDataOffset);
        return nullptr;
    }
    auto* frame = new KorvoFrame(unit + kVideoDataOffset, length, 1, 0);
    if (!frame->GetData()) {
        frame->Release();
        theLogManager.Log("OP1AReceiver: NULL VIDEO Frame Create !!!");
        return nullptr;
    }
    frame->SetTypeCode(0);
    return frame;
}

KorvoFrame* CReceiverOP1AReader::GetTrackFrame(int32_t track)
{
    const uint8_t* unit = CurrentUnit();
    if (!unit || track < 1 || track > static_cast<int32_t>(kSoundChannels) || !_pWorkBuffer)
        return nullptr;
    const uint32_t channel = static_cast<uint32_t>(track) - 1;
    const uint8_t* sound = unit + _nSoundOffset;
    uint32_t count = sound[kSoundCountOffset] | uint32_t{sound[kSoundCountOffset + 1]} << 8;
    if (count > kMaxSamples)
        count = kMaxSamples;
    // Open proved the sound header inside the edit unit; the samples must be too.
    const uint64_t room = _nEditUnitSize - _nSoundOffset;
    if (count && kSoundSamplesOffset + channel * 4 + uint64_t{count - 1} * kSoundSampleStride + 4 > room) {
        theLogManager.Log("OP1AReceiver: sound past the edit unit [ %u samples, %llu bytes ]", count,
                          static_cast<unsigned long long>(room));
        return nullptr;
    }
    // Bits 4-27 of each AES3 word hold the sample, 24 bits; a 16-bit output keeps the upper 16.
    const uint32_t bytesPerSample = _b24Bit ? 3 : 2;
    uint8_t* out = _pWorkBuffer.get();
    const uint8_t* in = sound + kSoundSamplesOffset + channel * 4;
    for (uint32_t i = 0; i < count; ++i, in += kSoundSampleStride) {
        const uint32_t word = in[0] | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16 | uint32_t{in[3]} << 24;
        const uint32_t sample = (word >> 4) & 0xFFFFFF;
        if (_b24Bit)
            *out++ = static_cast<uint8_t>(sample);
        *out++ = static_cast<uint8_t>(sample >> 8);
        *out++ = static_cast<uint8_t>(sample >> 16);
    }
    auto* frame = new KorvoFrame(_pWorkBuffer.get(), count * bytesPerSample, count, 0);
    if (!frame->GetData()) {
        frame->Release();
        theLogManager.Log("OP1AReceiver: NULL Audio Frame Create !!!");
        return nullptr;
    }
    frame->SetTypeCode(track);
    return frame;
}

void CReceiverOP1AReader::SetStartFrame(int32_t frames)
{
    if (frames <= 0 || !_file.IsOpen())
        return;
    if (const auto at = _file.Tell())
        _file.Seek(*at + uint64_t{static_cast<uint32_t>(frames)} * _nEditUnitSize);
}

void CReceiverOP1AReader::SetFirstField(uint32_t serverField)
{
    SetStartFrame(static_cast<int32_t>(serverField / 2));
}
