#include "receiver/CReceiverKorvoIMXReader.h"

#include <algorithm>
#include <exception>

#include "common/CLogManager.h"
#include "media/ImxFrames.h"
#include "receiver/BlockReaderFactory.h"

namespace
{
constexpr uint32_t kTrackBuffer24 = 6072;
constexpr uint32_t kTrackBuffer16 = 4048;
}  // namespace

bool HasSwappedAudio(const CKorvoBlockReader& reader)
{
    return dynamic_cast<const CKorvo2kBlockData*>(reader.GetBlockData()) != nullptr;
}

CReceiverKorvoIMXReader::CReceiverKorvoIMXReader(const std::string& sourceKind, uint32_t blockSize, bool highFrameRate,
                                                 int32_t instance, uint32_t firstServerField)
    : CReceiverKorvoIMXReader(MakeBlockReader(sourceKind, blockSize, instance, firstServerField), highFrameRate,
                              instance)
{
}

CReceiverKorvoIMXReader::CReceiverKorvoIMXReader(std::unique_ptr<CKorvoBlockReader> blockReader, bool highFrameRate,
                                                 int32_t instance)
    : CReceiverKorvoIMXReader("CReceiverKorvoIMXReader", std::move(blockReader), highFrameRate, instance)
{
}

CReceiverKorvoIMXReader::CReceiverKorvoIMXReader(const char* className, std::unique_ptr<CKorvoBlockReader> blockReader,
                                                 bool highFrameRate, int32_t instance)
    : _pszClass(className), _pBlockReader(std::move(blockReader)), _bHighFrameRate(highFrameRate), _nInstance(instance)
{
}

CReceiverKorvoIMXReader::~CReceiverKorvoIMXReader()
{
    ReleaseHeld(_pVideoFrame);
    for (KorvoFrame*& frame : _pTrackFrames)
        ReleaseHeld(frame);
}

void CReceiverKorvoIMXReader::SetTiming()
{
    _nFieldsPerFrame = 2;
    if (_nVideoSystem == 3) {
        _nExpectedVideoSize = imx::FrameSize(int64_t{std::max(_nRate, 0)} * 1000000, true);
        _nAudioUnitSize = 2944;
        std::fill(std::begin(_nCadence), std::end(_nCadence), 1920u);
    } else {
        _nExpectedVideoSize = imx::FrameSize(int64_t{std::max(_nRate, 0)} * 1000000, false);
        _nAudioUnitSize = 2432;
        const uint32_t cadence[5] = {1600, 1602, 1602, 1602, 1602};
        std::copy(std::begin(cadence), std::end(cadence), _nCadence);
    }
    _nMaxSamplesPerField = 960;
}

int CReceiverKorvoIMXReader::Open(const std::string& source, int32_t videoSystem, int32_t rate, int32_t audioTracks,
                                  int32_t audioBits)
{
    if (!_pBlockReader)
        return -1;
    if (const int rc = _pBlockReader->Open(source); rc != 0)
        return rc;
    _nVideoSystem = videoSystem;
    _nRate = rate;
    _nAudioTracks = std::clamp(audioTracks, 0, kMaxAudioTracks);
    _b24Bit = audioBits == 24;
    SetTiming();
    for (int32_t t = 0; t < _nAudioTracks; ++t) {
        if (!_tracks[t].Allocate(_b24Bit ? kTrackBuffer24 : kTrackBuffer16, _b24Bit ? 3 : 2)) {
            theLogManager.Log("%s:%i: track buffer allocation FAILURE !!", _pszClass, _nInstance);
            _pBlockReader->Close();
            return kFrameSetNoMemory;
        }
    }
    ReleaseHeld(_pVideoFrame);
    for (KorvoFrame*& frame : _pTrackFrames)
        ReleaseHeld(frame);
    _nPosition = 0;
    _nCadenceIndex = 0;
    _bLastSet = false;
    return 0;
}

void CReceiverKorvoIMXReader::Close()
{
    if (_pBlockReader)
        _pBlockReader->Close();
    theLogManager.Log("%s:%i:Close - BlockReader Closed !", _pszClass, _nInstance);
    ReleaseHeld(_pVideoFrame);
    for (KorvoFrame*& frame : _pTrackFrames)
        ReleaseHeld(frame);
    for (CReceiverAudioTrack& track : _tracks)
        track.Free();
}

bool CReceiverKorvoIMXReader::ReadNextFrame()
{
    if (_pVideoFrame)
        return true;
    try {
        return BuildFrameSet() == kFrameSetOk;
    } catch (...) {
        theLogManager.Log(">>>>> %s:%i: - ReadNextFrame EXCEPTION !!!!", _pszClass, _nInstance);
        throw;
    }
}

KorvoFrame* CReceiverKorvoIMXReader::GetVideoFrame()
{
    if (!_pVideoFrame)
        theLogManager.Log("*** %s - NULL VIDEO Frame", _pszClass);
    return TakeHeld(_pVideoFrame);
}

KorvoFrame* CReceiverKorvoIMXReader::GetTrackFrame(int32_t track)
{
    if (track < 1 || track > kMaxAudioTracks || !_pTrackFrames[track - 1]) {
        theLogManager.Log("*** %s - NULL Frame for track %i", _pszClass, track);
        return nullptr;
    }
    return TakeHeld(_pTrackFrames[track - 1]);
}

void CReceiverKorvoIMXReader::SetStartFrame(int32_t frames)
{
    if (frames < 1 || !_pBlockReader)
        return;
    const int64_t fields = int64_t{frames} * _nFieldsPerFrame;
    _nPosition = _pBlockReader->StartFieldOffset(static_cast<int32_t>(std::min<int64_t>(fields, INT32_MAX)),
                                                 &_nElementsPerField);
    _nElementsPerField = std::max(_nElementsPerField, 1u);
}

