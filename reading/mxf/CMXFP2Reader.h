#pragma once

#include <cstdint>
#include <vector>

#include "reading/mxf/CMXFEssenceReader.h"

// The readers of the one-track MXF files of P2 camera clips: the clip-wrapped essence value is read in
// fixed-size chunks, one frame of video or 32768 bytes of 16-bit mono sound at 48 kHz per call.
class CMXFP2ReaderBase : public CMXFEssenceReader
{
public:
    static constexpr int32_t kBeyondEnd = 1;

    explicit CMXFP2ReaderBase(const std::string& logName) : CMXFEssenceReader(32768, logName) {}

    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GoToDataStart() override;
    int32_t Open(uint32_t flag) override;

    virtual double PositionToTime(uint64_t position);

    uint64_t GetEssenceStart() const { return _nEssenceStart; }

protected:
    // The end of the essence value, and not beyond the footer.
    uint64_t Limit() const;

    uint64_t _nEssenceStart = 32768;
    uint64_t _nEssenceLength = 0;
    uint32_t _nChunk = 0;
    uint64_t _nPendingExtra = 0;
    bool _bPending = true;
};

class CMXFP2VideoReader : public CMXFP2ReaderBase
{
public:
    explicit CMXFP2VideoReader(const std::string& logName) : CMXFP2ReaderBase(logName) {}

    bool GetVideoInfo(VideoInfo* info) override;
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GoToTime(double* seconds) override;
    int32_t Open(uint32_t flag) override;
    int32_t OnPictureDescriptor(const uint8_t* value, uint64_t length) override;
    double PositionToTime(uint64_t position) override;

private:
    std::vector<uint8_t> _descriptor;
};

class CMXFP2AudioReader : public CMXFP2ReaderBase
{
public:
    explicit CMXFP2AudioReader(const std::string& logName) : CMXFP2ReaderBase(logName) {}

    int32_t GetAudioChannels(int32_t* channels, int32_t max) override;
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GoToTime(double* seconds) override;
    int32_t GetExtendedInfo(double fieldRate) override;
    int32_t Open(uint32_t flag) override;
    double PositionToTime(uint64_t position) override;

private:
    double _dDurationSeconds = 0.0;
};
