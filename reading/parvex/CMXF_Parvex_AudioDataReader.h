#pragma once

#include "reading/parvex/CParvexDataReader.h"

// Delivers the audio of a Parvex clip file one server block at a time: 24-bit samples of every channel,
// interleaved, in the byte order in which the blocks store them. Only each block's table or header area and its
// audio area are read. The block cursor is the reader's current block, so field and time seeks move it too.
class CMXF_Parvex_AudioDataReader : public CParvexDataReader
{
public:
    // The cursor lay outside the blocks and was put back in.
    static constexpr int32_t kRepositioned = 2;
    // The block's audio does not fit the block, or a field's sample count does not fit its chunk.
    static constexpr int32_t kDamagedBlock = 3;

    explicit CMXF_Parvex_AudioDataReader(const std::string& logName);

    int32_t GetAudioChannels(int32_t* channels, int32_t max) override;
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GoToDataStart() override;
    int32_t GoToDataEnd() override;
    int32_t Open(uint32_t flag) override;

    uint32_t GetChannelCount() const { return _nChannels; }
    uint32_t GetBytesPerChannelField() const { return _nBytesPerChannelField; }

private:
    // Delivers the block at the cursor.
    int32_t GetCurData(uint8_t* buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut);

    uint32_t _nChannels = 0;
    uint32_t _nBytesPerChannelField = 0;
    uint32_t _nAudioBytesPerField = 0;
    bool _bSwappedWords = false;
};
