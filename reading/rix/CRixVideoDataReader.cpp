#include "reading/rix/CRixVideoDataReader.h"

#include <cstring>

VideoInfo CRixVideoDataReader::DescribeVideo(uint32_t format, int32_t codec)
{
    VideoInfo info;
    const uint32_t standard = format >> 28;
    info.bProgressive = (format >> 22 & 1) != 0;
    info.nAspect = standard <= 1 ? static_cast<uint8_t>(format >> 16 & 0x3F) : 3;
    switch (standard) {
        case 0:
            info.nStandard = 1;
            info.nWidth = 720;
            info.nHeight = 480;
            break;
        case 1:
            info.nStandard = 2;
            info.nWidth = 720;
            info.nHeight = 576;
            break;
        case 2:
            info.nStandard = 3;
            info.nWidth = 1280;
            info.nHeight = 720;
            break;
        default:
            info.nStandard = 4;
            info.nWidth = 1920;
            info.nHeight = 1080;
    }
    if (codec == 7)
        info.nStandard = (format >> 24 & 0xF) == 3 ? 18 : 17;
    switch (codec) {
        case 1:
        case 6:
            info.nVideoType = Mjpeg_Video;
            break;
        case 2:
            info.nVideoType = IMX30_Video;
            break;
        case 3:
            info.nVideoType = IMX40_Video;
            break;
        case 4:
            info.nVideoType = IMX50_Video;
            break;
        case 5:
        case 13:
            info.nVideoType = Mjpeg4_Video;
            break;
        case 7:
            info.nVideoType = MjpegFrame_Video;
            break;
        case 8:
            info.nVideoType = Hydrel_Video;
            break;
        case 9:
        case 10:
            info.nVideoType = HydrelHigh_Video;
            break;
        case 11:
            info.nVideoType = MPEGField_Video;
            break;
        case 16:
            info.nVideoType = MPEGFrame_Video;
            break;
        default:
            info.nVideoType = Unknown_Video;
    }
    return info;
}

bool CRixVideoDataReader::GetVideoInfo(VideoInfo* info)
{
    if (!info || !IsOpen())
        return false;
    *info = DescribeVideo(static_cast<uint32_t>(_nVideoFormat), _nVideoCodec);
    return true;
}

int32_t CRixVideoDataReader::GetCurrentFieldInfo(uint32_t* first, uint32_t* second, uint8_t* code)
{
    const int32_t result = CRixDataReader::GetCurrentFieldInfo(first, second, code);
    return result < 0 ? result : _nStep;
}

int32_t CRixVideoDataReader::Open(uint32_t flag)
{
    const int32_t result = CRixDataReader::Open(flag);
    if (_nVideoCodec == 2 || _nVideoCodec == 3 || _nVideoCodec == 4 || _nVideoCodec == 7)
        _nStep = 2;
    return result;
}

int32_t CRixVideoDataReader::FetchFieldData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!IsOpen() || !HasClient())
        return -1;
    if (!buffer || !*buffer || !sizeOut)
        return kNoBuffer;
    CRixMessage request = MakeRequest(CRixMessage::kVideoField, "Rix Video Reader", true);
    request._nField = static_cast<uint32_t>(_nPosition);
    request._nTcSystem = _nTcSystem;
    _csClip.Lock();
    const int32_t result = SendSynchronousMessage(&request);
    const auto reply = TakeReply();
    _csClip.Unlock();
    if (result != 0)
        return result;
    if (!reply || !reply->_videoData)
        return -2;
    const std::vector<uint8_t>& data = *reply->_videoData;
    *sizeOut = static_cast<uint32_t>(data.size());  // at most a message's length
    if (size < data.size())
        return kBufferTooSmall;
    std::memcpy(*buffer, data.data(), data.size());
    if (secondsOut)
        *secondsOut = SecondsAt(_nPosition);
    return 0;
}
