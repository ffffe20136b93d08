#include "reading/rix/CRixDVCProVideoDataReader.h"

#include "common/CLogManager.h"

CRixDVCProVideoDataReader::CRixDVCProVideoDataReader(const std::string& sourceName, int32_t fileType,
                                                     const std::string& logName)
    : CRixVideoDataReader(sourceName, fileType, logName),
      CKorvoDVCProHelper(kNone, 0),
      _pWork(platform::MakePageBuffer(kWorkBufferSize))
{
}

int32_t CRixDVCProVideoDataReader::Open(uint32_t flag)
{
    const int32_t result = CRixVideoDataReader::Open(flag);
    if (result != 0)
        return result;
    uint8_t* work = _pWork.get();
    uint32_t size = 0;
    double seconds = 0;
    if (!work || FetchFieldData(&work, kWorkBufferSize, &size, &seconds) != 0 ||
        !InitFromPackedFrame(work, size, static_cast<int32_t>(_nTcSystem), AspectCode())) {
        theLogManager.LogTo(LogName(), "*** CRixDVCProVideoDataReader::Open - first field of %u bytes refused", size);
        return kFirstFrameRefused;
    }
    return 0;
}

int32_t CRixDVCProVideoDataReader::Deliver(bool forward, uint8_t** buffer, uint32_t size, uint32_t* sizeOut,
                                           double* secondsOut)
{
    if (!IsOpen() || GetDifSize() == 0)
        return -1;
    if (!buffer || !*buffer || !sizeOut)
        return kNoBuffer;
    // Checked before the field is read, so that nothing is consumed.
    if (size < GetDifSize()) {
        *sizeOut = GetDifSize();
        return kBufferTooSmall;
    }
    uint8_t* work = _pWork.get();
    uint32_t packed = 0;
    const int32_t result = forward ? CRixVideoDataReader::GetNextData(&work, kWorkBufferSize, &packed, secondsOut)
                                   : CRixVideoDataReader::GetPrevData(&work, kWorkBufferSize, &packed, secondsOut);
    if (result != 0)
        return result;
    if (!UnpackFrame(work, packed, *buffer, sizeOut)) {
        theLogManager.LogTo(LogName(), "*** CRixDVCProVideoDataReader - packed field of %u bytes not converted",
                            packed);
        return kConversionFailed;
    }
    return 0;
}

int32_t CRixDVCProVideoDataReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    return Deliver(true, buffer, size, sizeOut, secondsOut);
}

int32_t CRixDVCProVideoDataReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    return Deliver(false, buffer, size, sizeOut, secondsOut);
}
