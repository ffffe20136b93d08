#pragma once

#include "reading/parvex/CParvexVideoDataReader.h"
#include "serverblock/CKorvoDVCProHelper.h"

// Delivers the DVCPRO pictures of a Parvex clip file, stored packed by the servers, as standard DIF frames.
class CParvexDVCProVideoDataReader : public CParvexVideoDataReader, public CKorvoDVCProHelper
{
public:
    static constexpr int32_t kNoFirstPicture = -12;
    static constexpr int32_t kBadFirstPicture = -13;
    static constexpr int32_t kUnknownLayout = 45;
    static constexpr int32_t kUnpackFailed = 123;

    CParvexDVCProVideoDataReader(const std::string& logName, bool raw, bool allChannels);

    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t Open(uint32_t flag) override;

private:
    int32_t GetFrame(bool forwards, uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut);
};
