#pragma once

#include "reading/parvex/CHydrelFramePadder.h"
#include "reading/rix/CRixVideoDataReader.h"

// Delivers the Hydrel pictures of a server clip as whole frames (one or two fields) padded to the frame size
// of their compression id.
class CRixHydrelVideoDataReader : public CRixVideoDataReader, public CHydrelFramePadder
{
public:
    static constexpr int32_t kNoPicture = -2;

    using CRixVideoDataReader::CRixVideoDataReader;

    // A caller buffer that cannot hold the padded frame gives 101 with the size needed and consumes nothing;
    // without a buffer the frame is delivered in the reader's own, valid until the next call.
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;

private:
    int32_t GetFrame(bool forwards, uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut);
};
