#include "receiver/CReceiverKorvoVC3Reader.h"

#include <algorithm>
#include <cstring>

#include "common/CLogManager.h"
#include "media/Vc3Compressions.h"
#include "receiver/BlockReaderFactory.h"

namespace
{
constexpr uint32_t kTrackBuffer = 6144;
constexpr uint8_t kUnitPrefix[5] = {0x00, 0x00, 0x02, 0x80, 0x01};
constexpr uint32_t kCompressionIdOffset = 0x28;
constexpr uint32_t kRowCountOffset = 0x16D;
constexpr uint32_t kScanTableOffset = 0x170;
// The unit header: the word after the row table is a header field only when it lies inside it (a 1080-line
// progressive unit's 68 rows fill the header, and the word would be the first coded bytes).
constexpr uint32_t kHeaderSize = 0x280;
constexpr int32_t kScanTableMinUnit = 640;
constexpr uint32_t kFlagsOffset = 6;
constexpr uint8_t kUnitEnd[4] = {0x60, 0x0D, 0xC0, 0xDE};
}  // namespace

CReceiverKorvoVC3Reader::Compression CReceiverKorvoVC3Reader::CompressionOf(uint32_t compressionId)
{
    if (const vc3::Compression* c = vc3::Find(compressionId))
        return {c->nFrameSize, c->nUnitSize, c->nUnits, c->cLetter};
    return {vc3::kDefaultUnitSize, vc3::kDefaultUnitSize, 1, 'L'};
}

CReceiverKorvoVC3Reader::CReceiverKorvoVC3Reader(const std::string& sourceKind, uint32_t blockSize, bool highFrameRate,
                                                 int32_t instance, uint32_t firstServerField)
    : CReceiverKorvoVC3Reader(MakeBlockReader(sourceKind, blockSize, -1, firstServerField), highFrameRate, instance)
{
}

CReceiverKorvoVC3Reader::CReceiverKorvoVC3Reader(std::unique_ptr<CKorvoBlockReader> blockReader, bool highFrameRate,
                                                 int32_t instance)
    : CReceiverKorvoIMXReader("CReceiverKorvoVC3Reader", std::move(blockReader), highFrameRate, instance)
{
}

void CReceiverKorvoVC3Reader::SetTiming()
{
    const bool fiftyHz = _nVideoSystem == 3 || _nVideoSystem == 6;
    _nFieldsPerFrame = _nVideoSystem < 6 ? 2 : 1;
    _nAudioUnitSize = fiftyHz ? 2944 : 2432;
    _nMaxSamplesPerField = fiftyHz ? 960 : 801;
    const uint32_t c2997[5] = {1600, 1602, 1602, 1602, 1602};
    const uint32_t c5994[5] = {800, 801, 801, 801, 801};
    if (_nVideoSystem == 4 || _nVideoSystem == 5)
        std::copy(c2997, c2997 + 5, _nCadence);
    else if (_nVideoSystem == 7 || _nVideoSystem == 8)
        std::copy(c5994, c5994 + 5, _nCadence);
    else
        std::fill(std::begin(_nCadence), std::end(_nCadence), _nVideoSystem == 6 ? 960u : 1920u);
}

int CReceiverKorvoVC3Reader::Open(const std::string& source, int32_t videoSystem, int32_t rate, int32_t audioTracks,
                                  int32_t audioBits)
{
    const int rc = CReceiverKorvoIMXReader::Open(source, videoSystem, rate, audioTracks, audioBits);
    if (rc != 0)
        return rc;
    for (int32_t t = 0; t < _nAudioTracks; ++t) {
        if (!_tracks[t].Allocate(kTrackBuffer, _b24Bit ? 3 : 2)) {
            Close();
            return kFrameSetNoMemory;
        }
    }
    _nFrameSize = 0;
    _nUnitSize = 0;
    _nUnitsPerFrame = 2;
    _nExpectedVideoSize = 0;
    _bFirstRead = true;
    return 0;
}

int CReceiverKorvoVC3Reader::ReadNextBlock()
{
    if (!_pBlockReader)
        return -1;
    if (const int rc = ReadBlock(); rc != 0)
        return rc;
    if (_bFirstRead && _nVideoSystem < 6 && _pBlockReader->FieldParity(0) != 0)
        _nPosition = static_cast<int32_t>(_nElementsPerField);
    _bFirstRead = false;
    return 0;
}

void CReceiverKorvoVC3Reader::AlignToFrameStart()
{
    _bFirstRead = false;
    if (_nVideoSystem >= 6 || _nPosition < 0)
        return;
    if (_pBlockReader->FieldParity(static_cast<uint32_t>(_nPosition) / _nElementsPerField) != 0)
        _nPosition += static_cast<int32_t>(_nElementsPerField);
}

void CReceiverKorvoVC3Reader::SetStartFrame(int32_t frames)
{
    if (frames < 1 || !_pBlockReader)
        return;
    CReceiverKorvoIMXReader::SetStartFrame(frames);
    AlignToFrameStart();
}

void CReceiverKorvoVC3Reader::SetFirstField(uint32_t serverField)
{
    if (!_pBlockReader)
        return;
    CReceiverKorvoIMXReader::SetFirstField(serverField);
    AlignToFrameStart();
}

