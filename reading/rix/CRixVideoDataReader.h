#pragma once

#include "reading/rix/CRixDataReader.h"

// The video of a server clip over the gigabit-Ethernet protocol, one field per read (two for the IMX and
// low-resolution codecs, whose fields come as frames).
class CRixVideoDataReader : public CRixDataReader
{
public:
    using CRixDataReader::CRixDataReader;

    bool GetVideoInfo(VideoInfo* info) override;
    int32_t GetCurrentFieldInfo(uint32_t* first, uint32_t* second, uint8_t* code) override;
    int32_t Open(uint32_t flag = 0) override;
    int32_t FetchFieldData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;

    // The description of the video that a clip's format word and codec give.
    static VideoInfo DescribeVideo(uint32_t format, int32_t codec);
};
