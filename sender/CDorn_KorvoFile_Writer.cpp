#include "sender/CDorn_KorvoFile_Writer.h"

#include <algorithm>
#include <cstring>

#include "common/CLogManager.h"
#include "sender/DornCodecFrames.h"
#include "transfer/CKorvoDVCProHelper.h"

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
    info._nAspectRatio = _nAspectRatio;
    info._bProgressive = pictureCode > 5;
    info._bTwoFields = _bTwoFields;
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
    _nFieldsWritten = 0;
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
        _pInfo->_nOutField = _nFirstField + static_cast<uint32_t>(_nFieldsWritten);
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

int CDorn_KorvoFile_Writer::WriteElement(const KorvoMXFVideoInfo& video, const uint8_t* data, uint32_t audioCount,
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
    _video = KorvoMXFVideoInfo{};
    _video._nVideoFormat = 4;
    _video._nWidth = 720;
    _video._nLines = _nPictureCode == 3 ? 608 : 512;
    _nFrameSize = -1;
    if (_nBitrate == 0)
        return;
    const int megabits = dorncodec::ImxMegabits(_nBitrate);
    if (megabits == 0) {
        theLogManager.Log("IMX Bitrate: %li not supported (30, 40 or 50 Mb/s)", static_cast<long>(_nBitrate));
        _pInfo.reset();
        return;
    }
    _nFrameSize = dorncodec::ImxFrameSize(megabits, _nSystem);
    _pInfo->_nBitrate = megabits;
    SetFrameCapacity(static_cast<uint32_t>(_nFrameSize));
    theLogManager.Log("IMX Bitrate: %li [Frame Size: %li B]", static_cast<long>(_nBitrate),
                      static_cast<long>(_nFrameSize));
}

