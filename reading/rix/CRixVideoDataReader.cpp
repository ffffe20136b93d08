#include "reading/rix/CRixVideoDataReader.h"

#include <cstring>

VideoInfo CRixVideoDataReader::DescribeVideo(uint32_t format, int32_t codec)
{
    VideoInfo info;
    const uint32_t standard = format >> 28;
    info.bProgressive = (format >> 22 & 1) != 0;
    info.nAspect = standard <= 1 ? static_cast<uint8_t>(format >> 16 & 0x3F) : 3;
    const VideoRaster raster = ServerVideoRaster(format, codec);
    info.nStandard = raster.nStandard;
    info.nWidth = raster.nWidth;
    info.nHeight = raster.nHeight;
    info.nVideoType = ReaderCodecToVideoType(codec);
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
