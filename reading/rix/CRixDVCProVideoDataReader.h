#pragma once

#include "media/DvcproFrames.h"
#include "platform/PageBuffer.h"
#include "reading/rix/CRixVideoDataReader.h"
#include "serverblock/CKorvoDVCProHelper.h"

// The DVCPRO video of a server clip over the gigabit-Ethernet protocol: each packed field the server sends is
// turned back into a whole DIF frame.
class CRixDVCProVideoDataReader : public CRixVideoDataReader, public CKorvoDVCProHelper
{
public:
    static constexpr uint32_t kWorkBufferSize = dvcpro::kLargestFrameSize;
    static constexpr int32_t kFirstFrameRefused = 200;
    static constexpr int32_t kConversionFailed = 201;

    CRixDVCProVideoDataReader(const std::string& sourceName, int32_t fileType, const std::string& logName = "");

    // The video reader's Open, then the layout from the first field: 200 when it is not a packed DVCPRO frame.
    int32_t Open(uint32_t flag = 0) override;
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;

private:
    int32_t Deliver(bool forward, uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut);

    platform::PageBuffer _pWork;
};
