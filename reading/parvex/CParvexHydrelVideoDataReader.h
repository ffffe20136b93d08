#pragma once

#include "reading/parvex/CHydrelFramePadder.h"
#include "reading/parvex/CParvexVideoDataReader.h"

// Delivers the Hydrel pictures of a Parvex clip file as whole frames (one or two stored fields) padded to the
// frame size of their compression id.
class CParvexHydrelVideoDataReader : public CParvexVideoDataReader, public CHydrelFramePadder
{
public:
    CParvexHydrelVideoDataReader(const std::string& logName, bool raw, bool allChannels);

    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;

private:
    int32_t GetFrame(bool forwards, uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut);
    // Steps back over what a refused frame took.
    void Undo(bool forwards, int taken);
};