void CReceiverKorvoIMXReader::SetFirstField(uint32_t serverField)
{
    if (!_pBlockReader)
        return;
    _nPosition = _pBlockReader->SetFirstField(serverField, &_nElementsPerField);
    _nElementsPerField = std::max(_nElementsPerField, 1u);
}

void CReceiverKorvoIMXReader::Cancel()
{
    if (_pBlockReader)
        _pBlockReader->Cancel();
}

int CReceiverKorvoIMXReader::ReadBlock()
{
    int rc = 0;
    try {
        rc = _pBlockReader->ReadNextBlock(&_nElementsPerField);
    } catch (...) {
        theLogManager.Log(">>> %s:%i: - ReadNextBlock EXCEPTION !!!!!", _pszClass, _nInstance);
        throw;
    }
    _nElementsPerField = std::max(_nElementsPerField, 1u);
    if (rc != 0) {
        theLogManager.Log("%s:%i: BlockReader->ReadNextBlock returned %i", _pszClass, _nInstance, rc);
        return rc;
    }
    _nPosition = 0;
    return 0;
}

int32_t CReceiverKorvoIMXReader::DeclaredTracks()
{
    // The first frame set reads this block anyway; a block that cannot be read is reported by that read.
    if (!_pBlockReader || EnsureBlock() != 0 || !_pBlockReader->GetBlockData())
        return -1;
    return _pBlockReader->GetBlockData()->GetAudioTrackSlots();
}

int CReceiverKorvoIMXReader::EnsureBlock()
{
    return _pBlockReader->IsFieldInBlock(_nPosition) ? 0 : ReadBlock();
}

int CReceiverKorvoIMXReader::MakeVideoFrame(const uint8_t* video, int32_t size)
{
    auto* frame = new KorvoFrame(video, static_cast<uint32_t>(size), 1, static_cast<int32_t>(_nExpectedVideoSize));
    if (!frame->GetData()) {
        frame->Release();
        theLogManager.Log("%s: Video Frame Allocation FAILURE !!", _pszClass);
        return kFrameSetNoMemory;
    }
    frame->SetTypeCode(0);
    _pVideoFrame = frame;
    return kFrameSetOk;
}

int CReceiverKorvoIMXReader::BuildFrameSet()
{
    if (!_pBlockReader)
        return -1;
    if (const int rc = EnsureBlock(); rc != 0)
        return rc;
    int32_t size = 0;
    const uint8_t* video = _pBlockReader->GetVideo(_nPosition, &size);
    if (!video || size <= 0)
        return kFrameSetNoVideo;
    if (!SkipFillerUnits(&video, &size)) {
        theLogManager.Log("%s:%i: damaged filler in the video at element %i", _pszClass, _nInstance, _nPosition);
        return kFrameSetNoVideo;
    }
    if (const int rc = MakeVideoFrame(video, size); rc != kFrameSetOk)
        return rc;
    if (_bHighFrameRate && _nElementsPerField >= 2) {
        _nPosition += static_cast<int32_t>(_nFieldsPerFrame);
        return kFrameSetOk;
    }
    const bool swapped = HasSwappedAudio(*_pBlockReader);
    for (int32_t t = 0; t < _nAudioTracks; ++t) {
        if (_pTrackFrames[t]) {
            theLogManager.Log("*** Track %i NON NULL Frame *** >>> DELETING ...", t + 1);
            ReleaseHeld(_pTrackFrames[t]);
        }
        BuildAudioFrame(t, swapped);
    }
    _nPosition += static_cast<int32_t>(_nFieldsPerFrame * _nElementsPerField);
    _nCadenceIndex = (_nCadenceIndex + 1) % 5;
    return kFrameSetOk;
}

void CReceiverKorvoIMXReader::AppendTrackUnit(int32_t track, int32_t unitIndex, bool swapped)
{
    int32_t size = 0;
    const uint8_t* unit = _pBlockReader->GetAudio(unitIndex, &size);
    const uint64_t start = uint64_t{static_cast<uint32_t>(track)} * _nAudioUnitSize;
    if (!unit || size <= 0 || start + _nAudioUnitSize > static_cast<uint64_t>(size)) {
        theLogManager.Log("%s:%i: no audio for track %i in field unit %i [ Sz: %i ]", _pszClass, _nInstance, track + 1,
                          unitIndex, size);
        return;
    }
    _tracks[track].AppendUnit(unit + start, _nAudioUnitSize, swapped, _nMaxSamplesPerField);
}

uint32_t CReceiverKorvoIMXReader::WantedSamples(const CReceiverAudioTrack& track) const
{
    const uint32_t want = _nCadence[_nCadenceIndex];
    return _bLastSet ? std::max(want, track.GetCarried()) : want;
}

void CReceiverKorvoIMXReader::BuildAudioFrame(int32_t track, bool swapped)
{
    const int32_t firstUnit = _nPosition / static_cast<int32_t>(_nElementsPerField);
    for (uint32_t f = 0; f < _nFieldsPerFrame; ++f)
        AppendTrackUnit(track, firstUnit + static_cast<int32_t>(f), swapped);
    _pTrackFrames[track] = _tracks[track].TakeFrame(WantedSamples(_tracks[track]), track + 1);
    if (!_pTrackFrames[track])
        theLogManager.Log("%s: Audio Frame Allocation FAILURE !!", _pszClass);
}
