#pragma once

#include <cstdint>

#include "reading/mxf/CMXFEssenceReader.h"

// Reads MXF files whose essence is a run of KLV elements, each one compressed audio frame of 24 ms; every
// element is taken to be as long as the first. Always two channels.
class CMXFMPEGAudioESReader : public CMXFEssenceReader
{
public:
    static constexpr int32_t kBeyondEnd = 1;
    static constexpr int32_t kTooFewBytes = 4;
    static constexpr int32_t kKeyUnreadable = 103;
    static constexpr double kFrameSeconds = 0.024;

    explicit CMXFMPEGAudioESReader(const std::string& logName) : CMXFEssenceReader(65536, logName) {}

    int32_t GetAudioChannels(int32_t* channels, int32_t max) override;
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GoToFieldOffset(int64_t field) override;
    int32_t GoToTime(double* seconds) override;
    int32_t GoToDataStart() override;
    int32_t GoToDataEnd() override;
    int32_t Open(uint32_t flag) override;

    uint32_t GetElementSize() const { return _nElementSize; }

private:
    // The element at the cursor (elementSize bytes buffered) into the caller's buffer.
    int32_t TakeElement(uint64_t position, uint8_t* buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut,
                        int32_t unreadable, uint64_t* valueEnd);

    uint64_t _nEssenceStart = 0;
    uint32_t _nElementSize = 0;
};
