#pragma once

#include "reading/rix/CRixDataReader.h"

// The audio of a server clip over the gigabit-Ethernet protocol: per field, every channel's samples one
// channel after the other, each sample a 32-bit big-endian word holding the 24-bit value.
class CRixAudioDataReader : public CRixDataReader
{
public:
    using CRixDataReader::CRixDataReader;

    // The channel count; up to max entries get 1.
    int32_t GetAudioChannels(int32_t* channels, int32_t max) override;
    // 48000 samples per second, 4 bytes per sample.
    int32_t GetCurrentFieldInfo(uint32_t* first, uint32_t* second, uint8_t* code) override;
    int32_t FetchFieldData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
};