int CReceiverKorvoVC3Reader::BuildFrameSet()
{
    if (!_pBlockReader)
        return -1;
    ReleaseHeld(_pVideoFrame);
    for (uint32_t u = 0; u < _nUnitsPerFrame; ++u) {
        if (!_pBlockReader->IsFieldInBlock(_nPosition)) {
            if (const int rc = ReadNextBlock(); rc != 0) {
                ReleaseHeld(_pVideoFrame);
                return rc;
            }
        }
        int32_t size = 0;
        const uint8_t* unit = _pBlockReader->GetVideo(_nPosition, &size);
        int rc = !unit || size <= 0 ? kFrameSetNoVideo : kFrameSetOk;
        if (rc == kFrameSetOk && !SkipFillerUnits(&unit, &size))
            rc = kFrameSetNoVideo;
        if (rc == kFrameSetOk)
            rc = AddUnit(u, unit, size);
        if (rc != kFrameSetOk) {
            ReleaseHeld(_pVideoFrame);
            return rc;
        }
        // A one-unit picture below 50 frames/s covers both fields of its frame, each with its own sound.
        const uint32_t fields = _nUnitsPerFrame == 1 ? _nFieldsPerFrame : 1;
        for (uint32_t f = 0; f < fields; ++f) {
            if (_nAudioTracks > 0 && (!_bHighFrameRate || _nElementsPerField == 1))
                AppendFieldAudio();
            _nPosition += _bHighFrameRate ? 1 : static_cast<int32_t>(_nElementsPerField);
        }
    }
    for (int32_t t = 0; t < _nAudioTracks; ++t) {
        if (_pTrackFrames[t]) {
            theLogManager.Log("*** Track %i NON NULL Frame *** >>> DELETING ...", t + 1);
            ReleaseHeld(_pTrackFrames[t]);
        }
        // A track the blocks carry no sound for is silent, as in IMX, so that the frame set stays whole.
        _pTrackFrames[t] = _tracks[t].TakeFrame(WantedSamples(_tracks[t]), t + 1);
        if (!_pTrackFrames[t])
            theLogManager.Log("%s: Audio Frame Allocation FAILURE !!", _pszClass);
    }
    _nCadenceIndex = (_nCadenceIndex + 1) % 5;
    return kFrameSetOk;
}

int CReceiverKorvoVC3Reader::AddUnit(uint32_t unitNumber, const uint8_t* unit, int32_t size)
{
    if (size < static_cast<int32_t>(sizeof kUnitPrefix) || std::memcmp(unit, kUnitPrefix, sizeof kUnitPrefix) != 0) {
        theLogManager.Log("%s:%i: not a VC-3 unit at element %i", _pszClass, _nInstance, _nPosition);
        return kFrameSetNoMemory;
    }
    if (_nFrameSize == 0) {
        if (size < static_cast<int32_t>(kCompressionIdOffset + 4))
            return kFrameSetNoMemory;
        const uint8_t* p = unit + kCompressionIdOffset;
        const uint32_t id = uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3];
        const Compression c = CompressionOf(id);
        _nFrameSize = c.nFrameSize;
        _nUnitSize = c.nUnitSize;
        _nUnitsPerFrame = c.nUnits;
        _nExpectedVideoSize = _nFrameSize;
        theLogManager.Log("VC-3 Compression ID: %li [%c] - FrameSz: %li - UnitSz: %li", static_cast<long>(id),
                          c.cLetter, static_cast<long>(_nFrameSize), static_cast<long>(_nUnitSize));
    }
    // Every unit fits its slot of the frame.
    if (static_cast<uint32_t>(size) > _nUnitSize || unitNumber >= _nUnitsPerFrame) {
        theLogManager.Log("%s:%i: VC-3 unit larger than its slot [ Sz: %i / Unit: %u ]", _pszClass, _nInstance, size,
                          _nUnitSize);
        return kFrameSetNoMemory;
    }
    if (unitNumber == 0) {
        if (const int rc = MakeVideoFrame(unit, size); rc != kFrameSetOk)
            return rc;
    } else {
        std::memcpy(_pVideoFrame->GetData() + uint64_t{_nUnitSize} * unitNumber, unit, static_cast<size_t>(size));
    }
    uint8_t* slot = _pVideoFrame->GetData() + uint64_t{_nUnitSize} * unitNumber;
    if (size > kScanTableMinUnit) {
        const uint32_t word = kScanTableOffset + 4u * slot[kRowCountOffset];
        if (word > static_cast<uint32_t>(size)) {
            theLogManager.Log("%s:%i: VC-3 row table past the unit [ %u / Sz: %i ]", _pszClass, _nInstance, word, size);
            return kFrameSetNoMemory;
        }
        if (word + 4 <= kHeaderSize)
            std::memset(slot + word, 0, 4);
    }
    slot[kFlagsOffset] &= static_cast<uint8_t>(~0x10);
    std::memcpy(slot + _nUnitSize - sizeof kUnitEnd, kUnitEnd, sizeof kUnitEnd);
    return kFrameSetOk;
}

void CReceiverKorvoVC3Reader::AppendFieldAudio()
{
    const int32_t unitIndex = _nPosition / static_cast<int32_t>(_nElementsPerField);
    const bool swapped = HasSwappedAudio(*_pBlockReader);
    for (int32_t t = 0; t < _nAudioTracks; ++t)
        AppendTrackUnit(t, unitIndex, swapped);
}
