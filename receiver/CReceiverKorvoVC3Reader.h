#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "receiver/CReceiverKorvoIMXReader.h"

// Reads VC-3 (DNxHD) pictures, kept by the servers as two units of one field each or as one unit for both fields
// of the frame, and hands each picture out whole at the size its compression id gives; audio by field, with one
// carried count per track.
class CReceiverKorvoVC3Reader : public CReceiverKorvoIMXReader
{
public:
    // Frame size, unit size and units per frame of a compression id.
    struct Compression {
        uint32_t nFrameSize;
        uint32_t nUnitSize;
        uint32_t nUnits;
        char cLetter;
    };
    static Compression CompressionOf(uint32_t compressionId);

    CReceiverKorvoVC3Reader(const std::string& sourceKind, uint32_t blockSize, bool highFrameRate, int32_t instance,
                            uint32_t firstServerField);
    CReceiverKorvoVC3Reader(std::unique_ptr<CKorvoBlockReader> blockReader, bool highFrameRate, int32_t instance);

    int Open(const std::string& source, int32_t videoSystem, int32_t rate, int32_t audioTracks,
             int32_t audioBits) override;
    void SetStartFrame(int32_t frames) override;
    void SetFirstField(uint32_t serverField) override;
    // Reads the next block; the first read after Open starts on a field of even parity.
    virtual int ReadNextBlock();

protected:
    void SetTiming() override;
    int BuildFrameSet() override;

private:
    // Puts one unit into the video frame at its slot; a set-building result.
    int AddUnit(uint32_t unitNumber, const uint8_t* unit, int32_t size);
    void AppendFieldAudio();
    // Below 50 frames/s a picture starts on a field of even parity.
    void AlignToFrameStart();

    uint32_t _nFrameSize = 0;  // 0 until the first unit tells the compression
    uint32_t _nUnitSize = 0;
    uint32_t _nUnitsPerFrame = 2;
    bool _bFirstRead = true;
};
