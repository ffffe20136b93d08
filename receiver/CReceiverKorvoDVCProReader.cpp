#include "receiver/CReceiverKorvoDVCProReader.h"

#include <algorithm>

#include "common/CLogManager.h"
#include "media/DvcproFrames.h"
#include "receiver/BlockReaderFactory.h"

namespace
{
// A whole DIF frame of one channel starts with its header block (section type 0); packed pictures hold video
// blocks only.
bool IsWholeDifFrame(const uint8_t* video, int32_t size)
{
    return size > 0 && (video[0] >> 5) == 0 &&
           (static_cast<uint32_t>(size) == dvcpro::ChannelSize(false) ||
            static_cast<uint32_t>(size) == dvcpro::ChannelSize(true));
}
}  // namespace

CReceiverKorvoDVCProReader::CReceiverKorvoDVCProReader(const std::string& sourceKind, uint32_t blockSize,
                                                       bool highFrameRate, int32_t instance, uint32_t firstServerField)
    : CReceiverKorvoDVCProReader(MakeBlockReader(sourceKind, blockSize, instance, firstServerField), highFrameRate,
                                 instance)
{
}

CReceiverKorvoDVCProReader::CReceiverKorvoDVCProReader(std::unique_ptr<CKorvoBlockReader> blockReader,
                                                       bool highFrameRate, int32_t instance)
    : CReceiverKorvoIMXReader("CReceiverKorvoDVCProReader", std::move(blockReader), highFrameRate, instance)
{
}

int CReceiverKorvoDVCProReader::Open(const std::string& source, int32_t videoSystem, int32_t rate, int32_t audioTracks,
                                     int32_t audioBits)
{
    _bFrameInit = false;
    _bWholeDif = false;
    return CReceiverKorvoIMXReader::Open(source, videoSystem, rate, audioTracks, audioBits);
}

void CReceiverKorvoDVCProReader::SetTiming()
{
    _nExpectedVideoSize = 0;
    _nMaxSamplesPerField = 960;
    const uint32_t c2997[5] = {1600, 1602, 1602, 1602, 1602};
    const uint32_t c5994[5] = {800, 801, 801, 801, 801};
    const uint32_t* cadence = nullptr;
    switch (_nVideoSystem) {
        case 4:
        case 5:
            _nFieldsPerFrame = 2;
            _nAudioUnitSize = 2432;
            cadence = c2997;
            break;
        case 6:
            _nFieldsPerFrame = 1;
            _nAudioUnitSize = 2944;
            std::fill(std::begin(_nCadence), std::end(_nCadence), 960u);
            break;
        case 7:
        case 8:
            _nFieldsPerFrame = 1;
            _nAudioUnitSize = 2432;
            cadence = c5994;
            break;
        default:
            _nFieldsPerFrame = 2;
            _nAudioUnitSize = 2944;
            std::fill(std::begin(_nCadence), std::end(_nCadence), 1920u);
            break;
    }
    if (cadence)
        std::copy(cadence, cadence + 5, _nCadence);
}

int CReceiverKorvoDVCProReader::MakeVideoFrame(const uint8_t* video, int32_t size)
{
    if (!_bFrameInit) {
        _bWholeDif = IsWholeDifFrame(video, size);
        // The packed pictures keep no DIF header: the rebuilt frames take the clip's aspect from its blocks.
        const CKorvoBlockData* block = _pBlockReader->GetBlockData();
        const int32_t aspect = block && block->GetAspectCode() == 3 ? 3 : 2;
        if (!_bWholeDif && !InitFromPackedFrame(video, static_cast<uint32_t>(size), _nVideoSystem, aspect)) {
            theLogManager.Log("CReceiverKorvoDVCProReader: DVCPro Frame Init FAILURE !!");
            return kFrameSetNoMemory;
        }
        _nExpectedVideoSize = _bWholeDif ? static_cast<uint32_t>(size) : GetDifSize();
        _bFrameInit = true;
    }
    if (_bWholeDif)
        return CReceiverKorvoIMXReader::MakeVideoFrame(video, size);
    uint32_t difSize = 0;
    const uint8_t* dif = nullptr;
    if (ConvertToDVCPro(video, static_cast<uint32_t>(size)))
        dif = GetDVCProFrame(&difSize);
    if (!dif || difSize == 0) {
        theLogManager.Log("CReceiverKorvoDVCProReader: DVCPro Frame Conversion FAILURE !!");
        return kFrameSetNoMemory;
    }
    return CReceiverKorvoIMXReader::MakeVideoFrame(dif, static_cast<int32_t>(difSize));
}
