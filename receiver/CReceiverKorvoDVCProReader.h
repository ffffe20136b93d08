#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "receiver/CReceiverKorvoIMXReader.h"
#include "serverblock/CKorvoDVCProHelper.h"

// Reads DVCPRO pictures as the servers keep them (only the video DIF blocks, packed) and hands each out as a
// standard DIF frame; audio as the IMX reader, with the field count and cadence of the video system.
class CReceiverKorvoDVCProReader : public CReceiverKorvoIMXReader, public CKorvoDVCProHelper
{
public:
    CReceiverKorvoDVCProReader(const std::string& sourceKind, uint32_t blockSize, bool highFrameRate, int32_t instance,
                               uint32_t firstServerField);
    CReceiverKorvoDVCProReader(std::unique_ptr<CKorvoBlockReader> blockReader, bool highFrameRate, int32_t instance);

    int Open(const std::string& source, int32_t videoSystem, int32_t rate, int32_t audioTracks,
             int32_t audioBits) override;

protected:
    void SetTiming() override;
    int MakeVideoFrame(const uint8_t* video, int32_t size) override;

private:
    bool _bFrameInit = false;
    bool _bWholeDif = false;  // the server keeps these pictures as whole DIF frames (DVCPRO 25)
};