int CDorn_KorvoIMX_Writer::AddPicture(const DornFrame* frame)
{
    if (_nFrameSize < 0) {
        const int64_t measured = frame ? dorncodec::MeasureImxBitrate(frame->pData, frame->nLength) : 0;
        const int megabits = dorncodec::ImxMegabits(measured);
        if (megabits == 0) {
            theLogManager.Log("++ Measured ++ IMX Bitrate: %li bits/s not supported", static_cast<long>(measured));
            return -1;
        }
        _nFrameSize = dorncodec::ImxFrameSize(megabits, _nSystem);
        _nBitrate = measured;
        SetFrameCapacity(static_cast<uint32_t>(_nFrameSize));
        theLogManager.Log("++ Measured ++ IMX Bitrate: %li bits/s [Frame Size: %li B]", static_cast<long>(measured),
                          static_cast<long>(_nFrameSize));
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
    if (_pictures.empty())
        return -1;
    Picture& picture = _pictures.front();
    const uint32_t size = std::min(static_cast<uint32_t>(_nFrameSize), picture.nCapacity);
    KorvoMXFVideoInfo video = _video;
    video._nSize = dorncodec::TrimmedLength(picture.pData.get(), size);
    const int result = WriteElement(video, picture.pData.get(), 2, AudioInfos(), AudioBlock());
    DropOldestPicture();
    _nFieldsWritten += 2;
    return result;
}

// DVCPRO

CDorn_KorvoDVCPro_Writer::CDorn_KorvoDVCPro_Writer(const char* clipName, const char* louthIdMain, const char* varIdMain,
                                                   const char* louthIdBackup, const char* varIdBackup, uint32_t serial,
                                                   bool blocks8MB)
    : CDorn_KorvoFile_Writer(clipName, louthIdMain, varIdMain, louthIdBackup, varIdBackup, serial, blocks8MB)
{
    SetFrameCapacity(576000);
}

CDorn_KorvoDVCPro_Writer::~CDorn_KorvoDVCPro_Writer()
{
    CloseQuietly();
}

void CDorn_KorvoDVCPro_Writer::ConfigureVariant()
{
    theLogManager.Log("KorvoDVCPro_Writer - Open ... ");
    if (_nBitrate == 50000000)
        _bHD = false;
    else if (_nBitrate == 100000000)
        _bHD = true;
    theLogManager.Log("DVCPro bitrate : %li [HD use is %d]", static_cast<long>(_nBitrate), _bHD ? 1 : 0);
    _video = KorvoMXFVideoInfo{};
    if (_bHD) {
        _nAspectRatio = 3;
        _video._nVideoFormat = _nPictureCode > 5 ? 7 : 8;
        _pInfo->_nVideoSystem = _nPictureCode >= 6 ? 3 : 4;
        _video._nWidth = _nPictureCode == 3 ? 1440 : _nPictureCode <= 5 ? 1280 : 960;
        _video._nLines = _nPictureCode >= 6 ? 720 : 1080;
    } else {
        _video._nVideoFormat = 9;
        const bool is525 = _nPictureCode == 4 || _nPictureCode == 5;
        _pInfo->_nVideoSystem = is525 ? 1 : 2;
        _video._nWidth = 720;
        _video._nLines = is525 ? 480 : 576;
    }
    _pInfo->_nVideoFormat = static_cast<int>(_video._nVideoFormat);
    _pInfo->_nAspectRatio = _nAspectRatio;
    _pInfo->_nBitrate = static_cast<int>(_nBitrate / 1000000);
    theLogManager.Log("DVCPro frame width : %d - height : %d", static_cast<int>(_video._nWidth),
                      static_cast<int>(_video._nLines));
    _nFrameSize = -1;
}

int CDorn_KorvoDVCPro_Writer::AddPicture(const DornFrame* frame)
{
    if (_nFrameSize < 0) {
        const uint32_t length = frame && frame->pData ? frame->nLength : 0;
        _pHelper = std::make_unique<CKorvoDVCProHelper>(_nPictureCode, _nAspectRatio);
        if (!length || length > kMaxFrameCapacity || !_pHelper->InitFromDVCProFrame(frame->pData, length)) {
            theLogManager.Log("CDorn_RixFtpDVCPro_Writer : ERROR : Invalid DVCPro frame ! [Size: %li]",
                              static_cast<long>(length));
            _pHelper.reset();
            return -1;
        }
        _nFrameSize = length;
        SetFrameCapacity(length);
        theLogManager.Log("DVCPro Frame: %li Bytes", static_cast<long>(length));
    }
    return CDorn_Korvo_Writer::AddPicture(frame);
}

int CDorn_KorvoDVCPro_Writer::WriteFrame()
{
    if (_pictures.empty())
        return -1;
    Picture& picture = _pictures.front();
    const uint32_t fields = _video._nLines == 720 ? 1 : 2;
    int result = -1;
    uint32_t packedSize = 0;
    const uint8_t* packed = nullptr;
    if (!_pHelper || !_pHelper->ConvertFromDVCPro(picture.pData.get(), static_cast<uint32_t>(_nFrameSize))) {
        theLogManager.Log("CDorn_RixFtpDVCPro_Writer : ERROR while converting DVCPro frame ! (Format -> Korvo)");
    } else if (!(packed = _pHelper->GetPackedFrame(&packedSize))) {
        theLogManager.Log("CDorn_RixFtpDVCPro_Writer : ERROR while acquiring Korvo DVCPro frame !");
    } else {
        KorvoMXFVideoInfo video = _video;
        video._nSize = packedSize;
        result = WriteElement(video, packed, fields, AudioInfos(), AudioBlock());
    }
    DropOldestPicture();
    _nFieldsWritten += fields;
    return result;
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
    _nAspectRatio = 3;
    const bool progressive = _nPictureCode > 5;
    _video = KorvoMXFVideoInfo{};
    _video._nVideoFormat = 5;
    _video._nWidth = progressive ? 1280 : 1920;
    _video._nLines = progressive ? 720 : 1080;
    _pInfo->_nVideoFormat = 5;
    _pInfo->_nVideoSystem = progressive ? 3 : 4;
    _pInfo->_nAspectRatio = 3;
    _pInfo->_nBitrate = static_cast<int>(_nBitrate / 1000000);
    _nFrameSize = -1;
}

int CDorn_KorvoHydrel_Writer::AddPicture(const DornFrame* frame)
{
    if (_nFrameSize < 0) {
        const uint32_t id = frame ? dorncodec::HydrelCompressionId(frame->pData, frame->nLength) : 0;
        const dorncodec::HydrelUnits units = dorncodec::HydrelUnitsOf(id);
        _nUnits = units.nUnits;
        _nUnitSize = units.nUnitSize;
        _nFrameSize = int64_t{_nUnits} * _nUnitSize;
        SetFrameCapacity(static_cast<uint32_t>(_nFrameSize));
        if (_pInfo) {
            _pInfo->_nHydrelQuality = units.bHighQuality ? 2 : 3;
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
    if (_pictures.empty())
        return -1;
    Picture& picture = _pictures.front();
    // A one-unit frame of interlaced material carries both fields' audio.
    const uint32_t audioPerUnit = _nUnits == 1 && _bTwoFields ? 2 : 1;
    int result = 0;
    for (uint32_t u = 0; u < _nUnits && result == 0; ++u) {
        uint8_t* unit = picture.pData.get() + size_t{u} * _nUnitSize;
        uint32_t used = dorncodec::TrimmedLength(unit, _nUnitSize - 4);
        const uint32_t field = dorncodec::HydrelCodedSizeOffset(unit, _nUnitSize);
        if (field && used >= 640) {
            const uint32_t coded = used - 640;
            unit[field] = static_cast<uint8_t>(coded >> 24);
            unit[field + 1] = static_cast<uint8_t>(coded >> 16);
            unit[field + 2] = static_cast<uint8_t>(coded >> 8);
            unit[field + 3] = static_cast<uint8_t>(coded);
        }
        unit[6] &= static_cast<uint8_t>(~0x10);
        KorvoMXFVideoInfo video = _video;
        video._nSize = used;
        result = WriteElement(video, unit, audioPerUnit, AudioInfos() + u % 2,
                              AudioBlock() ? AudioBlock() + size_t{AudioFieldBytes()} * (u % 2) : nullptr);
    }
    DropOldestPicture();
    _nFieldsWritten += _nUnits * audioPerUnit;
    return result;
}
