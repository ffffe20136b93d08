#include "reading/parvex/CParvexDVCProVideoDataReader.h"

#include <cstring>

CParvexDVCProVideoDataReader::CParvexDVCProVideoDataReader(const std::string& logName, bool raw, bool allChannels)
    : CParvexVideoDataReader(logName, raw, allChannels), CKorvoDVCProHelper(kNone, 0)
{
}

int32_t CParvexDVCProVideoDataReader::Open(uint32_t flag)
{
    if (const int32_t rc = CParvexVideoDataReader::Open(flag); rc != 0)
        return rc;
    const uint8_t* picture = nullptr;
    uint32_t size = 0;
    picture = _pBlockData->GetFieldData(_nCursor, &size);
    if (!picture)
        return kNoFirstPicture;
    if (!StripMetadataChunks(&picture, &size))
        return kBadFirstPicture;
    // The packed size alone does not tell a 50 Hz from a 60 Hz frame of every kind: the clip's rate system does.
    int32_t system = kNone;
    switch (_pClipInfo->_nSystem) {
        case 3:
        case 4:
        case 5:
        case 6:
            system = static_cast<int32_t>(_pClipInfo->_nSystem);
            break;
        case 7:
        case 8:
            system = 7;
            break;
        default:
            break;
    }
    const uint32_t aspect = AspectCode();
    if (!InitFromPackedFrame(picture, size, system, aspect == 2 || aspect == 3 ? static_cast<int32_t>(aspect) : kNone))
        return kUnknownLayout;
    return 0;
}

int32_t CParvexDVCProVideoDataReader::GetFrame(bool forwards, uint8_t** buffer, uint32_t size, uint32_t* sizeOut,
                                               double* secondsOut)
{
    if (!_bOpen)
        return kNotSupported;
    if (!buffer)
        return kNoBuffer;
    const uint32_t difSize = GetDifSize();
    if (sizeOut)
        *sizeOut = difSize;
    if (*buffer && size < difSize)
        return kBufferTooSmall;
    uint8_t* packed = nullptr;
    uint32_t packedSize = 0;
    const int32_t rc = forwards ? CParvexVideoDataReader::GetNextData(&packed, 0, &packedSize, secondsOut)
                                : CParvexVideoDataReader::GetPrevData(&packed, 0, &packedSize, secondsOut);
    if (rc != 0)
        return rc;
    if (sizeOut)
        *sizeOut = difSize;
    if (!ConvertToDVCPro(packed, packedSize))
        return kUnpackFailed;
    uint32_t frameSize = 0;
    const uint8_t* frame = GetDVCProFrame(&frameSize);
    if (!frame || frameSize != difSize)
        return kUnpackFailed;
    if (*buffer)
        std::memcpy(*buffer, frame, difSize);
    else
        *buffer = const_cast<uint8_t*>(frame);
    return kDataOk;
}

int32_t CParvexDVCProVideoDataReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut,
                                                  double* secondsOut)
{
    return GetFrame(true, buffer, size, sizeOut, secondsOut);
}

int32_t CParvexDVCProVideoDataReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut,
                                                  double* secondsOut)
{
    return GetFrame(false, buffer, size, sizeOut, secondsOut);
}
