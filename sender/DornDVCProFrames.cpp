#include "sender/DornDVCProFrames.h"

#include "common/CLogManager.h"
#include "media/DvcproFrames.h"
#include "serverblock/CKorvoDVCProHelper.h"

DornDVCProFrames::DornDVCProFrames() = default;
DornDVCProFrames::~DornDVCProFrames() = default;

KorvoMXFVideoInfo DornDVCProFrames::Configure(uint8_t pictureCode, int64_t bitrate, int& aspectCode)
{
    if (bitrate == 50000000)
        _bHD = false;
    else if (bitrate == 100000000)
        _bHD = true;
    theLogManager.Log("DVCPro bitrate : %li [HD use is %d]", static_cast<long>(bitrate), _bHD ? 1 : 0);
    KorvoMXFVideoInfo video;
    const dvcpro::Kind& kind = !_bHD ? dvcpro::kDv50 : pictureCode >= 6 ? dvcpro::kDv720 : dvcpro::kDv1080;
    const bool fiftyHz = _bHD ? pictureCode == 3 : !(pictureCode == 4 || pictureCode == 5);
    if (_bHD) {
        aspectCode = 3;
        video._nVideoFormat = pictureCode >= 6 ? 7 : 8;
    } else {
        video._nVideoFormat = 9;
    }
    video._nWidth = dvcpro::Width(kind, fiftyHz);
    video._nLines = dvcpro::Lines(kind, fiftyHz);
    _nLines = video._nLines;
    theLogManager.Log("DVCPro frame width : %d - height : %d", static_cast<int>(video._nWidth),
                      static_cast<int>(video._nLines));
    return video;
}

bool DornDVCProFrames::Learn(const DornFrame* frame, uint8_t, int aspectCode, uint32_t maxSize, uint32_t* frameSize)
{
    const uint32_t length = frame && frame->pData ? frame->nLength : 0;
    // The packed layout keeps two-channel 25 Mb/s frames (DVCPRO 50) and the four-channel 1080-line kind: a
    // one-channel DV 25 frame and the 720-line kind have no place in it.
    _szUnsupported.clear();
    if (length > dvcpro::kStreamTypeByte && (frame->pData[dvcpro::kStreamTypeByte] & 0x1F) == dvcpro::kStreamType720)
        _szUnsupported = "DVCPRO HD 720p";
    else if (length == dvcpro::FrameSize(dvcpro::kDv25, true) || length == dvcpro::FrameSize(dvcpro::kDv25, false))
        _szUnsupported = "DV 25";
    if (!_szUnsupported.empty()) {
        theLogManager.Log("CDorn_RixFtpDVCPro_Writer : ERROR : %s frames are not carried [Size: %li]",
                          _szUnsupported.c_str(), static_cast<long>(length));
        return false;
    }
    _pHelper = std::make_unique<CKorvoDVCProHelper>(CKorvoDVCProHelper::kNone, aspectCode);
    if (!length || length > maxSize || !_pHelper->InitFromDVCProFrame(frame->pData, length)) {
        theLogManager.Log("CDorn_RixFtpDVCPro_Writer : ERROR : Invalid DVCPro frame ! [Size: %li]",
                          static_cast<long>(length));
        _pHelper.reset();
        return false;
    }
    *frameSize = length;
    theLogManager.Log("DVCPro Frame: %li Bytes", static_cast<long>(length));
    return true;
}

int DornDVCProFrames::AspectCode() const
{
    return _pHelper && _pHelper->GetAspectCode() == 3 ? 3 : 2;
}

const uint8_t* DornDVCProFrames::Pack(const uint8_t* frame, uint32_t size, uint32_t* packedSize)
{
    if (!_pHelper || !_pHelper->ConvertFromDVCPro(frame, size)) {
        theLogManager.Log("CDorn_RixFtpDVCPro_Writer : ERROR while converting DVCPro frame ! (Format -> Korvo)");
        return nullptr;
    }
    const uint8_t* packed = _pHelper->GetPackedFrame(packedSize);
    if (!packed)
        theLogManager.Log("CDorn_RixFtpDVCPro_Writer : ERROR while acquiring Korvo DVCPro frame !");
    return packed;
}
