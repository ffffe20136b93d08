#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reading/formats/CQTDataReader.h"

// MPEG-4 part 2 video of an MPEG-4 file: each unit is a sync sample and the samples up to the next one, the
// decoder's configuration in front of the first unit after positioning.
class CQTMpeg4VideoDataReader : public CQTDataReader
{
public:
    explicit CQTMpeg4VideoDataReader(const std::string& logName) : CQTDataReader(Video_Data, logName) {}

    bool GetVideoInfo(VideoInfo* info) override;
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t Open(uint32_t flag) override;
    uint32_t WriteStreamHeader(uint8_t* buffer) override;
    // 6 when the video description holds no usable "mp4v" entry.
    int32_t OnSampleDescription(const uint8_t* atom, uint64_t size) override;

private:
    std::vector<uint8_t> _config;  // the decoder-specific information
};

// AAC sound of an MPEG-4 file, one access unit per call, an ADIF header in front of the first one after
// positioning.
class CQTMpeg4AudioDataReader : public CQTDataReader
{
public:
    static constexpr uint32_t kAdifSize = 17;

    explicit CQTMpeg4AudioDataReader(const std::string& logName) : CQTDataReader(Audio_Data, logName) {}

    int32_t Open(uint32_t flag) override;
    uint32_t WriteStreamHeader(uint8_t* buffer) override;
    // 6 when the sound description holds no usable "mp4a" entry.
    int32_t OnSampleDescription(const uint8_t* atom, uint64_t size) override;

    uint32_t GetMaxBitRate() const { return _nMaxBitRate; }

private:
    uint32_t _nMaxBitRate = 0;
    uint8_t _adif[kAdifSize] = {};
};
