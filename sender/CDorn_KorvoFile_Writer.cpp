#include "sender/CDorn_KorvoFile_Writer.h"

#include <algorithm>
#include <cstring>

#include "common/CLogManager.h"
#include "media/DvcproFrames.h"
#include "media/ImxFrames.h"
#include "sender/DornCodecFrames.h"

namespace
{
uint32_t FieldNumber(const CTimeCode& timecode)
{
    return timecode.GetFrameCount() * timecode.GetFieldsPerFrame() + (timecode.IsSecondField() ? 1 : 0);
}

std::string FileStem(const char* path)
{
    std::string name(path ? path : "");
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}
}  // namespace

CDorn_KorvoFile_Writer::~CDorn_KorvoFile_Writer() = default;

int CDorn_KorvoFile_Writer::Open(const char* path, uint8_t pictureCode, int64_t bitrate, int channels, int sampleBits,
                                 int, CTimeCode start, int64_t duration)
{
    KorvoMXFResult result = KorvoMXFWriter::Open(path, KORVOMXF_OPEN_CREATE,
                                                 _b8MBBlocks ? KORVOMXF_FORMAT_BAVD_8MB : KORVOMXF_FORMAT_TBL2K_2MB);
    if (result != KORVOMXF_OK)
        return static_cast<int>(result);
    if (const int common = OpenCommon(pictureCode, bitrate, channels, sampleBits, start, duration); common != 0) {
        KorvoMXFWriter::Close();
        return common;
    }
    _pInfo = std::make_unique<KorvoMXFInfo>();
    _nFirstField = FieldNumber(start == CTimeCode() ? _start : start);
    _nFieldOffset = 0;
    if (_nFirstField < 1000) {
        _nFieldOffset = 1000 - _nFirstField;
        _nFirstField = 1000;
    }
    const uint32_t durationFields = static_cast<uint32_t>(std::max<int64_t>(_nDurationFields, 0));
    const std::string clipName = _szClipName.empty() ? FileStem(path) : _szClipName;
    KorvoMXFInfo& info = *_pInfo;
    info.SetMaterialId(_szLouthIdMain.c_str());
    info._nStandard = pictureCode;
    info._nAspectRatio = _nAspectCode;
    info._bProgressive = pictureCode > 5;
    info._bTwoFields = _bFieldPairs;
    info._nAudioGroups = static_cast<uint8_t>(GetServerChannels() / 4);
    info._nAudioFormat = HasAudio() ? 1 : 0;
    info._nFirstField = _nFirstField;
    info._nOutField = _nFirstField + durationFields;

    KorvoMXFClip clip;
    clip.SetUmId(_szLouthIdMain.c_str());
    clip.SetVarId(reinterpret_cast<const uint8_t*>(_szVarIdMain.data()), static_cast<uint32_t>(_szVarIdMain.size()),
                  false);
    clip.SetName(clipName.c_str());
    clip._nShortIn = _nFirstField;
    clip._nShortOut = _nFirstField + durationFields;
    clip._nShortRef = 0;
    clip._nOffset = static_cast<uint32_t>(-_nFieldOffset);
    clip._nTCSystem = static_cast<uint32_t>(_nSystem);
    clip.SetClipNameSource("From_Mirel");
    clip.SetClipIdSource(NewClipId().c_str());
    info.AddClip(clip);

    ConfigureVariant();
    if (!_pInfo) {
        KorvoMXFWriter::Close();
        return -1;
    }
    result = SetInfo(info);
    if (result == KORVOMXF_OK)
        result = SetFirstField(_nFirstField);
    _nFieldsDone = 0;
    if (result != KORVOMXF_OK) {
        KorvoMXFWriter::Close();
        _pInfo.reset();
    }
    return static_cast<int>(result);
}

int CDorn_KorvoFile_Writer::Close(bool cancelled)
{
    if (!IsOpen())
        return 0;
    int first = CloseCommon(cancelled);
    if (_pInfo) {
        _pInfo->_nOutField = _nFirstField + static_cast<uint32_t>(_nFieldsDone);
        if (!_pInfo->_vClips.empty())
            _pInfo->_vClips[0]._nShortOut = _pInfo->_nOutField;
        const KorvoMXFResult info = SetInfo(*_pInfo);
        if (info != KORVOMXF_OK && first == 0)
            first = static_cast<int>(info);
    }
    const KorvoMXFResult closed = KorvoMXFWriter::Close();
    if (closed != KORVOMXF_OK && first == 0)
        first = static_cast<int>(closed);
    _pInfo.reset();
    return first;
}

void CDorn_KorvoFile_Writer::CloseQuietly() noexcept
{
    try {
        if (IsOpen())
            Close(false);
    } catch (...) {
        theLogManager.Log("CDorn_KorvoFile_Writer - Close EXCEPTION caught in destructor");
    }
}

int CDorn_KorvoFile_Writer::PutElement(const KorvoMXFVideoInfo& video, const uint8_t* data, uint32_t audioCount,
                                       const KorvoMXFAudioInfo* audioInfo, const uint8_t* audio)
{
    return static_cast<int>(KorvoMXFWriter::AddPicture(1, &video, data, HasAudio() ? audioCount : 0, audioInfo,
                                                       HasAudio() ? audio : nullptr, 0, nullptr, nullptr));
}

// IMX

void CDorn_KorvoIMX_Writer::ConfigureVariant()
{
    _pInfo->_nVideoFormat = 4;
    _pInfo->_nVideoSystem = _nPictureCode == 3 ? 2 : 1;
    _video = ImxRecord(_nPictureCode);
    _nFrameSize = -1;
    if (_nBitrate == 0)
        return;
    const int megabits = dorncodec::ImxMegabits(_nBitrate);
    if (megabits == 0) {
        theLogManager.Log("IMX Bitrate: %li not supported (30, 40 or 50 Mb/s)", static_cast<long>(_nBitrate));
        _pInfo.reset();
        return;
    }
    _nFrameSize = imx::FrameSize(int64_t{megabits} * 1000000, _nSystem == 3);
    _pInfo->_nBitrate = megabits;
    SetFrameCapacity(static_cast<uint32_t>(_nFrameSize));
    theLogManager.Log("IMX Bitrate: %li [Frame Size: %li B]", static_cast<long>(_nBitrate),
                      static_cast<long>(_nFrameSize));
}

int CDorn_KorvoIMX_Writer::AddPicture(const DornFrame* frame)
{
    if (_nFrameSize < 0) {
        const int megabits = LearnImxFrame(frame, _nSystem, &_nFrameSize, &_nBitrate);
        if (megabits == 0)
            return -1;
        if (_pInfo) {
            _pInfo->_nBitrate = megabits;
            if (const KorvoMXFResult result = SetInfo(*_pInfo); result != KORVOMXF_OK)
                return static_cast<int>(result);
        }
    }
    return CDorn_Korvo_Writer::AddPicture(frame);
}

int CDorn_KorvoIMX_Writer::WriteFrame()
{
    return WriteImxFrame(_video, _nFrameSize);
}

// DVCPRO

CDorn_KorvoDVCPro_Writer::CDorn_KorvoDVCPro_Writer(const char* clipName, const char* louthIdMain, const char* varIdMain,
                                                   const char* louthIdBackup, const char* varIdBackup, uint32_t serial,
                                                   bool blocks8MB)
    : CDorn_KorvoFile_Writer(clipName, louthIdMain, varIdMain, louthIdBackup, varIdBackup, serial, blocks8MB)
{
    SetFrameCapacity(dvcpro::kLargestFrameSize);
}

CDorn_KorvoDVCPro_Writer::~CDorn_KorvoDVCPro_Writer()
{
    CloseQuietly();
}

void CDorn_KorvoDVCPro_Writer::ConfigureVariant()
{
    theLogManager.Log("KorvoDVCPro_Writer - Open ... ");
    _video = _dvcpro.Configure(_nPictureCode, _nBitrate, _nAspectCode);
    const bool hd = _video._nVideoFormat != 9;
    _pInfo->_nVideoSystem = hd ? (_nPictureCode >= 6 ? 3 : 4) : (_video._nLines == 480 ? 1 : 2);
    _pInfo->_nVideoFormat = static_cast<int>(_video._nVideoFormat);
    _pInfo->_nAspectRatio = _nAspectCode;
    _pInfo->_nBitrate = static_cast<int>(_nBitrate / 1000000);
    _nFrameSize = -1;
}

int CDorn_KorvoDVCPro_Writer::AddPicture(const DornFrame* frame)
{
    if (_nFrameSize < 0) {
        if (!LearnDVCPro(_dvcpro, frame, &_nFrameSize, "a clip file"))
            return -1;
        if (_pInfo && _pInfo->_nAspectRatio != _nAspectCode) {
            _pInfo->_nAspectRatio = _nAspectCode;
            if (const KorvoMXFResult result = SetInfo(*_pInfo); result != KORVOMXF_OK)
                return static_cast<int>(result);
        }
    }
    return CDorn_Korvo_Writer::AddPicture(frame);
}

int CDorn_KorvoDVCPro_Writer::WriteFrame()
{
    return WriteDVCProFrame(_dvcpro, _video, _nFrameSize);
}

// VC-3 (Hydrel)

CDorn_KorvoHydrel_Writer::CDorn_KorvoHydrel_Writer(const char* clipName, const char* louthIdMain, const char* varIdMain,
                                                   const char* louthIdBackup, const char* varIdBackup, uint32_t serial,
                                                   bool blocks8MB)
    : CDorn_KorvoFile_Writer(clipName, louthIdMain, varIdMain, louthIdBackup, varIdBackup, serial, blocks8MB)
{
    SetFrameCapacity(kMaxFrameCapacity);
}

void CDorn_KorvoHydrel_Writer::ConfigureVariant()
{
    theLogManager.Log("KorvoHydrel_Writer - Open ... ");
    _nAspectCode = 3;
    const bool progressive = _nPictureCode > 5;
    _video = HydrelRecord(_nPictureCode);
    _pInfo->_nVideoFormat = 5;
    _pInfo->_nVideoSystem = progressive ? 3 : 4;
    _pInfo->_nAspectRatio = 3;
    _pInfo->_nBitrate = static_cast<int>(_nBitrate / 1000000);
    _nFrameSize = -1;
}

int CDorn_KorvoHydrel_Writer::AddPicture(const DornFrame* frame)
{
    if (_nFrameSize < 0) {
        const dorncodec::HydrelUnits units = LearnHydrel(frame, &_nUnits, &_nUnitSize, &_nFrameSize);
        if (_pInfo) {
            _pInfo->_nHydrelQuality = units.bHighQuality ? 2 : 3;
            // Each unit of a two-unit frame is one field of its own.
            _pInfo->_bTwoFields = _nUnits == 1 && _bFieldPairs;
            if (const KorvoMXFResult result = SetInfo(*_pInfo); result != KORVOMXF_OK)
                return static_cast<int>(result);
        }
        theLogManager.Log("%s quality Hydrel Frame: %li Bytes [%i fields]", units.bHighQuality ? "HIGH" : "LOW",
                          static_cast<long>(_nFrameSize), static_cast<int>(_nUnits));
    }
    return CDorn_Korvo_Writer::AddPicture(frame);
}

int CDorn_KorvoHydrel_Writer::WriteFrame()
{
    return WriteHydrelFrame(_video, _nUnits, _nUnitSize);
}
